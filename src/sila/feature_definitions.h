#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace valve::sila {

// The fully qualified identifiers of the features this server implements.
inline constexpr auto kSiLAServiceFeature = "org.silastandard/core/SiLAService/v1";
inline constexpr auto kValveControlFeature = "org.valvepanel/valves/ValveControl/v1";
inline constexpr auto kTimedRoutineFeature = "org.valvepanel/valves/TimedRoutine/v1";

// Every implemented feature, SiLAService first.
QStringList implementedFeatures();
// The Feature Definition of `identifier` (fully qualified, compared as the
// standard says: without regard to case), as built into the program.
std::optional<QString> featureDefinition(const QString& identifier);

// Fully qualified identifiers of a feature's parts.
QString parameterId(const char* feature, const char* command, const char* parameter);
QString errorId(const char* feature, const char* error);

} // namespace valve::sila
