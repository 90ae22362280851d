#pragma once

#include "link/ftdi_driver.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QStringList>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace valve::testing {

// A scripted driver for the link's own tests: a list of adapters, a receive
// queue the test fills, status overrides per call, and a log of the calls.
class FakeDriver : public link::FtdiDriver {
public:
    struct Adapter {
        std::string description;
        bool openElsewhere = false;
    };

    std::vector<Adapter> adapters;
    std::deque<char> received;
    std::map<std::string, link::FtStatus> failing; // call name -> status returned
    link::FtStatus readStatus = link::ft::OK;
    bool readGivesNothing = false;
    QStringList calls;
    QByteArray written;
    std::function<void()> notify;
    bool canNotify = true;

    link::FtStatus createDeviceInfoList(std::uint32_t& count) override {
        count = static_cast<std::uint32_t>(adapters.size());
        return result("CreateDeviceInfoList", "");
    }
    link::FtStatus getDeviceInfoDetail(std::uint32_t index, link::DeviceInfoDetail& detail) override {
        const auto& adapter = adapters.at(index);
        detail.flags = adapter.openElsewhere ? link::ft::FLAGS_OPENED : 0;
        std::strncpy(detail.description.data(), adapter.description.c_str(), detail.description.size() - 1);
        return result("GetDeviceInfoDetail", QString::number(index));
    }
    link::FtStatus openEx(const char* description, std::uint32_t flags, link::FtHandle& handle) override {
        const auto status =
            result("OpenEx", QStringLiteral("%1,%2").arg(QString::fromLatin1(description)).arg(flags));
        if (status == link::ft::OK) {
            handle = ++lastHandle;
        }
        return status;
    }
    link::FtStatus setBaudRate(link::FtHandle, std::uint32_t baud) override {
        return result("SetBaudRate", QString::number(baud));
    }
    link::FtStatus setDataCharacteristics(link::FtHandle, std::uint8_t bits, std::uint8_t stop,
                                          std::uint8_t parity) override {
        return result("SetDataCharacteristics", QStringLiteral("%1,%2,%3").arg(bits).arg(stop).arg(parity));
    }
    link::FtStatus setFlowControl(link::FtHandle handle, std::uint16_t flow, std::uint8_t xon,
                                  std::uint8_t xoff) override {
        return result("SetFlowControl",
                      QStringLiteral("%1:%2,%3,%4").arg(handle).arg(flow).arg(xon).arg(xoff));
    }
    link::FtStatus setTimeouts(link::FtHandle, std::uint32_t readMs, std::uint32_t writeMs) override {
        return result("SetTimeouts", QStringLiteral("%1,%2").arg(readMs).arg(writeMs));
    }
    link::FtStatus purge(link::FtHandle, std::uint32_t mask) override {
        return result("Purge", QString::number(mask));
    }
    link::FtStatus getQueueStatus(link::FtHandle, std::uint32_t& rx) override {
        rx = static_cast<std::uint32_t>(received.size());
        return failing.contains("GetQueueStatus") ? failing.at("GetQueueStatus") : link::ft::OK;
    }
    link::FtStatus read(link::FtHandle, void* buffer, std::uint32_t toRead, std::uint32_t& got) override {
        got = 0;
        auto* bytes = static_cast<char*>(buffer);
        while (!readGivesNothing && got < toRead && !received.empty()) {
            bytes[got++] = received.front();
            received.pop_front();
        }
        return readStatus;
    }
    link::FtStatus write(link::FtHandle, const void* buffer, std::uint32_t size,
                         std::uint32_t& done) override {
        const QByteArray bytes(static_cast<const char*>(buffer), static_cast<qsizetype>(size));
        const auto status = result("Write", QString::fromLatin1(bytes));
        done = status == link::ft::OK ? size : 0;
        if (status == link::ft::OK) {
            written += bytes;
        }
        return status;
    }
    link::FtStatus close(link::FtHandle handle) override { return result("Close", QString::number(handle)); }

    bool setReceiveNotifier(std::function<void()> callback) override {
        notify = std::move(callback);
        return canNotify;
    }

    // Puts bytes in the receive queue and tells the link, as a backend would.
    void arrive(const QByteArray& bytes) {
        received.insert(received.end(), bytes.begin(), bytes.end());
        if (notify) {
            notify();
        }
    }

    QStringList callsNamed(const QString& prefix) const {
        return calls.filter(QRegularExpression("^" + prefix));
    }

    link::FtHandle lastHandle = 0x40;

private:
    link::FtStatus result(const std::string& name, const QString& arguments) {
        calls.append(QString::fromStdString(name) + "(" + arguments + ")");
        const auto it = failing.find(name);
        return it == failing.end() ? link::ft::OK : it->second;
    }
};

} // namespace valve::testing
