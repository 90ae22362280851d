#pragma once

#include <QString>
#include <optional>
#include <qcoro/qcorotask.h>

namespace valve::sequencer {
class JournalFolder;
}

namespace valve::record {
class EventLog;
}

namespace valve::protocol {
class MessageBoxes;
}

namespace valve::ui {

class PanelRemote;

// What the panel does at its start with a run of its adapter that was cut
// short: asks the operator, resumes it skipping or running the missed steps,
// or leaves it alone.
enum class ResumeRuns { Ask, Skip, RunMissed, Never };
// "ask", "skip", "run-missed" or "never"; none for anything else.
std::optional<ResumeRuns> resumeRunsFrom(const QString& word);

struct ResumeOfferParts {
    sequencer::JournalFolder& journals;
    record::EventLog& log;
    protocol::MessageBoxes& boxes;
    PanelRemote& remote;
    QString adapterDescription;
    QString adapterSerial;
};

// Looks for the newest run of this adapter cut short and does with it what
// `mode` says.
QCoro::Task<> offerResume(ResumeOfferParts parts, ResumeRuns mode);

} // namespace valve::ui
