#include "chooser_window.h"

#include "artwork.h"
#include "dialog_wait.h"
#include "twips.h"

#include <QComboBox>
#include <QPointer>
#include <QPushButton>

namespace valve::ui {

ChooserWindow::ChooserWindow(QWidget* parent)
    : QDialog(parent), ComboPort_(new QComboBox(this)),
      CommandOk_(new QPushButton(QStringLiteral("OK"), this)) {
    setObjectName(QStringLiteral("FormChoosePort"));
    setWindowTitle(QStringLiteral("Choose USB Serial Port"));
    setWindowIcon(valveIcon());
    setFixedSize(px(3195), px(1650));
    setWindowModality(Qt::ApplicationModal);

    ComboPort_->setObjectName(QStringLiteral("ComboPort"));
    ComboPort_->setAccessibleName(tr("USB serial port"));
    ComboPort_->setGeometry(twipRect(120, 600, 2895, 330));

    CommandOk_->setObjectName(QStringLiteral("CommandOk"));
    CommandOk_->setGeometry(twipRect(960, 1080, 1215, 495));
    CommandOk_->setDefault(true);
    // OK and the close button (and Escape) all end with the entry selected then.
    connect(CommandOk_, &QPushButton::clicked, this, &QDialog::accept);

    setTabOrder(ComboPort_, CommandOk_);
}

void ChooserWindow::fill(const QList<QByteArray>& descriptions) {
    ComboPort_->clear();
    for (const QByteArray& description : descriptions) {
        // The description itself goes with the entry: it is what opens the adapter.
        ComboPort_->addItem(QString::fromLocal8Bit(description), description);
    }
    if (ComboPort_->count() > 0) {
        ComboPort_->setCurrentIndex(0);
    }
}

QCoro::Task<QByteArray> ChooserWindow::choose(QList<QByteArray> descriptions) {
    fill(descriptions);
    ComboPort_->setFocus();
    show();
    raise();
    activateWindow();
    QPointer<ChooserWindow> self = this;
    co_await untilFinished(this);
    if (!self || ComboPort_->currentIndex() < 0) {
        co_return QByteArray{};
    }
    co_return ComboPort_->currentData().toByteArray();
}

} // namespace valve::ui
