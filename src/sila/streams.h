#pragma once

#include "calls.h"
#include "methods.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace valve::sila {

// A server stream fed from the logic thread (or any). The logic side keeps
// the shared Stream; the call underneath stays gRPC's until it is done.
template <class Message> class Stream {
public:
    explicit Stream(CallPtr call) : call_(std::move(call)) {}

    void send(const Message& message) {
        if (!call_->ended()) {
            call_->write(wireBytes(message));
        }
    }
    // Ends the stream once what is queued has gone out.
    void end(const grpc::Status& status) { call_->end(status); }
    [[nodiscard]] bool ended() const { return call_->ended(); }

private:
    CallPtr call_;
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
void subscribe(CallGate& gate, const CallPtr& call,
               std::function<void(const std::shared_ptr<Stream<Message>>&)> opened) {
    auto stream = std::make_shared<Stream<Message>>(call);
    gate.handOver(call, call->peer(), true, [stream, opened = std::move(opened)] { opened(stream); });
}

} // namespace valve::sila
