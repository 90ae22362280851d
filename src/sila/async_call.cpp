#include "async_call.h"

#include "call_queue.h"

namespace valve::sila {

AsyncCall::AsyncCall(std::shared_ptr<CallQueue> queue) : queue_(std::move(queue)) {
    for (std::size_t op = 0; op < kOps; ++op) {
        tags_.at(op).call = this;
        tags_.at(op).op = static_cast<Op>(op);
    }
}

AsyncCall::~AsyncCall() = default;

template <class Begin> bool AsyncCall::start(Op op, Begin begin) {
    if (!wire_) {
        return false;
    }
    return queue_->start([&] {
        pending_.at(op) = shared_from_this();
        begin(&tags_.at(op));
    });
}

bool AsyncCall::request(grpc::AsyncGenericService& service, grpc::ServerCompletionQueue& queue) {
    std::lock_guard lock(mutex_);
    // Told before the call comes, as gRPC wants; it comes only for a call
    // that did come.
    wire_->context.AsyncNotifyWhenDone(&tags_.at(Done));
    return start(Requested, [&](void* tag) {
        pending_.at(Done) = shared_from_this();
        service.RequestCall(&wire_->context, &wire_->stream, &queue, &queue, tag);
    });
}

void AsyncCall::completed(Op op, bool ok) {
    std::shared_ptr<AsyncCall> self;
    {
        std::lock_guard lock(mutex_);
        self = std::move(pending_.at(op));
    }
    switch (op) {
    case Requested:
        requested(ok, std::move(self));
        break;
    case Read:
        read(ok);
        break;
    case Write:
        written(ok);
        break;
    case Done:
        gone();
        break;
    case Finish:
    case kOps:
        break;
    }
}

void AsyncCall::requested(bool ok, std::shared_ptr<AsyncCall> self) {
    if (!ok) {
        queue_->unmatched(std::move(self));
        return;
    }
    queue_->matched(self);
    std::lock_guard lock(mutex_);
    start(Read, [this](void* tag) { wire_->stream.Read(&wire_->request, tag); });
}

void AsyncCall::read(bool ok) {
    if (!ok) {
        end(grpc::Status(grpc::StatusCode::INTERNAL, "the call brought no request"));
        return;
    }
    // Only this thread knows of the call until its method has it.
    queue_->dispatch(shared_from_this(), wire_->context.method(), wire_->request);
}

std::string AsyncCall::peer() const {
    std::lock_guard lock(mutex_);
    return wire_ ? wire_->context.peer() : std::string();
}

void AsyncCall::write(const grpc::ByteBuffer& message) {
    std::lock_guard lock(mutex_);
    if (finishing_ || gone_) {
        return;
    }
    if (backlog_.size() == kStreamBacklog) {
        drop();
        return;
    }
    backlog_.push_back(message);
    writeNext();
}

void AsyncCall::reply(const grpc::ByteBuffer& message) {
    std::lock_guard lock(mutex_);
    if (finishing_ || gone_) {
        return;
    }
    finishing_ = true;
    start(Finish, [&](void* tag) {
        wire_->stream.WriteAndFinish(message, grpc::WriteOptions(), grpc::Status::OK, tag);
    });
}

void AsyncCall::end(const grpc::Status& status) {
    std::lock_guard lock(mutex_);
    if (finishing_ || gone_) {
        return;
    }
    finishing_ = true;
    status_ = status;
    if (!writing_) {
        finishNow();
    }
}

bool AsyncCall::ended() const {
    std::lock_guard lock(mutex_);
    return finishing_ || gone_;
}

// With mutex_ held.
void AsyncCall::writeNext() {
    if (writing_ || backlog_.empty()) {
        return;
    }
    const grpc::ByteBuffer next = std::move(backlog_.front());
    backlog_.pop_front();
    writing_ = start(Write, [&](void* tag) { wire_->stream.Write(next, tag); });
}

// With mutex_ held.
void AsyncCall::finishNow() {
    start(Finish, [this](void* tag) { wire_->stream.Finish(status_, tag); });
}

// With mutex_ held: ends a stream whose client has stopped reading. Its
// pending write may never end, so the call is cancelled, not finished.
void AsyncCall::drop() {
    backlog_.clear();
    finishing_ = true;
    status_ = grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED, "the client does not read its stream");
    wire_->context.TryCancel();
}

void AsyncCall::written(bool ok) {
    std::lock_guard lock(mutex_);
    writing_ = false;
    if (!ok) {
        backlog_.clear();
        if (!finishing_) {
            finishing_ = true;
            status_ = grpc::Status::CANCELLED;
        }
    }
    if (!finishing_ || !backlog_.empty()) {
        writeNext();
        if (writing_) {
            return;
        }
    }
    if (finishing_) {
        finishNow();
    }
}

// The call is over, finished or cancelled: nothing more goes out.
void AsyncCall::gone() {
    {
        std::lock_guard lock(mutex_);
        gone_ = true;
        backlog_.clear();
    }
    notifyEnded();
}

void AsyncCall::release() {
    std::array<std::shared_ptr<AsyncCall>, kOps> pending;
    std::lock_guard lock(mutex_);
    gone_ = true;
    backlog_.clear();
    wire_.reset();
    pending.swap(pending_);
}

} // namespace valve::sila
