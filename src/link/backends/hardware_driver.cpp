#include "hardware_driver.h"

#include "d2xx_driver.h"
#include "fallback_driver.h"
#include "libftdi_driver.h"

namespace valve::link {

HardwareDriver makeHardwareDriver() {
    if (auto d2xx = D2xxDriver::load()) {
        return {std::make_unique<FallbackDriver>(std::move(d2xx), std::make_unique<LibftdiDriver>()),
                QStringLiteral("D2XX")};
    }
    return {std::make_unique<LibftdiDriver>(), QStringLiteral("libftdi1")};
}

} // namespace valve::link
