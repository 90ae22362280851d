#pragma once

#include "SiLAService.grpc.pb.h"
#include "methods.h"

#include <QString>
#include <functional>

namespace valve::sila {

namespace ss = sila2::org::silastandard::core::silaservice::v1;

class CallGate;
class ServerIdentity;

// The feature every server implements: who it is and what it offers.
class SiLAServiceService final {
public:
    // `renamed` is told of each name SetServerName takes, on the logic thread.
    SiLAServiceService(CallGate& gate, ServerIdentity& identity, std::function<void(const QString&)> renamed)
        : gate_(gate), identity_(identity), renamed_(std::move(renamed)) {}

    // Serves this feature's methods.
    void addTo(Methods& methods);

private:
    void getFeatureDefinition(const CallPtr& call, const ss::GetFeatureDefinition_Parameters& request);
    void setServerName(const CallPtr& call, const ss::SetServerName_Parameters& request);
    // A property whose value `value` gives, into `field` of its response.
    template <class Parameters, class Response>
    void property(Methods& methods, const char* name, std::function<QString()> value,
                  sila2::org::silastandard::String* (Response::*field)());

    CallGate& gate_;
    ServerIdentity& identity_;
    std::function<void(const QString&)> renamed_;
};

} // namespace valve::sila
