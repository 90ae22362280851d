#include "silaservice_service.h"

#include "errors.h"
#include "feature_definitions.h"
#include "identity.h"
#include "reply.h"

namespace valve::sila {

namespace {

void setString(sila2::org::silastandard::String* field, const QString& text) {
    field->set_value(text.toStdString());
}

} // namespace

void SiLAServiceService::addTo(Methods& methods) {
    const char* service = ss::SiLAService::service_full_name();
    methods.add<ss::GetFeatureDefinition_Parameters>(
        service, "GetFeatureDefinition",
        [this](const CallPtr& call, const auto& request) { getFeatureDefinition(call, request); },
        parameterId(kSiLAServiceFeature, "GetFeatureDefinition", "FeatureIdentifier"));
    methods.add<ss::SetServerName_Parameters>(
        service, "SetServerName",
        [this](const CallPtr& call, const auto& request) { setServerName(call, request); },
        parameterId(kSiLAServiceFeature, "SetServerName", "ServerName"));
    property<ss::Get_ServerName_Parameters>(
        methods, "Get_ServerName", [this] { return identity_.name(); },
        &ss::Get_ServerName_Responses::mutable_servername);
    property<ss::Get_ServerType_Parameters>(methods, "Get_ServerType", &ServerIdentity::type,
                                            &ss::Get_ServerType_Responses::mutable_servertype);
    property<ss::Get_ServerUUID_Parameters>(
        methods, "Get_ServerUUID", [this] { return identity_.uuid(); },
        &ss::Get_ServerUUID_Responses::mutable_serveruuid);
    property<ss::Get_ServerDescription_Parameters>(
        methods, "Get_ServerDescription", &ServerIdentity::description,
        &ss::Get_ServerDescription_Responses::mutable_serverdescription);
    property<ss::Get_ServerVersion_Parameters>(methods, "Get_ServerVersion", &ServerIdentity::version,
                                               &ss::Get_ServerVersion_Responses::mutable_serverversion);
    property<ss::Get_ServerVendorURL_Parameters>(methods, "Get_ServerVendorURL", &ServerIdentity::vendorUrl,
                                                 &ss::Get_ServerVendorURL_Responses::mutable_servervendorurl);
    methods.add<ss::Get_ImplementedFeatures_Parameters>(
        service, "Get_ImplementedFeatures", [this](const CallPtr& call, const auto&) {
            answer<ss::Get_ImplementedFeatures_Responses>(gate_, call, [](const auto& reply) {
                for (const QString& feature : implementedFeatures()) {
                    setString(reply->response.add_implementedfeatures(), feature);
                }
                reply->finish();
            });
        });
}

template <class Parameters, class Response>
void SiLAServiceService::property(Methods& methods, const char* name, std::function<QString()> value,
                                  sila2::org::silastandard::String* (Response::*field)()) {
    methods.add<Parameters>(ss::SiLAService::service_full_name(), name,
                            [this, value, field](const CallPtr& call, const Parameters&) {
                                answer<Response>(gate_, call, [value, field](const auto& reply) {
                                    setString((reply->response.*field)(), value());
                                    reply->finish();
                                });
                            });
}

void SiLAServiceService::getFeatureDefinition(const CallPtr& call,
                                              const ss::GetFeatureDefinition_Parameters& request) {
    const QString wanted = QString::fromStdString(request.featureidentifier().value());
    answer<ss::GetFeatureDefinition_Responses>(gate_, call, [wanted](const auto& reply) {
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

void SiLAServiceService::setServerName(const CallPtr& call, const ss::SetServerName_Parameters& request) {
    const QString name = QString::fromStdString(request.servername().value());
    answer<ss::SetServerName_Responses>(gate_, call, [this, name](const auto& reply) {
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

} // namespace valve::sila
