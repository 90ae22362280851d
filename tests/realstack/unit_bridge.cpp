// The valve unit behind QEMU's emulated FTDI chip, for the real-stack test.
//
// QEMU's usb-serial carries the chip's serial line to a Unix socket. This
// program listens there and answers as the simulated unit, at the wire's
// pace: a byte a byte time, the unit's processing and move times. QEMU is on
// the bus only while that connection stands, so closing it unplugs the
// adapter and listening again lets QEMU's reconnect plug it back in.
//
// On a second socket (a virtio serial port in the guest) it takes one order a
// line and answers each with one line:
//   state            "position 7"
//   received         what reached the unit since the last "forget", percent-encoded (CR as %0D)
//   forget           "ok"
//   silent, speak    the unit stops answering, or answers again: "ok"
//   unplug, replug   "ok"
// Usage: unit_bridge LINE_SOCKET CONTROL_SOCKET
#include "sim/simulated_unit.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <cstdio>
#include <limits>
#include <utility>

namespace {

using valve::sim::SimClock;

class Bridge : public QObject {
public:
    Bridge(QString linePath, const QString& controlPath) : linePath_(std::move(linePath)) {
        unit_.wire().setEnabled(true); // the guest asks what the unit received
        pace_.setSingleShot(true);
        pace_.setTimerType(Qt::PreciseTimer);
        connect(&pace_, &QTimer::timeout, this, &Bridge::deliver);
        connect(&lineServer_, &QLocalServer::newConnection, this, &Bridge::takeLine);
        connect(&controlServer_, &QLocalServer::newConnection, this, &Bridge::takeControl);
        QLocalServer::removeServer(controlPath);
        if (!controlServer_.listen(controlPath) || !plug()) {
            std::fprintf(stderr, "unit_bridge: cannot listen: %s\n", qPrintable(lineServer_.errorString()));
            std::exit(1);
        }
    }

private:
    bool plug() {
        QLocalServer::removeServer(linePath_);
        return lineServer_.listen(linePath_);
    }

    void unplug() {
        lineServer_.close(); // also removes the socket file: QEMU's reconnects fail until the replug
        if (QLocalSocket* line = std::exchange(line_, nullptr)) {
            line->abort();
            line->deleteLater();
        }
        unit_.dropLine();
    }

    void takeLine() {
        while (QLocalSocket* socket = lineServer_.nextPendingConnection()) {
            if (line_ != nullptr) {
                line_->deleteLater();
                unit_.dropLine();
            }
            line_ = socket;
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                unit_.hostWrite(socket->readAll());
                deliver();
            });
            connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
                if (line_ == socket) {
                    line_ = nullptr;
                    unit_.dropLine();
                }
                socket->deleteLater();
            });
        }
    }

    // Hands QEMU every reply byte whose time has come and waits for the next.
    void deliver() {
        const QByteArray ready = unit_.takeReadable(std::numeric_limits<std::size_t>::max());
        if (line_ != nullptr && !ready.isEmpty()) {
            line_->write(ready);
        }
        if (const auto next = unit_.nextEventTime()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - SimClock::now());
            pace_.start(std::max(wait, std::chrono::milliseconds{0}));
        }
    }

    void takeControl() {
        while (QLocalSocket* socket = controlServer_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                while (socket->canReadLine()) {
                    const QByteArray order = socket->readLine().trimmed();
                    const QByteArray answer = obey(order);
                    std::fprintf(stderr, "%s: %s\n", order.constData(), answer.constData());
                    socket->write(answer + '\n');
                }
            });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    QByteArray obey(const QByteArray& order) {
        if (order == "state") {
            return "position " + QByteArray::number(unit_.state().position);
        }
        if (order == "received") {
            return unit_.wire().hostBytes().toPercentEncoding();
        }
        if (order == "forget") {
            unit_.wire().clear();
        } else if (order == "silent" || order == "speak") {
            unit_.setPowered(order == "speak");
        } else if (order == "unplug") {
            unplug();
        } else if (order == "replug") {
            if (!lineServer_.isListening() && !plug()) {
                return "cannot listen: " + lineServer_.errorString().toUtf8();
            }
        } else {
            return "unknown order";
        }
        return "ok";
    }

    QString linePath_;
    valve::sim::SimulatedUnit unit_;
    QLocalServer lineServer_;
    QLocalServer controlServer_;
    QLocalSocket* line_ = nullptr;
    QTimer pace_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: unit_bridge LINE_SOCKET CONTROL_SOCKET\n");
        return 2;
    }
    Bridge bridge(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
    return QCoreApplication::exec();
}
