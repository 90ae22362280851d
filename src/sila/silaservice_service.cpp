#include "silaservice_service.h"

#include "calls.h"
#include "errors.h"
#include "feature_definitions.h"
#include "identity.h"

namespace valve::sila {

namespace {

void setString(sila2::org::silastandard::String* field, const QString& text) {
    field->set_value(text.toStdString());
}

} // namespace

grpc::ServerUnaryReactor*
SiLAServiceService::GetFeatureDefinition(Context* context, const ss::GetFeatureDefinition_Parameters* request,
                                         ss::GetFeatureDefinition_Responses* response) {
    const QString wanted = QString::fromStdString(request->featureidentifier().value());
    return answer<ss::GetFeatureDefinition_Responses>(gate_, context, response, [wanted](const auto& reply) {
        const auto definition = featureDefinition(wanted);
        if (!definition) {
            reply->finish(
                definedError(errorId(kSiLAServiceFeature, "UnimplementedFeature"),
                             QStringLiteral("This server does not implement the feature %1.").arg(wanted)));
            return;
        }
        setString(reply->response.mutable_featuredefinition(), *definition);
        reply->finish();
    });
}

grpc::ServerUnaryReactor* SiLAServiceService::SetServerName(Context* context,
                                                            const ss::SetServerName_Parameters* request,
                                                            ss::SetServerName_Responses* response) {
    const QString name = QString::fromStdString(request->servername().value());
    return answer<ss::SetServerName_Responses>(gate_, context, response, [this, name](const auto& reply) {
        if (name.size() > kMaxServerNameLength) {
            reply->finish(validationError(
                parameterId(kSiLAServiceFeature, "SetServerName", "ServerName"),
                QStringLiteral("A server name has at most %1 characters.").arg(kMaxServerNameLength)));
            return;
        }
        identity_.setName(name);
        renamed_(name);
        reply->finish();
    });
}

grpc::ServerUnaryReactor* SiLAServiceService::Get_ServerName(Context* context,
                                                             const ss::Get_ServerName_Parameters*,
                                                             ss::Get_ServerName_Responses* response) {
    return answer<ss::Get_ServerName_Responses>(gate_, context, response, [this](const auto& reply) {
        setString(reply->response.mutable_servername(), identity_.name());
        reply->finish();
    });
}

grpc::ServerUnaryReactor* SiLAServiceService::Get_ServerType(Context* context,
                                                             const ss::Get_ServerType_Parameters*,
                                                             ss::Get_ServerType_Responses* response) {
    return answer<ss::Get_ServerType_Responses>(gate_, context, response, [](const auto& reply) {
        setString(reply->response.mutable_servertype(), ServerIdentity::type());
        reply->finish();
    });
}

grpc::ServerUnaryReactor* SiLAServiceService::Get_ServerUUID(Context* context,
                                                             const ss::Get_ServerUUID_Parameters*,
                                                             ss::Get_ServerUUID_Responses* response) {
    return answer<ss::Get_ServerUUID_Responses>(gate_, context, response, [this](const auto& reply) {
        setString(reply->response.mutable_serveruuid(), identity_.uuid());
        reply->finish();
    });
}

grpc::ServerUnaryReactor*
SiLAServiceService::Get_ServerDescription(Context* context, const ss::Get_ServerDescription_Parameters*,
                                          ss::Get_ServerDescription_Responses* response) {
    return answer<ss::Get_ServerDescription_Responses>(gate_, context, response, [](const auto& reply) {
        setString(reply->response.mutable_serverdescription(), ServerIdentity::description());
        reply->finish();
    });
}

grpc::ServerUnaryReactor* SiLAServiceService::Get_ServerVersion(Context* context,
                                                                const ss::Get_ServerVersion_Parameters*,
                                                                ss::Get_ServerVersion_Responses* response) {
    return answer<ss::Get_ServerVersion_Responses>(gate_, context, response, [](const auto& reply) {
        setString(reply->response.mutable_serverversion(), ServerIdentity::version());
        reply->finish();
    });
}

grpc::ServerUnaryReactor*
SiLAServiceService::Get_ServerVendorURL(Context* context, const ss::Get_ServerVendorURL_Parameters*,
                                        ss::Get_ServerVendorURL_Responses* response) {
    return answer<ss::Get_ServerVendorURL_Responses>(gate_, context, response, [](const auto& reply) {
        setString(reply->response.mutable_servervendorurl(), ServerIdentity::vendorUrl());
        reply->finish();
    });
}

grpc::ServerUnaryReactor*
SiLAServiceService::Get_ImplementedFeatures(Context* context, const ss::Get_ImplementedFeatures_Parameters*,
                                            ss::Get_ImplementedFeatures_Responses* response) {
    return answer<ss::Get_ImplementedFeatures_Responses>(gate_, context, response, [](const auto& reply) {
        for (const QString& feature : implementedFeatures()) {
            setString(reply->response.add_implementedfeatures(), feature);
        }
        reply->finish();
    });
}

} // namespace valve::sila
