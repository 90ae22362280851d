#pragma once

#include <QString>
#include <grpcpp/support/status.h>

namespace valve::sila {

// Errors as the standard sends them: status ABORTED, with the serialized
// SiLAError in base64 as the details.
grpc::Status validationError(const QString& parameter, const QString& message);
grpc::Status definedError(const QString& error, const QString& message);
grpc::Status undefinedError(const QString& message);

enum class FrameworkErrorType {
    ExecutionNotAccepted = 0,
    InvalidExecutionUuid = 1,
    ExecutionNotFinished = 2,
};
grpc::Status frameworkError(FrameworkErrorType type, const QString& message);

} // namespace valve::sila
