#pragma once

#include <QString>
#include <qcoro/qcorotask.h>

namespace valve::protocol {

inline const QString kApplicationTitle = QStringLiteral("Orlix");

enum class BoxButtons { Ok, OkCancel };
// Answers of a message box: 1 for OK, 2 for Cancel (closing the box is Cancel).
enum class BoxAnswer { Ok = 1, Cancel = 2 };

// Plain message boxes: no icon, the application title unless another caption
// is given. The window shows them without a nested event loop; tests answer.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual QCoro::Task<BoxAnswer> message_box(QString text, BoxButtons buttons = BoxButtons::Ok,
                                               QString caption = kApplicationTitle) = 0;
};

} // namespace valve::protocol
