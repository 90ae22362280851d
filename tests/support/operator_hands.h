#pragma once

#include "ui/custom_config_window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTableWidget>

namespace valve::testing {

// What an operator does with keyboard and mouse, sent straight to the widget
// as the window system would.
inline void pressKey(QWidget* widget, int key, const QString& text = {}) {
    for (const auto type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent event(type, key, Qt::NoModifier, text);
        QApplication::sendEvent(widget, &event);
    }
}

inline void typeKeys(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        pressKey(widget, c.toUpper().unicode(), QString(c));
    }
}

inline void clickCell(QTableWidget* grid, int row, int column) {
    QWidget* viewport = grid->viewport();
    const QPoint at = grid->visualItemRect(grid->item(row, column)).center();
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, QPointF(at), QPointF(viewport->mapToGlobal(at)), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    }
}

// The Custom Configuration windows on the screen.
inline QList<ui::CustomConfigWindow*> openForms() {
    QList<ui::CustomConfigWindow*> forms;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* form = qobject_cast<ui::CustomConfigWindow*>(widget); form && form->isVisible()) {
            forms << form;
        }
    }
    return forms;
}

} // namespace valve::testing
