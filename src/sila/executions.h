#pragma once

#include "SiLAFramework.pb.h"
#include "streams.h"

#include <QString>
#include <chrono>
#include <functional>
#include <google/protobuf/message.h>
#include <map>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace valve::sila {

// How many runs of observable commands are kept, running or with their
// result, and how long a finished one's result is kept.
inline constexpr std::size_t kMaxKeptExecutions = 200;
inline constexpr std::chrono::seconds kResultLifetime{3600};

using ExecutionInfo = sila2::org::silastandard::ExecutionInfo;
using Status = ExecutionInfo::CommandStatus;

// The runs of observable commands, on the logic thread: each one's state and
// progress for _Info, its intermediate responses for _Intermediate and its
// result or error for _Result. A finished run is kept for its lifetime; when
// the bound is reached the oldest finished run goes first, and a new run is
// refused only when every kept one is still running.
class Executions {
public:
    using Clock = std::chrono::steady_clock;
    // Sends an intermediate response on its stream; false once the stream has ended.
    using Sink = std::function<bool(const google::protobuf::Message&)>;

    // A new run, expected to take about `expected`: its UUID, or nothing
    // when no more can be kept.
    std::optional<QString> begin(std::chrono::seconds expected);
    // The lifetime a new run's confirmation announces.
    static sila2::org::silastandard::Duration lifetime(std::chrono::seconds expected);
    // begin(), with the run's confirmation (its UUID and lifetime) put in
    // `confirmation`, or the refusal to answer with when no more can be kept.
    std::variant<QString, grpc::Status> confirm(std::chrono::seconds expected,
                                                sila2::org::silastandard::CommandConfirmation& confirmation);

    void progress(const QString& uuid, double fraction);
    void intermediate(const QString& uuid, const google::protobuf::Message& response);
    void succeed(const QString& uuid, const google::protobuf::Message& result);
    void fail(const QString& uuid, const grpc::Status& error);

    // _Info, _Intermediate and _Result: false (or the framework's error) for
    // a UUID that names no kept run.
    bool watchInfo(const QString& uuid, const std::shared_ptr<Stream<ExecutionInfo>>& stream);
    bool watchIntermediate(const QString& uuid, Sink sink, const std::function<void()>& end);
    grpc::Status result(const QString& uuid, google::protobuf::Message& out);

    [[nodiscard]] std::size_t kept() const { return runs_.size(); }

private:
    struct Run {
        Status status = ExecutionInfo::running;
        double progress = 0.0;
        Clock::time_point expires;
        std::unique_ptr<google::protobuf::Message> result;
        grpc::Status error;
        std::unique_ptr<google::protobuf::Message> latest; // intermediate response
        std::vector<std::shared_ptr<Stream<ExecutionInfo>>> infos;
        std::vector<std::pair<Sink, std::function<void()>>> intermediates;
        std::uint64_t order = 0;
    };
    Run* find(const QString& uuid);
    void prune();
    [[nodiscard]] static ExecutionInfo info(const Run& run);
    void tell(Run& run);
    void finish(Run& run);

    std::map<QString, Run> runs_;
    std::uint64_t next_ = 0;
};

} // namespace valve::sila
