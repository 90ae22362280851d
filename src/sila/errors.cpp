#include "errors.h"

#include "SiLAFramework.pb.h"

#include <QByteArray>

namespace valve::sila {

namespace {

grpc::Status aborted(const sila2::org::silastandard::SiLAError& error) {
    const std::string wire = error.SerializeAsString();
    const QByteArray details =
        QByteArray::fromRawData(wire.data(), static_cast<qsizetype>(wire.size())).toBase64();
    // Clients read it from the status message, where gRPC's own libraries
    // hand it to them as the "details".
    return {grpc::StatusCode::ABORTED, details.toStdString()};
}

} // namespace

grpc::Status validationError(const QString& parameter, const QString& message) {
    sila2::org::silastandard::SiLAError error;
    error.mutable_validationerror()->set_parameter(parameter.toStdString());
    error.mutable_validationerror()->set_message(message.toStdString());
    return aborted(error);
}

grpc::Status definedError(const QString& identifier, const QString& message) {
    sila2::org::silastandard::SiLAError error;
    error.mutable_definedexecutionerror()->set_erroridentifier(identifier.toStdString());
    error.mutable_definedexecutionerror()->set_message(message.toStdString());
    return aborted(error);
}

grpc::Status undefinedError(const QString& message) {
    sila2::org::silastandard::SiLAError error;
    error.mutable_undefinedexecutionerror()->set_message(message.toStdString());
    return aborted(error);
}

grpc::Status frameworkError(FrameworkErrorType type, const QString& message) {
    sila2::org::silastandard::SiLAError error;
    error.mutable_frameworkerror()->set_errortype(
        static_cast<sila2::org::silastandard::FrameworkError_ErrorType>(type));
    error.mutable_frameworkerror()->set_message(message.toStdString());
    return aborted(error);
}

} // namespace valve::sila
