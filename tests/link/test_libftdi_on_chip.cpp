// The libftdi1 backend on emulated FTDI chips: the real libftdi1 over a
// stand-in libusb (tests/link/emulated_usb), each chip with a simulated unit
// on its serial line at 19200 baud.
#include "emulated_usb/unit_on_line.h"
#include "link/libftdi_driver.h"
#include "link_on_adapters.h"

namespace valve::testing {
namespace {

using usbchip::Bus;
using usbchip::Chip;
using usbchip::ChipType;
using usbchip::UnitOnLine;

// The unit's own timing, but quick moves.
constexpr sim::UnitTiming kUnitTiming{sim::kByteTime19200, 200us, 1ms};

Chip adapter(const std::string& product, std::uint8_t port, ChipType type = ChipType::FT232R) {
    Chip chip;
    chip.type = type;
    chip.product = product;
    chip.serial = "FT" + std::to_string(port);
    chip.ports = {1, port};
    chip.peer = std::make_shared<UnitOnLine>(kUnitTiming);
    return chip;
}

sim::SimulatedUnit& unitOf(const Chip& chip) {
    return static_cast<UnitOnLine&>(*chip.peer).unit;
}

class EmulatedAdapters : public AdapterRig {
public:
    ~EmulatedAdapters() override { Bus::get().unplugAll(); }
    link::FtdiDriver& driver() override { return driver_; }
    std::size_t plug(const char* description) override {
        chips_.push_back(Bus::get().plug(adapter(description, static_cast<std::uint8_t>(chips_.size() + 1))));
        return chips_.size() - 1;
    }
    void unplug(std::size_t adapter) override { Bus::get().unplug(chips_.at(adapter)); }
    void replug(std::size_t adapter) override { Bus::get().replug(chips_.at(adapter)); }
    QList<QByteArray> hostLines(std::size_t adapter) override {
        const auto lock = Bus::get().lock();
        return unitOf(Bus::get().chip(chips_.at(adapter))).wire().hostLines();
    }

private:
    std::vector<usbchip::ChipId> chips_;
    link::LibftdiDriver driver_{{Bus::get().sysRoot(), Bus::get().procRoot(), true}};
};

INSTANTIATE_TEST_SUITE_P(LibftdiOnEmulatedChip, LinkOnAdapters,
                         ::testing::Values(RigMaker{"libftdi1",
                                                    [] { return std::make_unique<EmulatedAdapters>(); }}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace valve::testing
