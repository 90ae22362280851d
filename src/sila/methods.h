#pragma once

#include "async_call.h"

#include <QString>
#include <functional>
#include <grpcpp/impl/codegen/proto_utils.h>
#include <grpcpp/support/byte_buffer.h>
#include <memory>
#include <string>
#include <unordered_map>

namespace google::protobuf {
class MessageLite;
}

namespace valve::sila {

using CallPtr = std::shared_ptr<AsyncCall>;

// A message as it goes on the wire.
grpc::ByteBuffer wireBytes(const google::protobuf::MessageLite& message);

// The methods the server serves, by their full name (/package.Service/Method):
// each parses its request into its own message type and goes on from there.
class Methods {
public:
    template <class Request> using Handler = std::function<void(const CallPtr&, const Request&)>;

    // Serves `method` of `service` (its full name) with `handle`. A request
    // that does not parse is refused as the standard refuses bad input: naming
    // the command's first parameter (fully qualified) when it has one.
    template <class Request>
    void add(const char* service, const char* method, Handler<Request> handle,
             const QString& firstParameter = {}) {
        handlers_[std::string("/") + service + "/" + method] =
            [handle = std::move(handle), firstParameter](const CallPtr& call, grpc::ByteBuffer& bytes) {
                Request request;
                if (grpc::SerializationTraits<Request>::Deserialize(&bytes, &request).ok()) {
                    handle(call, request);
                } else {
                    refuse(*call, firstParameter);
                }
            };
    }

    // Hands `call` with its `request` to its method; UNIMPLEMENTED when none is served.
    void dispatch(const CallPtr& call, const std::string& method, grpc::ByteBuffer& request) const;

private:
    static void refuse(AsyncCall& call, const QString& firstParameter);

    std::unordered_map<std::string, std::function<void(const CallPtr&, grpc::ByteBuffer&)>> handlers_;
};

} // namespace valve::sila
