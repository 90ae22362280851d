#pragma once

#include "SiLAService.grpc.pb.h"

#include <QString>
#include <functional>

namespace valve::sila {

namespace ss = sila2::org::silastandard::core::silaservice::v1;

class CallGate;
class ServerIdentity;

// The feature every server implements: who it is and what it offers.
class SiLAServiceService final : public ss::SiLAService::CallbackService {
public:
    // `renamed` is told of each name SetServerName takes, on the logic thread.
    SiLAServiceService(CallGate& gate, ServerIdentity& identity, std::function<void(const QString&)> renamed)
        : gate_(gate), identity_(identity), renamed_(std::move(renamed)) {}

private:
    using Unary = grpc::ServerUnaryReactor;
    using Context = grpc::CallbackServerContext;

    Unary* GetFeatureDefinition(Context* context, const ss::GetFeatureDefinition_Parameters* request,
                                ss::GetFeatureDefinition_Responses* response) override;
    Unary* SetServerName(Context* context, const ss::SetServerName_Parameters* request,
                         ss::SetServerName_Responses* response) override;
    Unary* Get_ServerName(Context* context, const ss::Get_ServerName_Parameters* request,
                          ss::Get_ServerName_Responses* response) override;
    Unary* Get_ServerType(Context* context, const ss::Get_ServerType_Parameters* request,
                          ss::Get_ServerType_Responses* response) override;
    Unary* Get_ServerUUID(Context* context, const ss::Get_ServerUUID_Parameters* request,
                          ss::Get_ServerUUID_Responses* response) override;
    Unary* Get_ServerDescription(Context* context, const ss::Get_ServerDescription_Parameters* request,
                                 ss::Get_ServerDescription_Responses* response) override;
    Unary* Get_ServerVersion(Context* context, const ss::Get_ServerVersion_Parameters* request,
                             ss::Get_ServerVersion_Responses* response) override;
    Unary* Get_ServerVendorURL(Context* context, const ss::Get_ServerVendorURL_Parameters* request,
                               ss::Get_ServerVendorURL_Responses* response) override;
    Unary* Get_ImplementedFeatures(Context* context, const ss::Get_ImplementedFeatures_Parameters* request,
                                   ss::Get_ImplementedFeatures_Responses* response) override;

    CallGate& gate_;
    ServerIdentity& identity_;
    std::function<void(const QString&)> renamed_;
};

} // namespace valve::sila
