#include "control_factory.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace valve::ui {

QPushButton* makeButton(QWidget* parent, const QString& name, const QString& caption, const QRect& place) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(place);
    button->setAutoDefault(false);
    fitCaption(button);
    return button;
}

void fitCaption(QPushButton* button) {
    // The places are fixed; a caption wider than its button gets a smaller
    // type rather than losing its ends.
    constexpr int kFrameAndPadding = 12;
    constexpr qreal kSmallestPoint = 6.0;
    QFont font = button->font();
    while (QFontMetrics(font).horizontalAdvance(button->text()) + kFrameAndPadding > button->width() &&
           font.pointSizeF() > kSmallestPoint) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
    }
    button->setFont(font);
}

QLineEdit* makeTextBox(QWidget* parent, const QString& name, const QString& shows, const QRect& place,
                       Editing editing) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setAccessibleName(shows);
    box->setGeometry(place);
    // Read-only boxes still take the focus, so that their text can be read
    // out and copied from the keyboard.
    box->setReadOnly(editing == Editing::ReadOnly);
    return box;
}

QGroupBox* makeFrame(QWidget* parent, const QString& name, const QString& caption, const QRect& place) {
    auto* frame = new QGroupBox(caption, parent);
    frame->setObjectName(name);
    frame->setGeometry(place);
    return frame;
}

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& caption, const QRect& place,
                  Qt::Alignment alignment) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setGeometry(place);
    label->setAlignment(alignment);
    return label;
}

QComboBox* makeDropDown(QWidget* parent, const QString& name, const QString& prompt, const QString& shows,
                        const QList<CodedEntry>& entries, const QRect& place) {
    auto* list = new QComboBox(parent);
    list->setObjectName(name);
    list->setAccessibleName(shows);
    list->setGeometry(place);
    for (const auto& [text, code] : entries) {
        list->addItem(text, code);
    }
    list->setPlaceholderText(prompt);
    list->setCurrentIndex(-1);
    return list;
}

QFrame* makeLine(QWidget* parent, const QString& name, const QRect& place) {
    auto* line = new QFrame(parent);
    line->setObjectName(name);
    line->setFrameShape(place.height() > place.width() ? QFrame::VLine : QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(place);
    return line;
}

} // namespace valve::ui
