#pragma once

#include "link/ftdi_driver.h"
#include "link/prompts.h"

#include <QByteArray>
#include <QList>
#include <cstring>
#include <vector>

namespace valve::ui::testing {

// A driver with a fixed set of attached adapters; every call succeeds, and
// the handles it gave out and took back are recorded.
class FakeDriver : public link::FtdiDriver {
public:
    struct Adapter {
        QByteArray description;
        bool openElsewhere = false;
    };
    std::vector<Adapter> adapters;
    std::vector<QByteArray> opened;
    std::vector<link::FtHandle> closed;

    link::FtStatus createDeviceInfoList(std::uint32_t& count) override {
        count = static_cast<std::uint32_t>(adapters.size());
        return link::ft::OK;
    }
    link::FtStatus getDeviceInfoDetail(std::uint32_t index, link::DeviceInfoDetail& detail) override {
        const Adapter& adapter = adapters.at(index);
        detail.flags = adapter.openElsewhere ? link::ft::FLAGS_OPENED : 0;
        std::memcpy(detail.description.data(), adapter.description.constData(),
                    static_cast<std::size_t>(adapter.description.size()) + 1);
        return link::ft::OK;
    }
    link::FtStatus openEx(const char* description, std::uint32_t, link::FtHandle& handle) override {
        opened.emplace_back(description);
        handle = kHandle;
        return link::ft::OK;
    }
    link::FtStatus setBaudRate(link::FtHandle, std::uint32_t) override { return link::ft::OK; }
    link::FtStatus setDataCharacteristics(link::FtHandle, std::uint8_t, std::uint8_t, std::uint8_t) override {
        return link::ft::OK;
    }
    link::FtStatus setFlowControl(link::FtHandle, std::uint16_t, std::uint8_t, std::uint8_t) override {
        return link::ft::OK;
    }
    link::FtStatus setTimeouts(link::FtHandle, std::uint32_t, std::uint32_t) override { return link::ft::OK; }
    link::FtStatus purge(link::FtHandle, std::uint32_t) override { return link::ft::OK; }
    link::FtStatus getQueueStatus(link::FtHandle, std::uint32_t& rxBytes) override {
        rxBytes = 0;
        return link::ft::OK;
    }
    link::FtStatus read(link::FtHandle, void*, std::uint32_t, std::uint32_t& bytesRead) override {
        bytesRead = 0;
        return link::ft::OK;
    }
    link::FtStatus write(link::FtHandle, const void*, std::uint32_t bytesToWrite,
                         std::uint32_t& bytesWritten) override {
        bytesWritten = bytesToWrite;
        return link::ft::OK;
    }
    link::FtStatus close(link::FtHandle handle) override {
        closed.push_back(handle);
        return link::ft::OK;
    }

    static constexpr link::FtHandle kHandle = 0x5a;
};

// Message boxes answered at once, with what was asked recorded.
class RecordingMessageBoxes : public link::MessageBoxes {
public:
    struct Box {
        QString text;
        link::BoxButtons buttons;
        QString caption;
    };
    std::vector<Box> shown;

    QCoro::Task<link::BoxAnswer> message_box(QString text, link::BoxButtons buttons,
                                             QString caption) override {
        shown.push_back({text, buttons, caption});
        co_return link::BoxAnswer::Ok;
    }
};

// A chooser that picks a fixed entry of what it is offered.
class PickingChooser : public link::DeviceChooser {
public:
    int pick = 0;
    std::vector<QList<QByteArray>> offered;

    QCoro::Task<QByteArray> choose(QList<QByteArray> descriptions) override {
        offered.push_back(descriptions);
        co_return descriptions.value(pick);
    }
};

} // namespace valve::ui::testing

#include <optional>
#include <qcoro/qcorotask.h>

namespace valve::ui::testing {

// Runs a coroutine up to its first wait and puts its result in `out` when it ends.
template <typename T> QCoro::Task<> into(QCoro::Task<T> task, std::optional<T>& out) {
    out = co_await std::move(task);
}

} // namespace valve::ui::testing
