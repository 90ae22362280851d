// The link and the device search on the simulated driver when adapters come
// and go (the calls themselves are checked in test_usb_link.cpp).
#include "link_on_adapters.h"
#include "sim/simulated_driver.h"

namespace valve::testing {
namespace {

class SimulatedAdapters : public AdapterRig {
public:
    link::FtdiDriver& driver() override { return driver_; }
    std::size_t plug(const char* description) override {
        return driver_.addAdapter(description, sim::UnitTiming::instant());
    }
    void unplug(std::size_t adapter) override { driver_.unplug(adapter); }
    void replug(std::size_t adapter) override { driver_.replug(adapter); }
    QList<QByteArray> hostLines(std::size_t adapter) override { return driver_.wire(adapter).hostLines(); }

private:
    sim::SimulatedDriver driver_;
};

INSTANTIATE_TEST_SUITE_P(SimulatedDriver, LinkOnAdapters,
                         ::testing::Values(RigMaker{"simulated",
                                                    [] { return std::make_unique<SimulatedAdapters>(); }}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace valve::testing
