#include "custom_config_cell_editor.h"

#include <QKeyEvent>

namespace valve::ui {

void CellEditor::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        event->accept();
        emit escapePressed();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        emit enterPressed();
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

} // namespace valve::ui
