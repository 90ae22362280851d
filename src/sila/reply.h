#pragma once

#include "calls.h"
#include "methods.h"

#include <functional>
#include <memory>

namespace valve::sila {

// A unary call answered from the logic thread: the logic side fills the
// response and finishes once; a call already ended (the server stopping)
// takes nothing more.
template <class Response> class Reply {
public:
    explicit Reply(CallPtr call) : call_(std::move(call)) {}

    Response response;

    void finish(const grpc::Status& status = grpc::Status::OK) {
        if (!status.ok()) {
            call_->end(status);
        } else if (!call_->ended()) {
            call_->reply(wireBytes(response));
        }
    }
    [[nodiscard]] bool ended() const { return call_->ended(); }

private:
    CallPtr call_;
};

// Starts a unary call: `work` runs on the logic thread with the reply, and
// finishes it there, at once or later.
template <class Response>
void answer(CallGate& gate, const CallPtr& call,
            std::function<void(const std::shared_ptr<Reply<Response>>&)> work) {
    auto reply = std::make_shared<Reply<Response>>(call);
    gate.handOver(call, call->peer(), false, [reply, work = std::move(work)] { work(reply); });
}

} // namespace valve::sila
