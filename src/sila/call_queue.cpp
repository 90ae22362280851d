#include "call_queue.h"

#include "methods.h"

#include <algorithm>

namespace valve::sila {

CallQueue::~CallQueue() {
    shutdown();
}

void CallQueue::attach(grpc::ServerBuilder& builder) {
    builder.RegisterAsyncGenericService(&service_);
    queue_ = builder.AddCompletionQueue();
}

void CallQueue::run() {
    {
        std::lock_guard lock(mutex_);
        open_ = true;
    }
    accept();
    carrier_ = std::thread([this] { carry(); });
}

void CallQueue::shutdown() {
    {
        std::lock_guard lock(mutex_);
        if (!open_) {
            return;
        }
        open_ = false;
        queue_->Shutdown();
    }
    carrier_.join();
    unmatched_.clear();
    for (const auto& each : std::exchange(calls_, {})) {
        if (const auto call = each.lock()) {
            call->release();
        }
    }
}

void CallQueue::accept() {
    auto call = std::make_shared<AsyncCall>(shared_from_this());
    if (call->request(service_, *queue_)) {
        // Ended calls are forgotten now and then, so the list stays near the number open.
        if (calls_.size() >= pruneAt_) {
            std::erase_if(calls_, [](const auto& each) { return each.expired(); });
            pruneAt_ = std::max<std::size_t>(64, calls_.size() * 2);
        }
        calls_.push_back(call);
    }
}

void CallQueue::matched(const std::shared_ptr<AsyncCall>&) {
    accept();
}

void CallQueue::dispatch(const std::shared_ptr<AsyncCall>& call, const std::string& method,
                         grpc::ByteBuffer& request) const {
    methods_.dispatch(call, method, request);
}

void CallQueue::carry() {
    void* tag = nullptr;
    bool ok = false;
    while (queue_->Next(&tag, &ok)) {
        static_cast<QueueTag*>(tag)->completed(ok);
    }
}

} // namespace valve::sila
