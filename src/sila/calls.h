#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <grpcpp/grpcpp.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace valve::sila {

// How many clients (connections with a call open) the server serves at once,
// and how many streams (subscriptions, execution infos, intermediate
// responses) each may hold open.
inline constexpr std::size_t kMaxClients = 64;
inline constexpr std::size_t kMaxSubscriptionsPerClient = 32;

// Something gRPC holds open that the server must end when it stops: a call
// that waits for the logic thread, or a stream.
class OpenCall {
public:
    virtual ~OpenCall() = default;
    // Ends the call with `status` unless it has ended; any thread.
    virtual void end(const grpc::Status& status) = 0;
    [[nodiscard]] virtual bool ended() const = 0;

    // Called once the call has ended, from the thread that ended it.
    void setOnEnded(std::function<void()> ended) { on_ended_ = std::move(ended); }

protected:
    void notifyEnded() const {
        if (on_ended_) {
            on_ended_();
        }
    }

private:
    std::function<void()> on_ended_;
};

// The one door from gRPC's threads to the logic thread. A handler posts its
// work here; the work runs on the thread of `logic`, where everything of ours
// lives. Calls and streams still open when the gate closes are ended, so that
// gRPC's shutdown never waits for work that will not run.
class CallGate {
public:
    explicit CallGate(QObject* logic) : logic_(logic) {}

    // From any thread: runs `work` on the logic thread; false, with nothing
    // posted, once the gate has closed.
    bool post(std::function<void()> work);
    enum class Held { Yes, Closed, TooManyClients, TooManySubscriptions };
    // Keeps `call` of `peer` to be ended on close(), within the bounds on
    // clients and on each one's streams; the caller ends a call not held.
    Held hold(const std::shared_ptr<OpenCall>& call, const std::string& peer, bool stream);
    // The clients with a call open now.
    [[nodiscard]] std::size_t clients() const;
    // Called, from any thread, when a call may have come or gone.
    void setOnChange(std::function<void()> changed) { changed_ = std::move(changed); }
    // Ends every call it holds with UNAVAILABLE, and refuses new work.
    void close();
    [[nodiscard]] bool closed() const;
    // Admits `call` of `peer` and posts `work` for it; a call refused, or
    // not posted because the gate has closed, is ended.
    void handOver(const std::shared_ptr<OpenCall>& call, const std::string& peer, bool stream,
                  std::function<void()> work);
    // hold(), with the refusal as the status to end the call with.
    std::optional<grpc::Status> admit(const std::shared_ptr<OpenCall>& call, const std::string& peer,
                                      bool stream);

private:
    QPointer<QObject> logic_;
    mutable std::mutex mutex_;
    bool closed_ = false;
    struct Entry {
        std::weak_ptr<OpenCall> call;
        std::string peer;
        bool stream = false;
    };
    void prune();
    std::vector<Entry> held_;
    std::function<void()> changed_;
};

} // namespace valve::sila
