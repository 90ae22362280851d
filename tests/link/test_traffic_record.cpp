// The link's traffic record, checked against what the simulated unit's wire saw.
#include "command_bench.h"
#include "link/traffic_text.h"
#include "protocol/query_commands.h"
#include "protocol/text_field.h"

#include <gtest/gtest.h>

namespace valve::link {
namespace {

using namespace std::chrono_literals;
using testing::CommandBench;

// The entries of the record from `first` on, as "kind bytes", comma-separated.
QString entriesFrom(const TrafficRecord& record, std::uint64_t first) {
    QStringList texts;
    for (auto seq = first; seq < record.endSeq(); ++seq) {
        const TrafficEntry& entry = record.at(seq);
        texts << (kindText(entry) + QLatin1Char(' ') + visibleText(entry.data())).trimmed();
    }
    return texts.join(QStringLiteral(", "));
}

void readStatus(CommandBench& bench) {
    protocol::StoredText box;
    testing::await(protocol::read_status(*bench.session, box));
}

TEST(TrafficRecordOnSim, ACommandIsRecordedAsTheWireSawItUnderItsLabel) {
    CommandBench bench(sim::UnitTiming{});
    bench.session->origin = QStringLiteral("valvectl");
    TrafficRecord& record = bench.link->traffic();
    const auto first = record.endSeq();
    readStatus(bench);

    EXPECT_EQ(entriesFrom(record, first), "→ sent S␍, ← received 0, ← received 1, ← received ␍");
    EXPECT_EQ(record.at(first).operation, 1u);
    EXPECT_EQ(record.operationLabel(1), "valvectl: Read Status");
    QByteArray sent;
    QByteArray received;
    for (auto seq = first; seq < record.endSeq(); ++seq) {
        (record.at(seq).kind == TrafficKind::Sent ? sent : received) += record.at(seq).data();
    }
    EXPECT_EQ(sent, bench.wire().hostBytes());
    EXPECT_EQ(received, bench.wire().unitBytes());
    // A reply byte is taken no earlier than the wire made it readable,
    // counted from the write (one byte time before the unit had the first byte).
    const auto& bytes = bench.wire().bytes();
    const auto onWire = bytes.back().at - (bytes.front().at - sim::kByteTime19200);
    const auto taken = std::chrono::microseconds{record.at(record.endSeq() - 1).sinceRequestUs};
    EXPECT_GE(taken + 1us, onWire);
    EXPECT_LT(taken, onWire + 500ms);
}

struct Fault {
    const char* name;
    std::function<void(CommandBench&)> make;
    const char* lastOperation; // its entries
};

TEST(TrafficRecordOnSim, TimeOutLateReplyPurgeAndUnplugAreRecordedAsSuch) {
    // Leaves the reply to a first command to come after its limit, and waits for it.
    const auto lateReply = [](CommandBench& bench) {
        bench.unit().delayReplies(200ms, 1);
        readStatus(bench);
        ASSERT_TRUE(testing::runUntil([&] { return bench.wire().unitBytes().size() == 3; }));
    };
    const Fault faults[] = {
        {"time-out", [](CommandBench& bench) { bench.unit().setPowered(false); }, "→ sent S␍, ← timed out"},
        {"late reply", lateReply, "← discarded 01␍, → sent S␍, ← received 0, ← received 1, ← received ␍"},
        {"purge",
         [&](CommandBench& bench) {
             lateReply(bench);
             bench.driver.failCall(sim::DriverCall::Read, ft::OTHER_ERROR);
         },
         "purged (mask 1), → sent S␍, ← received 0, ← received 1, ← received ␍"},
        {"unplug", [](CommandBench& bench) { bench.driver.unplug(0); },
         "→ write failed S␍, ← read failed (code 4)"},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.name);
        CommandBench bench(sim::UnitTiming{});
        TrafficRecord& record = bench.link->traffic();
        fault.make(bench);
        const auto first = record.endSeq();
        readStatus(bench);
        EXPECT_EQ(entriesFrom(record, first), QString::fromUtf8(fault.lastOperation));
        EXPECT_EQ(record.operationLabel(record.at(first).operation), "Read Status");
    }
}

TEST(TrafficRecord, KeepsTheLatestEntriesAndShowsEveryByteValue) {
    TrafficRecord record;
    QByteArray everyByte;
    for (int value = 0; value < 256; ++value) {
        everyByte += static_cast<char>(value);
    }
    record.beginOperation(QStringLiteral("first"));
    record.add(TrafficKind::Discarded, everyByte.constData(), everyByte.size());
    EXPECT_EQ(record.endSeq(), 20u); // 13 bytes an entry
    QString text;
    QString hex;
    for (auto seq = record.firstSeq(); seq < record.endSeq(); ++seq) {
        text += visibleText(record.at(seq).data());
        hex += hexText(record.at(seq).data()) + QLatin1Char(' ');
    }
    EXPECT_EQ(text.size(), 256);
    EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); }));
    EXPECT_EQ(QByteArray::fromHex(hex.toLatin1()), everyByte);

    record.endOperation();
    record.beginOperation(QStringLiteral("second"));
    for (std::size_t i = 0; i < TrafficRecord::kCapacity; ++i) {
        record.add(TrafficKind::Received, "x", 1);
    }
    EXPECT_EQ(record.firstSeq(), 20u);
    EXPECT_EQ(record.at(record.firstSeq()).operation, 2u);
    EXPECT_EQ(record.operationLabel(1), QString());
    EXPECT_EQ(record.operationLabel(2), "second");
}

} // namespace
} // namespace valve::link
