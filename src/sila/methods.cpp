#include "methods.h"

#include "errors.h"

#include <google/protobuf/message_lite.h>

namespace valve::sila {

grpc::ByteBuffer wireBytes(const google::protobuf::MessageLite& message) {
    grpc::Slice slice(message.SerializeAsString());
    return {&slice, 1};
}

void Methods::dispatch(const CallPtr& call, const std::string& method, grpc::ByteBuffer& request) const {
    const auto found = handlers_.find(method);
    if (found == handlers_.end()) {
        call->end(grpc::Status(grpc::StatusCode::UNIMPLEMENTED, "this server has no method " + method));
        return;
    }
    found->second(call, request);
}

void Methods::refuse(AsyncCall& call, const QString& firstParameter) {
    if (firstParameter.isEmpty()) {
        call.end(frameworkError(FrameworkErrorType::ExecutionNotAccepted,
                                QStringLiteral("The request is not a message of this command.")));
    } else {
        call.end(validationError(firstParameter,
                                 QStringLiteral("The request does not parse as this command's parameters.")));
    }
}

} // namespace valve::sila
