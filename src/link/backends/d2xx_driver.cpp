#include "d2xx_driver.h"

#include "chip_settings.h"
#include "libftdi_support.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#define VALVE_FT_CALL __stdcall
#else
#include <dlfcn.h>
#include <pthread.h>
#include <time.h>
#define VALVE_FT_CALL
#endif

namespace valve::link {

namespace d2xx {

// Our own declarations of the library's C interface (Linux ABI: handles are
// pointers, DWORD and ULONG are 32-bit).
using FT_HANDLE = void*;
using FT_STATUS = std::uint32_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using USHORT = std::uint16_t;
using UCHAR = std::uint8_t;
using LPDWORD = DWORD*;
using PVOID = void*;

using CreateDeviceInfoListFn = FT_STATUS(VALVE_FT_CALL*)(LPDWORD);
using GetDeviceInfoDetailFn = FT_STATUS(VALVE_FT_CALL*)(DWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, PVOID,
                                                        PVOID, FT_HANDLE*);
using OpenExFn = FT_STATUS(VALVE_FT_CALL*)(PVOID, DWORD, FT_HANDLE*);
using SetBaudRateFn = FT_STATUS(VALVE_FT_CALL*)(FT_HANDLE, ULONG);
using SetDataCharacteristicsFn = FT_STATUS(VALVE_FT_CALL*)(FT_HANDLE, UCHAR, UCHAR, UCHAR);
using SetFlowControlFn = FT_STATUS(VALVE_FT_CALL*)(FT_HANDLE, USHORT, UCHAR, UCHAR);
using SetTimeoutsFn = FT_STATUS(VALVE_FT_CALL*)(FT_HANDLE, ULONG, ULONG);
using PurgeFn = FT_STATUS(VALVE_FT_CALL*)(FT_HANDLE, ULONG);
using GetQueueStatusFn = FT_STATUS(VALVE_FT_CALL*)(FT_HANDLE, DWORD*);
using ReadFn = FT_STATUS(VALVE_FT_CALL*)(FT_HANDLE, PVOID, DWORD, LPDWORD);
using WriteFn = FT_STATUS(VALVE_FT_CALL*)(FT_HANDLE, PVOID, DWORD, LPDWORD);
using CloseFn = FT_STATUS(VALVE_FT_CALL*)(FT_HANDLE);
using SetLatencyTimerFn = FT_STATUS(VALVE_FT_CALL*)(FT_HANDLE, UCHAR);
using SetCharsFn = FT_STATUS(VALVE_FT_CALL*)(FT_HANDLE, UCHAR, UCHAR, UCHAR, UCHAR);
using SetEventNotificationFn = FT_STATUS(VALVE_FT_CALL*)(FT_HANDLE, DWORD, PVOID);

inline constexpr DWORD kEventRxChar = 1;

#if !defined(_WIN32)
// The event object D2XX signals on Linux and macOS.
struct EventHandle {
    pthread_cond_t eCondVar;
    pthread_mutex_t eMutex;
    int iVar;
};
#endif

// The loaded library and its entry points.
struct Api {
#if defined(_WIN32)
    HMODULE library = nullptr;
#else
    void* library = nullptr;
#endif
    CreateDeviceInfoListFn createDeviceInfoList = nullptr;
    GetDeviceInfoDetailFn getDeviceInfoDetail = nullptr;
    OpenExFn openEx = nullptr;
    SetBaudRateFn setBaudRate = nullptr;
    SetDataCharacteristicsFn setDataCharacteristics = nullptr;
    SetFlowControlFn setFlowControl = nullptr;
    SetTimeoutsFn setTimeouts = nullptr;
    PurgeFn purge = nullptr;
    GetQueueStatusFn getQueueStatus = nullptr;
    ReadFn read = nullptr;
    WriteFn write = nullptr;
    CloseFn close = nullptr;
    SetLatencyTimerFn setLatencyTimer = nullptr;           // optional
    SetCharsFn setChars = nullptr;                         // optional
    SetEventNotificationFn setEventNotification = nullptr; // optional

    Api() = default;
    Api(const Api&) = delete;
    Api& operator=(const Api&) = delete;
    ~Api() {
#if defined(_WIN32)
        if (library != nullptr) {
            FreeLibrary(library);
        }
#endif
    }

    template <typename Fn> bool resolve(Fn& fn, const char* name) {
#if defined(_WIN32)
        fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
#else
        fn = reinterpret_cast<Fn>(dlsym(library, name));
#endif
        return fn != nullptr;
    }
};

#if !defined(_WIN32)
// Waits for the library's "characters received" event on one handle and
// passes it on. It holds the event's mutex except while it waits, so the
// library (which signals with the mutex held) cannot signal between two waits,
// and it passes each wake-up on without letting go. It makes no library call
// of its own: the link looks at the queue when woken. While bytes are wanted
// a time-out of half a second on the monotonic clock wakes the link all the
// same, as a safety net; while they are not, it waits for the event alone.
// When the library refuses the event, the waiter checks the queue every
// 20 ms instead.
class RxWaiter {
public:
    RxWaiter(const Api& api, FT_HANDLE handle, std::function<void()> notify)
        : api_(api), handle_(handle), notify_(std::move(notify)) {
        pthread_condattr_t attributes;
        pthread_condattr_init(&attributes);
        pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
        pthread_cond_init(&event_.eCondVar, &attributes);
        pthread_condattr_destroy(&attributes);
        pthread_mutex_init(&event_.eMutex, nullptr);
        polling_ = api_.setEventNotification(handle_, kEventRxChar, &event_) != 0;
        thread_ = std::thread([this] { run(); });
    }
    RxWaiter(const RxWaiter&) = delete;
    RxWaiter& operator=(const RxWaiter&) = delete;
    // The event goes last, after the handle has been closed.
    ~RxWaiter() {
        stop();
        pthread_cond_destroy(&event_.eCondVar);
        pthread_mutex_destroy(&event_.eMutex);
    }

    void setWanted(bool wanted) {
        pthread_mutex_lock(&event_.eMutex);
        wanted_ = wanted;
        pthread_cond_signal(&event_.eCondVar);
        pthread_mutex_unlock(&event_.eMutex);
    }

    // Notification off, then the thread stopped and joined.
    void stop() {
        if (!thread_.joinable()) {
            return;
        }
        if (!polling_) {
            api_.setEventNotification(handle_, 0, &event_);
        }
        pthread_mutex_lock(&event_.eMutex);
        stop_ = true;
        pthread_cond_signal(&event_.eCondVar);
        pthread_mutex_unlock(&event_.eMutex);
        thread_.join();
    }

private:
    static constexpr long kSafetyNetNs = 500'000'000;
    static constexpr long kPollNs = 20'000'000;

    void run() {
        pthread_mutex_lock(&event_.eMutex);
        while (!stop_) {
            const bool signalled = waitOnce();
            if (stop_) {
                break;
            }
            if (polling_ ? bytesWaiting() : signalled || wanted_) {
                notify_();
            }
        }
        pthread_mutex_unlock(&event_.eMutex);
    }

    // True when the event was signalled, false when the time ran out.
    bool waitOnce() {
        if (!polling_ && !wanted_) {
            return pthread_cond_wait(&event_.eCondVar, &event_.eMutex) == 0;
        }
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_nsec += polling_ ? kPollNs : kSafetyNetNs;
        deadline.tv_sec += deadline.tv_nsec / 1'000'000'000;
        deadline.tv_nsec %= 1'000'000'000;
        return pthread_cond_timedwait(&event_.eCondVar, &event_.eMutex, &deadline) == 0;
    }

    bool bytesWaiting() const {
        DWORD count = 0;
        return api_.getQueueStatus(handle_, &count) == 0 && count > 0;
    }

    const Api& api_;
    FT_HANDLE handle_;
    std::function<void()> notify_;
    EventHandle event_{};
    bool polling_ = false; // the library refused the event
    bool wanted_ = true;   // guarded by event_.eMutex, as is stop_
    bool stop_ = false;
    std::thread thread_;
};
#else
class RxWaiter {
public:
    void setWanted(bool) {}
    void stop() {}
};
#endif

} // namespace d2xx

namespace {
// The library's handle is a pointer; the interface carries it as an integer.
d2xx::FT_HANDLE toNative(FtHandle handle) {
    return reinterpret_cast<d2xx::FT_HANDLE>(handle); // NOLINT(performance-no-int-to-ptr)
}
FtHandle fromNative(d2xx::FT_HANDLE handle) {
    return reinterpret_cast<FtHandle>(handle);
}
} // namespace

std::unique_ptr<D2xxDriver> D2xxDriver::load(const char* libraryName) {
    auto api = std::make_unique<d2xx::Api>();
#if defined(_WIN32)
    api->library = LoadLibraryA(libraryName);
#else
    // Never unloaded: the library runs threads of its own, which must not
    // lose their code under them at exit.
    api->library = dlopen(libraryName, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
#endif
    if (api->library == nullptr) {
        return nullptr;
    }
    const bool complete =
        api->resolve(api->createDeviceInfoList, "FT_CreateDeviceInfoList") &&
        api->resolve(api->getDeviceInfoDetail, "FT_GetDeviceInfoDetail") &&
        api->resolve(api->openEx, "FT_OpenEx") && api->resolve(api->setBaudRate, "FT_SetBaudRate") &&
        api->resolve(api->setDataCharacteristics, "FT_SetDataCharacteristics") &&
        api->resolve(api->setFlowControl, "FT_SetFlowControl") &&
        api->resolve(api->setTimeouts, "FT_SetTimeouts") && api->resolve(api->purge, "FT_Purge") &&
        api->resolve(api->getQueueStatus, "FT_GetQueueStatus") && api->resolve(api->read, "FT_Read") &&
        api->resolve(api->write, "FT_Write") && api->resolve(api->close, "FT_Close");
    if (!complete) {
        return nullptr;
    }
    api->resolve(api->setLatencyTimer, "FT_SetLatencyTimer");
    api->resolve(api->setChars, "FT_SetChars");
    api->resolve(api->setEventNotification, "FT_SetEventNotification");
    return std::unique_ptr<D2xxDriver>(new D2xxDriver(std::move(api)));
}

D2xxDriver::D2xxDriver(std::unique_ptr<d2xx::Api> api) : api_(std::move(api)) {}

D2xxDriver::~D2xxDriver() {
    waiters_.clear(); // their threads end first
}

FtStatus D2xxDriver::createDeviceInfoList(std::uint32_t& count) {
    return api_->createDeviceInfoList(&count);
}

FtStatus D2xxDriver::getDeviceInfoDetail(std::uint32_t index, DeviceInfoDetail& detail) {
    d2xx::FT_HANDLE handle = nullptr;
    // Zeroed first: a text the library fills to its field's end without a NUL
    // then still ends right there, not in whatever the buffer held before.
    detail.serialNumber.fill('\0');
    detail.description.fill('\0');
    const FtStatus status =
        api_->getDeviceInfoDetail(index, &detail.flags, &detail.type, &detail.id, &detail.locationId,
                                  detail.serialNumber.data(), detail.description.data(), &handle);
    detail.handle = fromNative(handle);
    // Whatever the library wrote, the texts stay terminated within their buffers.
    detail.serialNumber.back() = '\0';
    detail.description.back() = '\0';
    return status;
}

FtStatus D2xxDriver::openEx(const char* description, std::uint32_t flags, FtHandle& handle) {
    d2xx::FT_HANDLE native = nullptr;
    const FtStatus status = api_->openEx(const_cast<char*>(description), flags, &native);
    if (status != ft::OK) {
        return status;
    }
    handle = fromNative(native);
    open_.insert(handle);
    setUpChip(native, QString::fromLocal8Bit(description));
    if (notify_) {
        startWaiter(handle);
    }
    return status;
}

// Replies are one to three bytes: without this the adapter holds them back for
// its default 16 ms. A failure only costs latency, but is told.
void D2xxDriver::setUpChip(void* native, const QString& description) const {
    const auto tell = [this](const QString& line) {
        if (diagnostics_) {
            diagnostics_(line);
        }
    };
    std::uint8_t latencyMs = chip::kDefaultLatencyTimerMs;
    if (api_->setLatencyTimer != nullptr) {
        latencyMs =
            chip::setLowestLatencyTimer([&](std::uint8_t ms) { return api_->setLatencyTimer(native, ms); });
        if (latencyMs == 0) {
            tell(libftdi::latencyTimerDiagnostic(description, chip::kLatencyTimerChoicesMs.front()));
            latencyMs = chip::kDefaultLatencyTimerMs;
        }
    }
    if (api_->setChars != nullptr && api_->setChars(native, chip::kEventCharacter, 1, 0, 0) != ft::OK) {
        tell(libftdi::eventCharacterDiagnostic(description, latencyMs));
    }
}

// A handle we do not hold open never reaches the library: it may have freed it.
template <typename Call> FtStatus D2xxDriver::onOpen(FtHandle handle, Call call) {
    return open_.contains(handle) ? call(toNative(handle)) : ft::INVALID_HANDLE;
}

FtStatus D2xxDriver::setBaudRate(FtHandle handle, std::uint32_t baudRate) {
    return onOpen(handle, [&](d2xx::FT_HANDLE native) { return api_->setBaudRate(native, baudRate); });
}

FtStatus D2xxDriver::setDataCharacteristics(FtHandle handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                            std::uint8_t parity) {
    return onOpen(handle, [&](d2xx::FT_HANDLE native) {
        return api_->setDataCharacteristics(native, wordLength, stopBits, parity);
    });
}

FtStatus D2xxDriver::setFlowControl(FtHandle handle, std::uint16_t flowControl, std::uint8_t xon,
                                    std::uint8_t xoff) {
    return onOpen(
        handle, [&](d2xx::FT_HANDLE native) { return api_->setFlowControl(native, flowControl, xon, xoff); });
}

FtStatus D2xxDriver::setTimeouts(FtHandle handle, std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs) {
    return onOpen(handle, [&](d2xx::FT_HANDLE native) {
        return api_->setTimeouts(native, readTimeoutMs, writeTimeoutMs);
    });
}

FtStatus D2xxDriver::purge(FtHandle handle, std::uint32_t mask) {
    return onOpen(handle, [&](d2xx::FT_HANDLE native) { return api_->purge(native, mask); });
}

FtStatus D2xxDriver::getQueueStatus(FtHandle handle, std::uint32_t& rxBytes) {
    return onOpen(handle, [&](d2xx::FT_HANDLE native) { return api_->getQueueStatus(native, &rxBytes); });
}

FtStatus D2xxDriver::read(FtHandle handle, void* buffer, std::uint32_t bytesToRead,
                          std::uint32_t& bytesRead) {
    bytesRead = 0;
    return onOpen(
        handle, [&](d2xx::FT_HANDLE native) { return api_->read(native, buffer, bytesToRead, &bytesRead); });
}

FtStatus D2xxDriver::write(FtHandle handle, const void* buffer, std::uint32_t bytesToWrite,
                           std::uint32_t& bytesWritten) {
    bytesWritten = 0;
    // The library's prototype is not const-correct; it does not write to the buffer.
    return onOpen(handle, [&](d2xx::FT_HANDLE native) {
        return api_->write(native, const_cast<void*>(buffer), bytesToWrite, &bytesWritten);
    });
}

// Notification off and the waiter gone first, the event only after the handle.
FtStatus D2xxDriver::close(FtHandle handle) {
    if (!open_.contains(handle)) {
        return ft::INVALID_HANDLE;
    }
    auto waiter = waiters_.extract(handle);
    if (!waiter.empty()) {
        waiter.mapped()->stop();
    }
    open_.erase(handle);
    return api_->close(toNative(handle));
}

bool D2xxDriver::setReceiveNotifier(std::function<void()> notify) {
#if defined(_WIN32)
    (void)notify;
    return false;
#else
    if (api_->setEventNotification == nullptr) {
        return false;
    }
    waiters_.clear();
    notify_ = std::move(notify);
    if (notify_) {
        for (FtHandle handle : open_) {
            startWaiter(handle);
        }
    }
    return true;
#endif
}

void D2xxDriver::setReceiveWanted(FtHandle handle, bool wanted) {
    if (const auto waiter = waiters_.find(handle); waiter != waiters_.end()) {
        waiter->second->setWanted(wanted);
    }
}

void D2xxDriver::setDiagnosticSink(std::function<void(const QString&)> sink) {
    diagnostics_ = std::move(sink);
}

void D2xxDriver::startWaiter(FtHandle handle) {
#if !defined(_WIN32)
    waiters_.erase(handle);
    waiters_[handle] = std::make_unique<d2xx::RxWaiter>(*api_, toNative(handle), notify_);
#else
    (void)handle;
#endif
}

} // namespace valve::link
