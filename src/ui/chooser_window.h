#pragma once

#include "link/device_chooser.h"

#include <QDialog>

class QComboBox;
class QPushButton;

namespace valve::ui {

// FormChoosePort: lists the free adapters and hands back the one selected
// when the window closes, by OK or by its close button alike. There is no
// Cancel. Shown modal to the application, awaited without blocking.
class ChooserWindow : public QDialog, public link::DeviceChooser {
    Q_OBJECT
public:
    explicit ChooserWindow(QWidget* parent = nullptr);

    QCoro::Task<QByteArray> choose(QList<QByteArray> descriptions) override;

    [[nodiscard]] QComboBox* comboPort() const { return ComboPort_; }
    [[nodiscard]] QPushButton* commandOk() const { return CommandOk_; }

private:
    void fill(const QList<QByteArray>& descriptions);

    QComboBox* ComboPort_;
    QPushButton* CommandOk_;
};

} // namespace valve::ui
