#include "feature_definitions.h"

#include <QFile>

namespace valve::sila {

namespace {

struct Builtin {
    const char* identifier;
    const char* resource;
};

constexpr Builtin kFeatures[] = {
    {kSiLAServiceFeature, ":/sila/features/SiLAService.sila.xml"},
    {kValveControlFeature, ":/sila/features/ValveControl.sila.xml"},
    {kTimedRoutineFeature, ":/sila/features/TimedRoutine.sila.xml"},
};

} // namespace

QStringList implementedFeatures() {
    QStringList identifiers;
    for (const Builtin& feature : kFeatures) {
        identifiers << QLatin1String(feature.identifier);
    }
    return identifiers;
}

std::optional<QString> featureDefinition(const QString& identifier) {
    for (const Builtin& feature : kFeatures) {
        if (identifier.compare(QLatin1String(feature.identifier), Qt::CaseInsensitive) == 0) {
            QFile file(QLatin1String(feature.resource));
            if (!file.open(QIODevice::ReadOnly)) {
                return std::nullopt;
            }
            return QString::fromUtf8(file.readAll());
        }
    }
    return std::nullopt;
}

QString parameterId(const char* feature, const char* command, const char* parameter) {
    return QStringLiteral("%1/Command/%2/Parameter/%3")
        .arg(QLatin1String(feature), QLatin1String(command), QLatin1String(parameter));
}

QString errorId(const char* feature, const char* error) {
    return QStringLiteral("%1/DefinedExecutionError/%2").arg(QLatin1String(feature), QLatin1String(error));
}

} // namespace valve::sila
