// The link's traffic record, checked against what the simulated unit's wire saw.
#include "command_bench.h"
#include "protocol/query_commands.h"
#include "protocol/text_field.h"
#include "record/traffic_text.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <numeric>
#include <thread>

namespace valve::link {
namespace {

using namespace std::chrono_literals;
using record::hexText;
using record::kindText;
using record::TrafficKind;
using record::TrafficRecord;
using record::visibleText;
using testing::CommandBench;

// The entries of the record from `first` on, as "kind bytes", comma-separated.
QString entriesFrom(const TrafficRecord& record, std::uint64_t first) {
    QStringList texts;
    for (auto seq = first; seq < record.endSeq(); ++seq) {
        texts << (kindText(record.at(seq)) + QLatin1Char(' ') + visibleText(record.at(seq).data())).trimmed();
    }
    return texts.join(QStringLiteral(", "));
}

void readStatus(CommandBench& bench) {
    protocol::StoredText box;
    testing::await(protocol::read_status(*bench.session, box));
}

// A command's traffic as the wire saw it, with and without each fault.
TEST(TrafficRecordOnSim, ACommandAndEachFaultAreRecordedAsSuch) {
    // Leaves the reply to a first command to come after its limit, and waits for it.
    const auto lateReply = [](CommandBench& bench) {
        bench.unit().delayReplies(200ms, 1);
        readStatus(bench);
        ASSERT_TRUE(testing::runUntil([&] { return bench.wire().unitBytes().size() == 3; }));
        bench.unit().state().position = 7; // the next reply differs from the stale one
    };
    const struct {
        const char* name;
        std::function<void(CommandBench&)> make;
        const char* lastOperation; // its entries
    } faults[] = {
        {"valvectl's command",
         [](CommandBench& bench) { bench.session->origin = QStringLiteral("valvectl"); },
         "→ sent S␍, ← received 0, ← received 1, ← received ␍"},
        {"time-out", [](CommandBench& bench) { bench.unit().setPowered(false); }, "→ sent S␍, ← timed out"},
        {"late reply", lateReply, "← discarded 01␍, → sent S␍, ← received 0, ← received 7, ← received ␍"},
        {"stale reply that cannot be read away",
         [&](CommandBench& bench) {
             lateReply(bench);
             bench.driver.failCall(sim::DriverCall::Read, ft::OTHER_ERROR);
         },
         "purged (mask 1), → sent S␍, ← received 0, ← received 7, ← received ␍"},
        {"unplug", [](CommandBench& bench) { bench.driver.unplug(0); },
         "→ write failed S␍, ← read failed (code 4)"},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.name);
        CommandBench bench(sim::UnitTiming{});
        TrafficRecord& record = bench.link->traffic();
        fault.make(bench);
        const auto first = record.endSeq();
        readStatus(bench);
        EXPECT_EQ(entriesFrom(record, first), QString::fromUtf8(fault.lastOperation));
        EXPECT_EQ(record.operationLabel(record.at(first).operation),
                  bench.session->origin.isEmpty() ? "Read Status" : "valvectl: Read Status");
    }
}

TEST(TrafficRecord, TimesEachReplyFromItsRequestKeepsTheLatestEntriesAndShowsEveryByteValue) {
    TrafficRecord record;
    record.beginOperation(QStringLiteral("two requests in one turn")); // a memory write, say
    const auto replyTime = [&](const char* request) {
        record.add(TrafficKind::Sent, request, 4);
        std::this_thread::sleep_for(request[0] == 'I' ? 50ms : 0ms);
        record.add(TrafficKind::Received, "\r", 1);
        return std::chrono::microseconds{record.at(record.endSeq() - 1).sinceRequestUs};
    };
    EXPECT_GE(replyTime("I20\r"), 50ms);
    EXPECT_LT(replyTime("W14\r"), 50ms) << "counted from its own request";
    record.endOperation();

    QByteArray everyByte(256, '\0');
    std::iota(everyByte.begin(), everyByte.end(), '\0');
    const auto first = record.endSeq();
    record.beginOperation(QStringLiteral("first"));
    record.add(TrafficKind::Discarded, everyByte.constData(), everyByte.size());
    EXPECT_EQ(record.endSeq() - first, 20u); // 13 bytes an entry
    QString text, hex;
    for (auto seq = first; seq < record.endSeq(); ++seq) {
        text += visibleText(record.at(seq).data());
        hex += hexText(record.at(seq).data()) + QLatin1Char(' ');
    }
    EXPECT_EQ(text.size(), 256);
    EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); }));
    EXPECT_EQ(QByteArray::fromHex(hex.toLatin1()), everyByte);

    // Written past its 100'000 entries, the ring keeps the latest, each in its place.
    record.endOperation();
    record.beginOperation(QStringLiteral("second"));
    const auto stamp = [](std::uint64_t n) { return QByteArray::number(static_cast<qulonglong>(n)); };
    for (std::uint64_t n = 0; n < TrafficRecord::kCapacity; ++n) {
        record.add(TrafficKind::Received, stamp(n).constData(), static_cast<std::size_t>(stamp(n).size()));
    }
    const auto kept = record.firstSeq();
    EXPECT_EQ(kept, first + 20);
    auto seq = kept;
    while (seq < record.endSeq() && record.at(seq).data() == stamp(seq - kept)) {
        ++seq;
    }
    EXPECT_EQ(seq, record.endSeq()) << "entry " << seq << " holds " << record.at(seq).data().toStdString();
    EXPECT_EQ(std::tuple(record.at(kept).operation, record.operationLabel(2), record.operationLabel(3)),
              std::tuple(3u, QString(), QString("second")));
}

} // namespace
} // namespace valve::link
