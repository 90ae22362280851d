#pragma once

#include "async_call.h"

#include <grpcpp/generic/async_generic_service.h>
#include <grpcpp/server_builder.h>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace valve::sila {

class Methods;

// The server's one completion queue and the one thread that waits on it. The
// thread sleeps in Next() while nothing happens (no polling deadline), and
// only carries: it reads each request and hands it to its method, and starts
// a stream's next write when the last has gone out. Every other operation is
// started by whoever answers, through start().
class CallQueue : public std::enable_shared_from_this<CallQueue> {
public:
    explicit CallQueue(const Methods& methods) : methods_(methods) {}
    ~CallQueue();
    CallQueue(const CallQueue&) = delete;
    CallQueue& operator=(const CallQueue&) = delete;

    // Before the server is built: serves every method through the queue.
    void attach(grpc::ServerBuilder& builder);
    // Once it is built: waits for calls.
    void run();
    // Once the server has shut down: no operation starts after this, the
    // queue is drained and every call lets go of gRPC's objects.
    void shutdown();

    // Runs `begin`, which starts an operation, unless the queue has shut down.
    template <class Begin> bool start(Begin begin) {
        std::lock_guard lock(mutex_);
        if (!open_) {
            return false;
        }
        begin();
        return true;
    }

    // Queue thread: `call` has come; the next one is waited for.
    void matched(const std::shared_ptr<AsyncCall>& call);
    // Queue thread: a call that never came (the server shutting down); its
    // tags stay valid until the queue is drained.
    void unmatched(std::shared_ptr<AsyncCall> call) { unmatched_.push_back(std::move(call)); }
    // Queue thread: the request of `call` has been read.
    void dispatch(const std::shared_ptr<AsyncCall>& call, const std::string& method,
                  grpc::ByteBuffer& request) const;

private:
    void accept();
    void carry();

    const Methods& methods_;
    grpc::AsyncGenericService service_;
    std::unique_ptr<grpc::ServerCompletionQueue> queue_;
    std::thread carrier_;
    std::mutex mutex_;
    bool open_ = false;
    // Queue thread until it has ended: every call made, to let go of at the end.
    std::vector<std::weak_ptr<AsyncCall>> calls_;
    std::size_t pruneAt_ = 64;
    std::vector<std::shared_ptr<AsyncCall>> unmatched_;
};

} // namespace valve::sila
