#pragma once

#include <QString>
#include <qcoro/qcorotask.h>

namespace valve::protocol {

inline const QString kApplicationTitle = QStringLiteral("Orlix");

// ResumeShowDismiss offers a run cut short again; SkipRunNow asks what
// becomes of its missed steps, Skip being the default.
enum class BoxButtons { Ok, OkCancel, ResumeShowDismiss, SkipRunNow };
// Answers of a message box: 1 for OK, 2 for Cancel (closing the box is
// Cancel); the others for the buttons of the same names. Closing a
// ResumeShowDismiss box is Cancel (asked again at the next start), closing a
// SkipRunNow box is Skip.
enum class BoxAnswer { Ok = 1, Cancel = 2, Resume = 3, Show = 4, Dismiss = 5, Skip = 6, RunNow = 7 };

// Plain message boxes: no icon, the application title unless another caption
// is given. The window shows them without a nested event loop; tests answer.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual QCoro::Task<BoxAnswer> message_box(QString text, BoxButtons buttons = BoxButtons::Ok,
                                               QString caption = kApplicationTitle) = 0;
};

} // namespace valve::protocol
