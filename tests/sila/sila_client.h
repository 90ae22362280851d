#pragma once

#include "SiLAService.grpc.pb.h"
#include "TimedRoutine.grpc.pb.h"
#include "ValveControl.grpc.pb.h"
#include "coro_test.h"

#include <QByteArray>
#include <future>
#include <grpcpp/grpcpp.h>
#include <memory>
#include <string>
#include <utility>

namespace valve::testing {

namespace fw = sila2::org::silastandard;
namespace ss = sila2::org::silastandard::core::silaservice::v1;
namespace vc = sila2::org::valvepanel::valves::valvecontrol::v1;
namespace tr = sila2::org::valvepanel::valves::timedroutine::v1;

// Runs a blocking client call on a thread of its own while the test's event
// loop turns, so that the server, on this thread, can answer it.
template <class Call> auto offThread(Call call) -> decltype(call()) {
    auto future = std::async(std::launch::async, std::move(call));
    runUntil([&future] { return future.wait_for(std::chrono::seconds{0}) == std::future_status::ready; },
             std::chrono::seconds{30});
    return future.get();
}

// A unary call of `stub`, made off the test's thread: its status and response.
template <class Stub, class Request, class Response>
std::pair<grpc::Status, Response> unary(const std::unique_ptr<Stub>& stub,
                                        grpc::Status (Stub::*method)(grpc::ClientContext*, const Request&,
                                                                     Response*),
                                        const Request& request = {}) {
    return offThread([&] {
        grpc::ClientContext context;
        Response response;
        grpc::Status status = ((*stub).*method)(&context, request, &response);
        return std::pair{status, response};
    });
}

// The SiLAError a status carries, as a client of the standard reads it.
inline fw::SiLAError silaError(const grpc::Status& status) {
    fw::SiLAError error;
    if (status.error_code() == grpc::StatusCode::ABORTED) {
        error.ParseFromString(
            QByteArray::fromBase64(QByteArray::fromStdString(status.error_message())).toStdString());
    }
    return error;
}

// One client of the server: a channel and the stubs of its three features.
struct SilaClient {
    explicit SilaClient(const std::shared_ptr<grpc::Channel>& channel)
        : channel(channel), service(ss::SiLAService::NewStub(channel)),
          valve(vc::ValveControl::NewStub(channel)), routine(tr::TimedRoutine::NewStub(channel)) {}
    SilaClient(int port)
        : SilaClient(
              grpc::CreateChannel("127.0.0.1:" + std::to_string(port), grpc::InsecureChannelCredentials())) {}

    std::shared_ptr<grpc::Channel> channel;
    std::unique_ptr<ss::SiLAService::Stub> service;
    std::unique_ptr<vc::ValveControl::Stub> valve;
    std::unique_ptr<tr::TimedRoutine::Stub> routine;
};

// Reads a stream until `enough` holds for the messages seen, or to its end.
template <class Message, class Start>
std::vector<Message> readStream(Start start,
                                const std::function<bool(const std::vector<Message>&)>& enough = {}) {
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds{20});
    auto reader = start(&context);
    std::vector<Message> seen;
    Message message;
    while (!(enough && enough(seen)) && reader->Read(&message)) {
        seen.push_back(message);
    }
    context.TryCancel();
    return seen;
}

} // namespace valve::testing
