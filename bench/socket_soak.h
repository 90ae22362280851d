#pragma once

// The demo panel under load through its socket: three clients at once, all in
// this process so that only the panel sets the pace. One moves the valve and
// reads it back, one reads the position, one reads the firmware and the
// clock. The demo's unit has no line or move time (--fast), only its 0.2 ms
// to answer: what is measured is the panel's own work per command, with the
// commands still waiting for each other in its queue. Its resident size and
// open descriptors are sampled every 1,000 commands.
//
// Each outcome is checked against what the panel answered to the same
// commands with no other client about: a value that differs is wrong, and
// every output or log line beyond the count it had then is a foreign one,
// another client's line in this client's answer.
#include "bench_support.h"
#include "panel_process.h"
#include "remote/messages.h"

#include <QJsonArray>
#include <QLocalSocket>
#include <array>
#include <functional>
#include <map>

namespace valve::bench {

class SocketSoak {
public:
    static constexpr int kCommands = 100'000;
    static constexpr int kSampleEvery = 1'000;
    static constexpr int kAloneCommands = 2'000;
    static constexpr std::chrono::milliseconds kSettle{500};

    // `commands`: fewer for a quick look, more for a longer soak.
    explicit SocketSoak(int commands = kCommands) : commands_(std::max(commands, 2 * kSampleEvery)) {}

    // False (with a note on stderr) when the panel did not come up or a
    // client lost its connection.
    bool report(Report& report) {
        if (!panel_.start({QStringLiteral("--fast")})) {
            return false;
        }
        if (!calibrate()) {
            return false;
        }
        const auto aloneStarted = std::chrono::steady_clock::now();
        if (!drive({Role::Reader}, kAloneCommands)) {
            return false;
        }
        const double aloneRate = kAloneCommands / secondsSince(aloneStarted);
        wrong_ = 0;
        foreign_ = 0;
        mixed_ = 0;
        settle();
        sample(0);
        const int fdsBefore = samples_.back().fds;
        const auto started = std::chrono::steady_clock::now();
        if (!drive({Role::Mover, Role::Reader, Role::Identity}, commands_)) {
            return false;
        }
        const double rate = done_ / secondsSince(started);
        settle();
        add(report, rate, aloneRate, fdsBefore, panel_.openDescriptors());
        return true;
    }

private:
    enum class Role { Mover, Reader, Identity };
    struct Sample {
        int commands;
        double residentMb;
        int fds;
    };
    // What a command got when it ran alone: its value and how many lines.
    struct Reference {
        QJsonValue value;
        qsizetype output = 0;
        qsizetype log = 0;
    };
    struct Client {
        Role role;
        QLocalSocket socket;
        QStringList words; // the command under way
        int turn = 0;
        // A reader's window onto the mover: the last move done when it asked.
        int movesDoneAtAsk = 0;
    };

    // Each command once, alone: the references for values and line counts.
    bool calibrate() {
        std::optional<QJsonObject> status = alone({QStringLiteral("status")});
        if (!status) {
            return false;
        }
        start_position_ = status->value(QStringLiteral("position")).toInt();
        const int target = start_position_ % 12 + 1;
        for (const QStringList& words :
             {QStringList{QStringLiteral("move"), QString::number(target)},
              QStringList{QStringLiteral("status")}, QStringList{QStringLiteral("firmware")},
              QStringList{QStringLiteral("clock")}}) {
            const std::optional<QJsonObject> outcome = alone(words);
            if (!outcome || outcome->value(QStringLiteral("exit_code")).toInt() != 0) {
                std::fprintf(stderr, "soak: %s failed alone\n", qPrintable(words.join(' ')));
                return false;
            }
            references_[words.front()] = {valueOf(words.front(), *outcome),
                                          outcome->value(QStringLiteral("output")).toArray().size(),
                                          outcome->value(QStringLiteral("log")).toArray().size()};
        }
        start_position_ = target;
        position_ = target;
        return true;
    }

    std::optional<QJsonObject> alone(const QStringList& words) {
        QLocalSocket socket;
        socket.connectToServer(panel_.socketPath());
        socket.write(remote::encode(remote::type::kCommand,
                                    {{QStringLiteral("words"), QJsonArray::fromStringList(words)}}));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds{10};
        while (!socket.canReadLine() && std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        }
        const remote::Message message = remote::decode(socket.readLine().trimmed());
        if (message.type != remote::type::kOutcome) {
            std::fprintf(stderr, "soak: no outcome for %s\n", qPrintable(words.join(' ')));
            return std::nullopt;
        }
        return message.body;
    }

    static QJsonValue valueOf(const QString& command, const QJsonObject& outcome) {
        static const std::map<QString, QString> kKeys{
            {QStringLiteral("move"), QStringLiteral("position")},
            {QStringLiteral("status"), QStringLiteral("position")},
            {QStringLiteral("firmware"), QStringLiteral("firmware")},
            {QStringLiteral("clock"), QStringLiteral("clock_mhz")}};
        return outcome.value(kKeys.at(command));
    }

    // Runs the clients until `commands` outcomes have come back between them.
    bool drive(const std::vector<Role>& roles, int commands) {
        bool lost = false; // before the clients: their sockets may report as they go
        std::vector<std::unique_ptr<Client>> clients;
        done_ = 0;
        target_ = commands;
        for (const Role role : roles) {
            auto client = std::make_unique<Client>();
            client->role = role;
            Client* raw = client.get();
            QObject::connect(&raw->socket, &QLocalSocket::readyRead, [this, raw] { receive(*raw); });
            QObject::connect(&raw->socket, &QLocalSocket::disconnected, [&lost] { lost = true; });
            raw->socket.connectToServer(panel_.socketPath());
            clients.push_back(std::move(client));
        }
        for (const auto& client : clients) {
            ask(*client);
        }
        while (done_ < target_ && !lost) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        }
        if (lost) {
            std::fprintf(stderr, "soak: the panel dropped a client after %d commands\n", done_);
        }
        return !lost;
    }

    void ask(Client& client) {
        switch (client.role) {
        case Role::Mover:
            if (client.turn % 2 == 0) {
                moves_.push_back(position_ % 12 + 1);
                client.words = {QStringLiteral("move"), QString::number(moves_.back())};
            } else {
                client.words = {QStringLiteral("status")};
            }
            break;
        case Role::Reader:
            client.movesDoneAtAsk = movesDone_;
            client.words = {QStringLiteral("status")};
            break;
        case Role::Identity:
            client.words = {client.turn % 2 == 0 ? QStringLiteral("firmware") : QStringLiteral("clock")};
            break;
        }
        ++client.turn;
        client.socket.write(remote::encode(
            remote::type::kCommand, {{QStringLiteral("words"), QJsonArray::fromStringList(client.words)}}));
    }

    void receive(Client& client) {
        while (client.socket.canReadLine()) {
            const remote::Message message = remote::decode(client.socket.readLine().trimmed());
            check(client, message);
            ++done_;
            if (done_ % kSampleEvery == 0) {
                sample(done_);
            }
            if (done_ < target_) {
                ask(client);
            }
        }
    }

    void check(const Client& client, const remote::Message& message) {
        const QString& command = client.words.front();
        const Reference& reference = references_.at(command);
        const QJsonObject& body = message.body;
        // The same foreign line shows in both the output and the log: it counts once.
        const qsizetype foreign =
            std::max({qsizetype{0}, body.value(QStringLiteral("output")).toArray().size() - reference.output,
                      body.value(QStringLiteral("log")).toArray().size() - reference.log});
        foreign_ += foreign;
        mixed_ += foreign > 0 ? 1 : 0;
        const QJsonValue value = valueOf(command, body);
        bool right =
            message.type == remote::type::kOutcome && body.value(QStringLiteral("exit_code")).toInt(-1) == 0;
        if (client.role == Role::Mover && command == QLatin1String("move")) {
            right = right && value.toInt() == client.words.at(1).toInt();
            position_ = value.toInt();
            ++movesDone_;
        } else if (client.role == Role::Mover) {
            right = right && value.toInt() == position_;
        } else if (client.role == Role::Reader) {
            right = right && readerSaw(client, value.toInt());
        } else {
            right = right && value == reference.value;
        }
        wrong_ += right ? 0 : 1;
    }

    // A reader's position is one the valve stood at or was sent to while it
    // asked: from the last move done when it asked to the last one sent.
    bool readerSaw(const Client& client, int position) const {
        if (client.movesDoneAtAsk == 0 && position == start_position_) {
            return true;
        }
        for (std::size_t move = std::max(client.movesDoneAtAsk, 1) - 1; move < moves_.size(); ++move) {
            if (moves_[move] == position) {
                return true;
            }
        }
        return false;
    }

    void sample(int commands) {
        samples_.push_back({commands, panel_.residentKb() / 1024.0, panel_.openDescriptors()});
    }

    [[nodiscard]] const Sample& sampleAt(int commands) const {
        return *std::find_if(samples_.begin(), samples_.end(),
                             [commands](const Sample& s) { return s.commands >= commands; });
    }

    // Lets the panel take note of clients that went.
    static void settle() {
        const auto until = std::chrono::steady_clock::now() + kSettle;
        while (std::chrono::steady_clock::now() < until) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
    }

    void add(Report& report, double rate, double aloneRate, int fdsBefore, int fdsAfter) const {
        const Sample& first = samples_.front();
        const Sample& half = sampleAt(commands_ / 2);
        const Sample& last = samples_.back();
        report.add("soak_commands", done_, "commands through the socket, three clients at once");
        report.add("soak_commands_per_s", rate, "commands a second, three clients");
        report.add("soak_alone_commands_per_s", aloneRate, "(reference: one client reading the position)");
        report.add("soak_resident_start_mb", first.residentMb, "MB, panel's VmRSS before the soak");
        const std::string half_ = std::to_string(half.commands);
        report.add("soak_resident_half_mb", half.residentMb,
                   "MB, after " + half_ + " commands (events log and traffic record full from about 30,000)");
        report.add("soak_resident_end_mb", last.residentMb, "MB, after the last command");
        report.add("soak_growth_last_half_mb", last.residentMb - half.residentMb,
                   "MB, growth over the last " + std::to_string(last.commands - half.commands) + " commands");
        report.add("soak_growth_first_half_mb", half.residentMb - first.residentMb,
                   "MB (reference: the first " + half_ + ", records filling)");
        report.add("soak_fds_start", fdsBefore, "panel's open descriptors before the soak, no client");
        report.add("soak_fds_end", fdsAfter, "after it, its clients gone");
        report.add("soak_fds_left", fdsAfter - fdsBefore, "descriptors the soak left open");
        report.add("soak_wrong_values", wrong_, "outcomes with a wrong value or a failure");
        report.add("soak_foreign_lines", foreign_, "lines of other clients' commands in outcomes");
        report.add("soak_outcomes_with_foreign_lines", mixed_, "outcomes holding any");
    }

    static double secondsSince(std::chrono::steady_clock::time_point started) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    }

    int commands_;
    PanelProcess panel_;
    std::map<QString, Reference> references_;
    std::vector<int> moves_; // every target the mover sent, in order
    int movesDone_ = 0;
    int position_ = 0; // where the mover's last move took the valve
    int start_position_ = 0;
    int done_ = 0;
    int target_ = 0;
    long long wrong_ = 0;
    long long foreign_ = 0;
    long long mixed_ = 0;
    std::vector<Sample> samples_;
};

} // namespace valve::bench
