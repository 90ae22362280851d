#include "unit_terms.h"

namespace valve::protocol {

QString commandModeName(int code) {
    for (const CommandMode& mode : kCommandModes) {
        if (mode.code == code) {
            return QString::fromLatin1(mode.name);
        }
    }
    return {};
}

std::optional<std::uint8_t> commandModeCode(const QString& name) {
    for (const CommandMode& mode : kCommandModes) {
        if (name == QLatin1String(mode.name)) {
            return mode.code;
        }
    }
    return std::nullopt;
}

char portLetter(Port port) {
    switch (port) {
    case Port::A:
        return 'A';
    case Port::B:
        return 'B';
    case Port::C:
        return 'C';
    }
    return 'A';
}

} // namespace valve::protocol
