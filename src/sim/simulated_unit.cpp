#include "simulated_unit.h"

#include "command_line.h"
#include "unit_commands.h"

#include <algorithm>

namespace valve::sim {

namespace {

using Direction = WireRecord::Direction;

// Which kind of event comes next; on equal times a reply byte is delivered
// before the unit handles a line, and both before a host byte arrives.
enum class Event { None, ReplyByte, Line, HostByte };

} // namespace

SimulatedUnit::SimulatedUnit(UnitTiming timing, ClockFn clock) : timing_(timing), clock_(std::move(clock)) {}

void SimulatedUnit::hostWrite(QByteArrayView bytes) {
    advance();
    // A reply still on its way, or out but not yet read, when the host begins
    // the write makes it an overlap even if the reply is complete by the time
    // the first byte reaches the unit.
    bool owed = replyOwed() || !hostQueue_.isEmpty();
    SimTime at = std::max(clock_(), hostTxFreeAt_);
    for (const char c : bytes) {
        at += timing_.byteTime;
        toUnit_.push_back({at, c, owed});
        owed = false;
    }
    hostTxFreeAt_ = at;
    advance();
}

std::size_t SimulatedUnit::readableCount() {
    advance();
    return static_cast<std::size_t>(hostQueue_.size());
}

QByteArray SimulatedUnit::takeReadable(std::size_t max) {
    advance();
    const auto count =
        static_cast<qsizetype>(std::min<std::size_t>(max, static_cast<std::size_t>(hostQueue_.size())));
    QByteArray taken = hostQueue_.first(count);
    hostQueue_.remove(0, count);
    return taken;
}

void SimulatedUnit::purgeHostReceive() {
    advance();
    hostQueue_.clear();
}

void SimulatedUnit::purgeHostTransmit() {
    advance();
    toUnit_.clear();
    hostTxFreeAt_ = clock_();
}

void SimulatedUnit::dropLine() {
    advance();
    const SimTime now = clock_();
    toUnit_.clear();
    toHost_.clear();
    hostQueue_.clear();
    lineBuffer_.clear();
    lineOverlong_ = false;
    lines_.clear();
    hostTxFreeAt_ = now;
    unitTxFreeAt_ = now;
}

std::optional<SimTime> SimulatedUnit::nextEventTime() const {
    std::optional<SimTime> next;
    auto consider = [&next](SimTime t) { next = next ? std::min(*next, t) : t; };
    if (!toHost_.empty()) {
        consider(toHost_.front().at);
    }
    if (!lines_.empty()) {
        consider(std::max(lines_.front().receivedAt, busyUntil_));
    }
    if (!toUnit_.empty()) {
        consider(toUnit_.front().at);
    }
    return next;
}

void SimulatedUnit::advance() {
    const SimTime now = clock_();
    for (;;) {
        Event event = Event::None;
        SimTime when = now;
        auto consider = [&](Event candidate, SimTime t) {
            if (t <= now && (event == Event::None || t < when)) {
                event = candidate;
                when = t;
            }
        };
        if (!toHost_.empty()) {
            consider(Event::ReplyByte, toHost_.front().at);
        }
        if (!lines_.empty()) {
            consider(Event::Line, std::max(lines_.front().receivedAt, busyUntil_));
        }
        if (!toUnit_.empty()) {
            consider(Event::HostByte, toUnit_.front().at);
        }
        switch (event) {
        case Event::None:
            return;
        case Event::ReplyByte:
            deliverReplyByte(toHost_.front());
            toHost_.pop_front();
            break;
        case Event::Line: {
            const PendingLine line = lines_.front();
            lines_.pop_front();
            handleLine(line, when);
            break;
        }
        case Event::HostByte: {
            const TimedByte byte = toUnit_.front();
            toUnit_.pop_front();
            receiveHostByte(byte);
            break;
        }
        }
    }
}

bool SimulatedUnit::replyOwed() const {
    if (!toHost_.empty()) {
        return true;
    }
    return std::any_of(lines_.begin(), lines_.end(),
                       [](const PendingLine& line) { return parseCommandLine(line.text).valid(); });
}

void SimulatedUnit::receiveHostByte(const TimedByte& byte) {
    if (lineBuffer_.isEmpty() && !lineOverlong_ && (replyOwed() || byte.sentWhileOwed)) {
        wire_.addOverlap(byte.at);
    }
    wire_.addByte(Direction::HostToUnit, byte.value, byte.at);
    if (!powered_) {
        return;
    }
    if (byte.value == '\r') {
        lines_.push_back({lineBuffer_, lineOverlong_, byte.at});
        lineBuffer_.clear();
        lineOverlong_ = false;
    } else if (lineBuffer_.size() < kMaxLineLength) {
        lineBuffer_.append(byte.value);
    } else {
        lineOverlong_ = true;
    }
}

void SimulatedUnit::handleLine(const PendingLine& line, SimTime at) {
    ParsedCommand command = parseCommandLine(line.text);
    if (line.overlong) {
        command.kind = ParsedCommand::Kind::BadArgument;
    }
    const CommandOutcome outcome = executeCommand(command, state_);
    busyUntil_ = at + timing_.processingTime + timing_.moveTimePerStep * outcome.moveSteps;
    if (line.text.isEmpty()) {
        return;
    }
    const QByteArray reply = applyReplyFaults(line.text.front(), outcome.reply);
    if (reply.isEmpty()) {
        return;
    }
    SimTime start = busyUntil_;
    if (delay_.take()) {
        start += extraDelay_;
    }
    start = std::max(start, unitTxFreeAt_);
    for (const char c : reply) {
        start += timing_.byteTime;
        toHost_.push_back({start, c});
    }
    unitTxFreeAt_ = start;
}

QByteArray SimulatedUnit::applyReplyFaults(char code, QByteArray reply) {
    const auto script = std::find_if(scripts_.begin(), scripts_.end(), [code](const ScriptedReply& s) {
        return !s.forCode || *s.forCode == code;
    });
    if (script != scripts_.end()) {
        reply = script->reply;
        scripts_.erase(script);
    }
    if (!reply.isEmpty() && truncate_.take()) {
        reply.truncate(static_cast<qsizetype>(
            std::min<std::size_t>(truncateKeep_, static_cast<std::size_t>(reply.size()))));
    }
    return reply;
}

void SimulatedUnit::deliverReplyByte(const TimedByte& byte) {
    wire_.addByte(Direction::UnitToHost, byte.value, byte.at);
    hostQueue_.append(byte.value);
    ++deliveredTotal_;
}

void SimulatedUnit::setPowered(bool on) {
    advance();
    if (powered_ == on) {
        return;
    }
    powered_ = on;
    const SimTime now = clock_();
    // Switching off loses the line being typed, the lines not yet handled and
    // the rest of any reply being sent; the valve stays where it is.
    lineBuffer_.clear();
    lineOverlong_ = false;
    lines_.clear();
    toHost_.clear();
    unitTxFreeAt_ = now;
    busyUntil_ = now;
    state_.selectedAddress = 0;
}

void SimulatedUnit::truncateReplies(std::size_t keep, int times) {
    truncateKeep_ = keep;
    truncate_ = FaultCount(times);
}

void SimulatedUnit::scriptReply(QByteArray reply, std::optional<char> forCode) {
    scripts_.push_back({std::move(reply), forCode});
}

void SimulatedUnit::delayReplies(SimDuration extra, int times) {
    extraDelay_ = extra;
    delay_ = FaultCount(times);
}

void SimulatedUnit::clearFaults() {
    truncate_ = FaultCount();
    delay_ = FaultCount();
    scripts_.clear();
}

} // namespace valve::sim
