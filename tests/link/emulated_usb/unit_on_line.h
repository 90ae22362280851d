#pragma once

#include "emulated_usb.h"
#include "sim/simulated_unit.h"

#include <limits>

namespace usbchip {

// A simulated unit on a chip's line. Use with the bus locked.
class UnitOnLine : public SerialPeer {
public:
    explicit UnitOnLine(valve::sim::UnitTiming timing = {}) : unit(timing) { unit.wire().setEnabled(true); }

    void fromHost(std::string_view bytes) override {
        unit.hostWrite(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    }
    std::string toHost() override {
        return unit.takeReadable(std::numeric_limits<std::size_t>::max()).toStdString();
    }
    void dropUnsent() override { unit.purgeHostTransmit(); }
    std::optional<Clock::time_point> nextByteAt() override { return unit.nextEventTime(); }

    valve::sim::SimulatedUnit unit;
};

} // namespace usbchip
