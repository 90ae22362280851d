#include "calls.h"

#include <algorithm>
#include <set>

namespace valve::sila {

bool CallGate::post(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    if (closed_ || logic_.isNull()) {
        return false;
    }
    // `logic` outlives the gate's open time: the server closes the gate
    // before it goes.
    // Work that finds the gate closed when its turn comes is dropped: its
    // call has been ended already.
    return QMetaObject::invokeMethod(
        logic_.data(),
        [this, work = std::move(work)] {
            if (!closed()) {
                work();
            }
        },
        Qt::QueuedConnection);
}

void CallGate::prune() {
    std::erase_if(held_, [](const Entry& each) {
        const auto open = each.call.lock();
        return !open || open->ended();
    });
}

CallGate::Held CallGate::hold(const std::shared_ptr<OpenCall>& call, const std::string& peer, bool stream) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return Held::Closed;
        }
        prune();
        std::set<std::string> peers;
        std::size_t streams = 0;
        for (const Entry& each : held_) {
            peers.insert(each.peer);
            streams += each.stream && each.peer == peer ? 1 : 0;
        }
        if (!peers.contains(peer) && peers.size() >= kMaxClients) {
            return Held::TooManyClients;
        }
        if (stream && streams >= kMaxSubscriptionsPerClient) {
            return Held::TooManySubscriptions;
        }
        held_.push_back({call, peer, stream});
        call->setOnEnded(changed_);
    }
    if (changed_) {
        changed_();
    }
    return Held::Yes;
}

std::optional<grpc::Status> CallGate::admit(const std::shared_ptr<OpenCall>& call, const std::string& peer,
                                            bool stream) {
    switch (hold(call, peer, stream)) {
    case Held::Yes:
        return std::nullopt;
    case Held::Closed:
        return grpc::Status(grpc::StatusCode::UNAVAILABLE, "the server is stopping");
    case Held::TooManyClients:
        return grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED, "the server serves no more clients");
    case Held::TooManySubscriptions:
        return grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED, "this client holds too many streams open");
    }
    return std::nullopt;
}

void CallGate::handOver(const std::shared_ptr<OpenCall>& call, const std::string& peer, bool stream,
                        std::function<void()> work) {
    if (const auto refusal = admit(call, peer, stream)) {
        call->end(*refusal);
    } else if (!post(std::move(work))) {
        call->end(grpc::Status(grpc::StatusCode::UNAVAILABLE, "the server is stopping"));
    }
}

std::size_t CallGate::clients() const {
    std::lock_guard lock(mutex_);
    std::set<std::string> peers;
    for (const Entry& each : held_) {
        const auto open = each.call.lock();
        if (open && !open->ended()) {
            peers.insert(each.peer);
        }
    }
    return peers.size();
}

void CallGate::close() {
    std::vector<Entry> held;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        held.swap(held_);
    }
    for (const Entry& each : held) {
        if (const auto open = each.call.lock()) {
            open->end(grpc::Status(grpc::StatusCode::UNAVAILABLE, "the server is stopping"));
        }
    }
}

bool CallGate::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

} // namespace valve::sila
