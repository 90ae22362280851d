#pragma once

#include "calls.h"

#include <array>
#include <cstddef>
#include <deque>
#include <grpcpp/generic/async_generic_service.h>
#include <memory>
#include <mutex>
#include <string>

namespace valve::sila {

// Messages a subscriber has not read yet. A client that falls this far behind
// has stopped reading: its stream is dropped, so it holds a bounded amount of
// memory and the others are not held up.
inline constexpr std::size_t kStreamBacklog = 64;

class CallQueue;

// What the completion queue hands back when an operation has ended.
class QueueTag {
public:
    virtual void completed(bool ok) = 0;

protected:
    ~QueueTag() = default;
};

// One call on the server's completion queue, as bytes: its request is read
// once, then it is answered once (a unary call) or written to until it ends
// (a server stream). gRPC allows one write at a time: further messages wait in
// a bounded backlog and go out as each write ends. Every operation in flight
// holds the call, so it lives until gRPC is done with it; any thread may
// write or end it.
class AsyncCall : public OpenCall, public std::enable_shared_from_this<AsyncCall> {
public:
    explicit AsyncCall(std::shared_ptr<CallQueue> queue);
    ~AsyncCall() override;
    AsyncCall(const AsyncCall&) = delete;
    AsyncCall& operator=(const AsyncCall&) = delete;

    // Asks gRPC for the next incoming call on this object (queue thread).
    bool request(grpc::AsyncGenericService& service, grpc::ServerCompletionQueue& queue);
    // Lets go of gRPC's objects once the queue has been drained.
    void release();

    [[nodiscard]] std::string peer() const;
    // A message of the stream.
    void write(const grpc::ByteBuffer& message);
    // The unary call's response, and the end of the call.
    void reply(const grpc::ByteBuffer& message);
    // Ends the call with `status` once what is queued has gone out.
    void end(const grpc::Status& status) override;
    [[nodiscard]] bool ended() const override;

private:
    enum Op : std::size_t { Requested, Read, Write, Finish, Done, kOps };
    class Tag final : public QueueTag {
    public:
        void completed(bool ok) override { call->completed(op, ok); }
        AsyncCall* call = nullptr;
        Op op = Requested;
    };
    struct Wire {
        grpc::GenericServerContext context;
        grpc::GenericServerAsyncReaderWriter stream{&context};
        grpc::ByteBuffer request;
    };

    void completed(Op op, bool ok);
    void requested(bool ok, std::shared_ptr<AsyncCall> self);
    void read(bool ok);
    void written(bool ok);
    void gone();
    // With mutex_ held: starts `op` through `begin(tag)`; false when gRPC
    // takes no more operations.
    template <class Begin> bool start(Op op, Begin begin);
    void writeNext();
    void finishNow();
    void drop();

    std::shared_ptr<CallQueue> queue_;
    std::array<Tag, kOps> tags_;
    mutable std::mutex mutex_;
    std::unique_ptr<Wire> wire_ = std::make_unique<Wire>();
    std::array<std::shared_ptr<AsyncCall>, kOps> pending_;
    std::deque<grpc::ByteBuffer> backlog_;
    bool writing_ = false;
    bool finishing_ = false;
    bool gone_ = false;
    grpc::Status status_;
};

} // namespace valve::sila
