#include "operation_lifetime.h"

#include "link/usb_link.h"

namespace valve::config {

bool goesOn(const OperationLifetime::Watch& watch, const link::UsbLink& link) {
    return watch && !link.is_shut_down();
}

} // namespace valve::config
