#pragma once

#include "calls.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace valve::sila {

// Messages a subscriber has not read yet. A client that falls this far behind
// has stopped reading: its stream is dropped, so it holds a bounded amount of
// memory and the others are not held up.
inline constexpr std::size_t kStreamBacklog = 64;

// A server stream fed from the logic thread. gRPC allows one write at a time:
// further messages wait in a bounded backlog and go out as each write ends.
// The logic side keeps the shared Stream; the reactor inside is gRPC's and
// goes when the call is done.
template <class Message>
class Stream : public OpenCall, public std::enable_shared_from_this<Stream<Message>> {
public:
    // Makes the stream of the call `context` and its reactor; return
    // reactor() from the handler.
    static std::shared_ptr<Stream> open(grpc::CallbackServerContext* context) {
        auto stream = std::shared_ptr<Stream>(new Stream());
        stream->context_ = context;
        stream->reactor_ = new Reactor(stream);
        return stream;
    }
    [[nodiscard]] grpc::ServerWriteReactor<Message>* reactor() const { return reactor_; }

    // Sends `message` (logic thread, or any).
    void send(const Message& message) {
        std::lock_guard lock(mutex_);
        if (finishing_ || reactor_ == nullptr) {
            return;
        }
        if (backlog_.size() == kStreamBacklog) {
            drop();
            return;
        }
        backlog_.push_back(message);
        writeNext();
    }
    // Ends the stream once what is queued has gone out.
    void end(const grpc::Status& status) override {
        std::lock_guard lock(mutex_);
        if (finishing_ || reactor_ == nullptr) {
            return;
        }
        finishing_ = true;
        status_ = status;
        if (!writing_) {
            reactor_->Finish(status_);
        }
    }
    [[nodiscard]] bool ended() const override {
        std::lock_guard lock(mutex_);
        return finishing_ || reactor_ == nullptr;
    }

private:
    class Reactor : public grpc::ServerWriteReactor<Message> {
    public:
        explicit Reactor(std::shared_ptr<Stream> stream) : stream_(std::move(stream)) {}
        void OnWriteDone(bool ok) override { stream_->written(ok); }
        void OnCancel() override { stream_->end(grpc::Status::CANCELLED); }
        void OnDone() override {
            stream_->gone();
            delete this;
        }

    private:
        std::shared_ptr<Stream> stream_;
    };

    Stream() = default;

    // With mutex_ held: ends a stream whose client has stopped reading. Its
    // pending write may never end, so the call is cancelled, not finished.
    void drop() {
        backlog_.clear();
        finishing_ = true;
        status_ = grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED, "the client does not read its stream");
        context_->TryCancel();
    }
    // With mutex_ held.
    void writeNext() {
        if (writing_ || backlog_.empty()) {
            return;
        }
        writing_ = true;
        current_ = std::move(backlog_.front());
        backlog_.pop_front();
        reactor_->StartWrite(&current_);
    }
    void written(bool ok) {
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
            reactor_->Finish(status_);
        }
    }
    void gone() {
        {
            std::lock_guard lock(mutex_);
            reactor_ = nullptr;
            backlog_.clear();
        }
        this->notifyEnded();
    }

    // Recursive: a cancel may call back into the stream on this thread.
    mutable std::recursive_mutex mutex_;
    grpc::CallbackServerContext* context_ = nullptr;
    Reactor* reactor_ = nullptr;
    std::deque<Message> backlog_;
    Message current_;
    bool writing_ = false;
    bool finishing_ = false;
    grpc::Status status_;
};

// Sends `message` on each of `streams`, and forgets those that have ended.
template <class Streams, class Message> void sendToAll(Streams& streams, const Message& message) {
    std::erase_if(streams, [&message](const auto& stream) {
        stream->send(message);
        return stream->ended();
    });
}

// An observable property: each new subscriber gets its value first (once it
// has one), and every subscriber each change. `Message` is made from a value
// by `make`.
template <class Message, class Value> class Watched {
public:
    explicit Watched(std::function<Message(const Value&)> make, std::optional<Value> value = std::nullopt)
        : make_(std::move(make)), value_(std::move(value)) {}

    void subscribe(const std::shared_ptr<Stream<Message>>& stream) {
        if (value_) {
            stream->send(make_(*value_));
        }
        watchers_.push_back(stream);
    }
    void set(const Value& value) {
        if (value_ == value) {
            return;
        }
        value_ = value;
        sendToAll(watchers_, make_(value));
    }

private:
    std::function<Message(const Value&)> make_;
    std::optional<Value> value_;
    std::vector<std::shared_ptr<Stream<Message>>> watchers_;
};

// Opens a server stream: `opened` runs on the logic thread with the stream,
// which it keeps to send on; a stream the bounds refuse ends at once.
template <class Message>
grpc::ServerWriteReactor<Message>*
subscribe(CallGate& gate, grpc::CallbackServerContext* context,
          std::function<void(const std::shared_ptr<Stream<Message>>&)> opened) {
    auto stream = Stream<Message>::open(context);
    if (const auto refusal = gate.admit(stream, context->peer(), true)) {
        stream->end(*refusal);
    } else if (!gate.post([stream, opened = std::move(opened)] { opened(stream); })) {
        stream->end(grpc::Status(grpc::StatusCode::UNAVAILABLE, "the server is stopping"));
    }
    return stream->reactor();
}

} // namespace valve::sila
