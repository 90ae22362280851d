#include "unit_terms.h"

#include <array>

namespace valve::protocol {

namespace {
const std::array<QString, 5>& commandModeNames() {
    static const std::array<QString, 5> names{QStringLiteral("Level"), QStringLiteral("Pulse"),
                                              QStringLiteral("BCD"), QStringLiteral("Inverted BCD"),
                                              QStringLiteral("Dual Pulse")};
    return names;
}
} // namespace

QString commandModeName(int code) {
    if (code < 1 || code > static_cast<int>(commandModeNames().size())) {
        return {};
    }
    return commandModeNames()[static_cast<std::size_t>(code - 1)];
}

std::optional<std::uint8_t> commandModeCode(const QString& name) {
    for (std::size_t i = 0; i < commandModeNames().size(); ++i) {
        if (commandModeNames()[i] == name) {
            return static_cast<std::uint8_t>(i + 1);
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
