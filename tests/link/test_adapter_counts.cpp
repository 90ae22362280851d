// How many adapters a search looks at, whatever count the driver reports.
#include "link/backends/fallback_driver.h"
#include "link/backends/libftdi_driver.h"
#include "link/device_search.h"
#include "prompt_doubles.h"
#include "record/event_log.h"
#include "sim/simulated_driver.h"

#include <gtest/gtest.h>

namespace valve::link {
namespace {

// A driver that reports `attached` adapters, each of them free and named "u".
class ReportedAdapters : public sim::SimulatedDriver {
public:
    explicit ReportedAdapters(std::uint32_t attached) : attached_(attached) {}
    FtStatus createDeviceInfoList(std::uint32_t& count) override { return count = attached_, ft::OK; }
    FtStatus getDeviceInfoDetail(std::uint32_t /*index*/, DeviceInfoDetail& detail) override {
        detail.description[0] = 'u';
        return ft::OK;
    }

private:
    std::uint32_t attached_;
};

// The search counts in a signed 16-bit number; the combined backend lists at most 1024 of D2XX's.
TEST(AdapterCounts, ASearchLooksAtNoMoreThanItCanCount) {
    const struct {
        std::uint32_t attached;
        std::uint32_t listed;
        std::int16_t found;
    } cases[] = {
        {1023, 1023, 1023},
        {1024, 1024, 1024},
        {1025, 1024, 1025},
        {32766, 1024, 32766},
        {32767, 1024, 32767},
        {32768, 1024, 32767},
        {4'000'000'000U, 1024, 32767},
    };
    for (const auto& c : cases) {
        FallbackDriver fallback(std::make_unique<ReportedAdapters>(c.attached), nullptr);
        std::uint32_t listed = 0;
        ASSERT_EQ(fallback.createDeviceInfoList(listed), ft::OK);
        EXPECT_EQ(listed, c.listed) << c.attached;
        ReportedAdapters driver(c.attached);
        testing::PickingChooser chooser;
        record::EventLog log;
        DeviceSearch search(driver, chooser, log);
        EXPECT_EQ(search.FindDevices(), c.found) << c.attached;
    }
}

} // namespace
} // namespace valve::link
