#pragma once

#include "protocol/text_field.h"

#include <QLineEdit>
#include <QPointer>

namespace valve::ui {

// Text1, the in-cell editor of the memory grid: Escape and Enter are taken
// out of the typing and reported; every other key types as usual.
class CellEditor : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;

signals:
    void escapePressed();
    void enterPressed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// A text box as the command logic sees it. Once the box is gone the field
// reads empty and ignores writes.
class LineEditField : public protocol::TextField {
public:
    explicit LineEditField(QLineEdit* box) : box_(box) {}
    [[nodiscard]] QString text() const override { return box_ ? box_->text() : QString(); }
    void setText(const QString& text) override {
        if (box_) {
            box_->setText(text);
        }
    }

private:
    QPointer<QLineEdit> box_;
};

} // namespace valve::ui
