#pragma once

// The link on adapters that come and go, for the simulated driver and for libftdi1 on emulated chips.
#include "coro_test.h"
#include "link/device_search.h"
#include "link/usb_link.h"
#include "prompt_doubles.h"
#include "protocol/exchange.h"
#include "record/event_log.h"

#include <QElapsedTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace valve::testing {

using namespace std::chrono_literals;

// Adapters with a simulated unit behind each.
class AdapterRig {
public:
    virtual ~AdapterRig() = default;
    virtual link::FtdiDriver& driver() = 0;
    virtual std::size_t plug(const char* description) = 0;
    virtual void unplug(std::size_t adapter) = 0;
    virtual void replug(std::size_t adapter) = 0;
    // The command lines its unit has received.
    virtual QList<QByteArray> hostLines(std::size_t adapter) = 0;
};

// The link on a rig's driver, with the backend's lines in the events log.
struct LinkRig {
    explicit LinkRig(std::unique_ptr<AdapterRig> adapters, link::LinkTiming timing = {100ms, 50ms, 1ms})
        : rig(std::move(adapters)), link{rig->driver(), search, log, timing} {
        rig->driver().setDiagnosticSink([this](const QString& line) { log.show_msg(line); });
    }
    bool configure() { return await(link.configure_usb_connection()); }
    QByteArray ask(const char* line, int replyLength = 3) {
        await(exchange.run(line, replyLength));
        return QByteArray(exchange.reply_buf().slot.data(), replyLength);
    }
    std::uint32_t queued() {
        std::uint32_t count = 0;
        EXPECT_EQ(rig->driver().getQueueStatus(link.usb_handle(), count), link::ft::OK);
        return count;
    }

    std::unique_ptr<AdapterRig> rig;
    PickingChooser chooser;
    record::EventLog log;
    link::DeviceSearch search{rig->driver(), chooser, log};
    link::UsbLink link;
    protocol::Exchange exchange{link};
};

// Each instantiation names its rig.
using MakeRig = std::unique_ptr<AdapterRig> (*)();
class LinkOnAdapters : public ::testing::TestWithParam<MakeRig>, public LinkRig {
protected:
    LinkOnAdapters() : LinkRig(GetParam()()) {}
};

// Each check that finds the handle dead closes it, searches, and reconnects or pauses.
TEST_P(LinkOnAdapters, AnAdapterThatComesAndGoesIsReconnectedByTheNextCheck) {
    EXPECT_FALSE(configure());
    const auto unit = rig->plug("NR Valve");
    EXPECT_TRUE(await(link.check_usb_connection()));
    // Handle 0 is rejected by the driver, so the failed close leads the log.
    const QStringList reconnected{"Trying to close USB Port - Failed", "Found 1 Nerra unit through USB"};
    EXPECT_EQ(log.lines(), reconnected);
    EXPECT_EQ(ask("S\r"), "01\r");

    rig->unplug(unit);
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(await(link.check_usb_connection()));
    EXPECT_GE(clock.elapsed(), 50) << "the reconnect pause";
    EXPECT_EQ(log.lines(), (QStringList{"Trying to close USB Port - Failed",
                                        "Error - Could not find any Nerra Devices through USB",
                                        "Could not reestablish connection"}));
    // A command sent on the dead handle fails at its write and its read.
    link.send_command("S\r");
    EXPECT_EQ(log.lines().last(), "USB Error - could not write to device");
    EXPECT_NE(await(link.read_char()).code, 0);

    rig->replug(unit);
    EXPECT_TRUE(await(link.check_usb_connection()));
    EXPECT_EQ(log.lines(), reconnected) << "the handle from before the unplug stays dead";
    EXPECT_EQ(ask("S\r"), "01\r");
    EXPECT_EQ(rig->hostLines(unit).last(), "S\r");
}

TEST_P(LinkOnAdapters, RepliesKeepTheirOrderAndStaleOnesAreDropped) {
    const auto unit = rig->plug("NR Valve");
    ASSERT_TRUE(configure());
    EXPECT_EQ(ask("P05\r", 1), "\r");
    EXPECT_EQ(ask("S\r"), "05\r");
    // An unread reply, taken up while the link reads or after it rests, is not the next one's.
    for (const auto quiet : {0ms, 200ms}) {
        link.write_str("R\r");
        ASSERT_TRUE(runUntil([&] { return queued() == 3; })) << "the reply arrives";
        runUntil([] { return false; }, quiet); // past the grace: the backend stops reading
        EXPECT_EQ(ask("S\r"), "05\r") << quiet.count() << " ms";
    }
    EXPECT_EQ(rig->hostLines(unit).size(), 6);
    EXPECT_TRUE(log.lines().mid(1).isEmpty());
}

} // namespace valve::testing
