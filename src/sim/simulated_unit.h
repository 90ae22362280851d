#pragma once

#include "sim_time.h"
#include "unit_state.h"
#include "wire_record.h"

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

namespace valve::sim {

// The valve unit together with its serial line to the adapter.
//
// Host bytes travel to the unit one byte time apart; the unit collects them
// into lines, handles each complete line when it is free (after the previous
// command's processing and move time), and sends its reply one byte time per
// character. A reply byte becomes readable at the host when its time has come.
// Everything is computed lazily from absolute time points whenever the unit is
// asked, so it needs no thread and no timer of its own.
//
// Behaviour worth knowing:
// - Unknown codes, malformed arguments (anything but two upper-case hex digits
//   after an argument code, or characters after a code that takes none) and
//   out-of-range values get no reply at all and set the last error code (77,
//   or 66 for a position outside 1..12). This holds for "W" too: a "W" whose
//   text is not two hex digits is not acknowledged and writes nothing.
// - A lone CR is ignored. LF is an ordinary character.
// - Commands are handled one after another: a request that arrives during a
//   move is answered after the move.
// - A move turns the shorter way round the twelve positions; homing moves to 1.
class SimulatedUnit {
public:
    using ClockFn = std::function<SimTime()>;
    static constexpr int kMaxLineLength = 32;

    explicit SimulatedUnit(UnitTiming timing = {}, ClockFn clock = &SimClock::now);

    // --- the adapter's side of the line ---

    // Queues host bytes for sending; they leave after any bytes still going out.
    void hostWrite(QByteArrayView bytes);
    // Bytes readable at the host now.
    [[nodiscard]] std::size_t readableCount();
    // Takes up to `max` readable bytes.
    QByteArray takeReadable(std::size_t max);
    // Drops what waits at the host (bytes still on the line arrive later).
    void purgeHostReceive();
    // Drops host bytes that have not reached the unit yet.
    void purgeHostTransmit();
    // The adapter went away: everything on the line and in its queues is lost.
    void dropLine();

    // Carries out everything whose time has come.
    void advance();
    // Earliest time at which something further will happen, if anything will.
    [[nodiscard]] std::optional<SimTime> nextEventTime() const;
    // How many reply bytes have become readable so far, ever.
    [[nodiscard]] std::uint64_t deliveredTotal() const { return deliveredTotal_; }

    // --- the unit ---

    // The accessors below bring the unit up to now first, so that what they
    // show is never stale.
    [[nodiscard]] UnitState& state() {
        advance();
        return state_;
    }
    [[nodiscard]] UnitTiming& timing() { return timing_; }
    [[nodiscard]] WireRecord& wire() {
        advance();
        return wire_;
    }
    // True while the unit is handling a command (a move, say).
    [[nodiscard]] bool busy() {
        advance();
        return clock_() < busyUntil_;
    }
    [[nodiscard]] SimTime now() const { return clock_(); }

    // --- injected faults ---

    // Off: the unit ignores all input and sends nothing; owed replies are lost.
    void setPowered(bool on);
    [[nodiscard]] bool powered() const { return powered_; }
    // Cuts the next replies after `keep` characters.
    void truncateReplies(std::size_t keep, int times = kAlways);
    // Replaces the reply to the next request (with `forCode`: the next request
    // with that code) by `reply`, sent when the real reply would be. The
    // command itself still takes effect. An empty reply means no answer.
    void scriptReply(QByteArray reply, std::optional<char> forCode = std::nullopt);
    // Holds the next replies back for `extra` beyond their normal time; with
    // an extra time past the host's limit this is a late reply.
    void delayReplies(SimDuration extra, int times = kAlways);
    void clearFaults();

private:
    struct TimedByte {
        SimTime at;
        char value;
        // The host began this write while a reply was still owed to it.
        bool sentWhileOwed = false;
    };
    struct PendingLine {
        QByteArray text;
        bool overlong;
        SimTime receivedAt;
    };
    struct ScriptedReply {
        QByteArray reply;
        std::optional<char> forCode;
    };

    void receiveHostByte(const TimedByte& byte);
    void handleLine(const PendingLine& line, SimTime at);
    void deliverReplyByte(const TimedByte& byte);
    [[nodiscard]] bool replyOwed() const;
    QByteArray applyReplyFaults(char code, QByteArray reply);

    UnitTiming timing_;
    ClockFn clock_;
    UnitState state_;
    WireRecord wire_;
    bool powered_ = true;

    std::deque<TimedByte> toUnit_; // host bytes on the line
    std::deque<TimedByte> toHost_; // reply bytes on the line
    QByteArray hostQueue_;         // readable at the host
    QByteArray lineBuffer_;
    bool lineOverlong_ = false;
    std::deque<PendingLine> lines_; // complete lines waiting for the unit
    SimTime hostTxFreeAt_{};
    SimTime unitTxFreeAt_{};
    SimTime busyUntil_{};
    std::uint64_t deliveredTotal_ = 0;

    std::size_t truncateKeep_ = 0;
    FaultCount truncate_;
    SimDuration extraDelay_{0};
    FaultCount delay_;
    std::deque<ScriptedReply> scripts_;
};

} // namespace valve::sim
