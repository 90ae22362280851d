#include "executions.h"

#include "errors.h"

#include <QUuid>
#include <algorithm>

namespace valve::sila {

namespace {

bool finished(Status status) {
    return status == ExecutionInfo::finishedSuccessfully || status == ExecutionInfo::finishedWithError;
}

} // namespace

std::variant<QString, grpc::Status>
Executions::confirm(std::chrono::seconds expected,
                    sila2::org::silastandard::CommandConfirmation& confirmation) {
    const auto uuid = begin(expected);
    if (!uuid) {
        return frameworkError(FrameworkErrorType::ExecutionNotAccepted,
                              QStringLiteral("Too many command executions are kept; try again later."));
    }
    confirmation.mutable_commandexecutionuuid()->set_value(uuid->toStdString());
    *confirmation.mutable_lifetimeofexecution() = lifetime(expected);
    return *uuid;
}

sila2::org::silastandard::Duration Executions::lifetime(std::chrono::seconds expected) {
    sila2::org::silastandard::Duration duration;
    duration.set_seconds((expected + kResultLifetime).count());
    return duration;
}

std::optional<QString> Executions::begin(std::chrono::seconds expected) {
    prune();
    if (runs_.size() >= kMaxKeptExecutions) {
        return std::nullopt;
    }
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    Run& run = runs_[uuid];
    run.expires = Clock::now() + expected + kResultLifetime;
    run.order = next_++;
    return uuid;
}

// Expired finished runs go; past the bound, the oldest finished run too.
void Executions::prune() {
    const auto now = Clock::now();
    std::erase_if(
        runs_, [now](const auto& each) { return finished(each.second.status) && each.second.expires < now; });
    while (runs_.size() >= kMaxKeptExecutions) {
        auto oldest = runs_.end();
        for (auto each = runs_.begin(); each != runs_.end(); ++each) {
            if (finished(each->second.status) &&
                (oldest == runs_.end() || each->second.order < oldest->second.order)) {
                oldest = each;
            }
        }
        if (oldest == runs_.end()) {
            return;
        }
        runs_.erase(oldest);
    }
}

Executions::Run* Executions::find(const QString& uuid) {
    prune();
    const auto found = runs_.find(uuid);
    return found == runs_.end() ? nullptr : &found->second;
}

ExecutionInfo Executions::info(const Run& run) {
    ExecutionInfo info;
    info.set_commandstatus(run.status);
    info.mutable_progressinfo()->set_value(run.progress);
    // No updated lifetime: the run is kept at least as long as its
    // confirmation said, and clients take any new figure for a shortening.
    return info;
}

void Executions::tell(Run& run) {
    const ExecutionInfo now = info(run);
    sendToAll(run.infos, now);
}

void Executions::progress(const QString& uuid, double fraction) {
    if (Run* run = find(uuid)) {
        run->progress = std::clamp(fraction, 0.0, 1.0);
        tell(*run);
    }
}

void Executions::intermediate(const QString& uuid, const google::protobuf::Message& response) {
    Run* run = find(uuid);
    if (run == nullptr) {
        return;
    }
    run->latest.reset(response.New());
    run->latest->CopyFrom(response);
    std::erase_if(run->intermediates, [&response](const auto& each) { return !each.first(response); });
}

void Executions::finish(Run& run) {
    run.progress = 1.0;
    // A lifetime is only ever lengthened.
    run.expires = std::max(run.expires, Clock::now() + kResultLifetime);
    tell(run);
    for (const auto& stream : std::exchange(run.infos, {})) {
        stream->end(grpc::Status::OK);
    }
    for (const auto& each : std::exchange(run.intermediates, {})) {
        each.second();
    }
}

void Executions::succeed(const QString& uuid, const google::protobuf::Message& result) {
    if (Run* run = find(uuid)) {
        run->status = ExecutionInfo::finishedSuccessfully;
        run->result.reset(result.New());
        run->result->CopyFrom(result);
        finish(*run);
    }
}

void Executions::fail(const QString& uuid, const grpc::Status& error) {
    if (Run* run = find(uuid)) {
        run->status = ExecutionInfo::finishedWithError;
        run->error = error;
        finish(*run);
    }
}

bool Executions::watchInfo(const QString& uuid, const std::shared_ptr<Stream<ExecutionInfo>>& stream) {
    Run* run = find(uuid);
    if (run == nullptr) {
        return false;
    }
    stream->send(info(*run));
    if (finished(run->status)) {
        stream->end(grpc::Status::OK);
    } else {
        run->infos.push_back(stream);
    }
    return true;
}

// A late subscriber is handed the latest intermediate response first, so a
// step that came before it subscribed is not lost.
bool Executions::watchIntermediate(const QString& uuid, Sink sink, const std::function<void()>& end) {
    Run* run = find(uuid);
    if (run == nullptr) {
        return false;
    }
    if (run->latest) {
        sink(*run->latest);
    }
    if (finished(run->status)) {
        end();
    } else {
        run->intermediates.emplace_back(std::move(sink), end);
    }
    return true;
}

grpc::Status Executions::result(const QString& uuid, google::protobuf::Message& out) {
    Run* run = find(uuid);
    if (run == nullptr) {
        return frameworkError(FrameworkErrorType::InvalidExecutionUuid,
                              QStringLiteral("No kept command execution has the UUID %1.").arg(uuid));
    }
    if (!finished(run->status)) {
        return frameworkError(FrameworkErrorType::ExecutionNotFinished,
                              QStringLiteral("The command execution %1 has not finished yet.").arg(uuid));
    }
    if (run->status == ExecutionInfo::finishedWithError) {
        return run->error;
    }
    out.CopyFrom(*run->result);
    return grpc::Status::OK;
}

} // namespace valve::sila
