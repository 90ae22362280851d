// A stand-in for FTDI's D2XX library, driven through the dbl_* functions: a
// device list, a receive queue, scripted statuses, a call log and call counts.
// Built in variants that leave out FT_Purge or FT_SetEventNotification. Like
// the real library it signals a registered event with the event's mutex held,
// and may still do so until the handle is closed.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <pthread.h>
#include <string>
#include <utility>
#include <vector>

namespace {

using DWORD = std::uint32_t;
using FT_STATUS = std::uint32_t;
using FT_HANDLE = void*;

constexpr FT_STATUS kOk = 0;
constexpr FT_STATUS kInvalidHandle = 1;
constexpr FT_STATUS kDeviceNotFound = 2;
constexpr DWORD kFlagOpened = 1;
constexpr std::size_t kMaxDevices = 8;

// The event object the library signals on Linux.
struct EventHandle {
    pthread_cond_t eCondVar;
    pthread_mutex_t eMutex;
    int iVar;
};

struct Device {
    std::string description;
    std::string serial;
    DWORD flags = 0;
    bool open = false;
    EventHandle* lastEvent = nullptr; // registered at some time since the open
};

struct State {
    std::mutex mutex;
    std::vector<Device> devices;
    std::map<std::string, FT_STATUS> overrides;
    std::map<std::string, int> calls;
    std::string log;
    std::deque<char> rx;
    std::atomic<EventHandle*> event = nullptr;
} state;

void signal(EventHandle* event) {
    pthread_mutex_lock(&event->eMutex);
    pthread_cond_signal(&event->eCondVar);
    pthread_mutex_unlock(&event->eMutex);
}

// Handles are the addresses of these tokens, one per device slot.
char handleTokens[kMaxDevices];

// The open device a handle stands for, or null.
Device* deviceOf(FT_HANDLE handle) {
    for (std::size_t i = 0; i < state.devices.size(); ++i) {
        if (handle == &handleTokens[i] && state.devices[i].open) {
            return &state.devices[i];
        }
    }
    return nullptr;
}

template <typename... Values> std::string joined(Values... values) {
    std::string text;
    ((text += std::to_string(values) + ","), ...);
    if (!text.empty()) {
        text.pop_back();
    }
    return text;
}

} // namespace

#define DOUBLE_EXPORT extern "C" __attribute__((visibility("default")))

// Every call is logged with its arguments and answers a scripted status first.
#define DOUBLE_CALL(name, arguments)                                                                         \
    std::lock_guard lock(state.mutex);                                                                       \
    ++state.calls[name];                                                                                     \
    state.log += std::string(name) + "(" + (arguments) + ")\n";                                              \
    if (const auto scripted = state.overrides.find(name); scripted != state.overrides.end()) {               \
        return scripted->second;                                                                             \
    }
// ... and refuses a handle it did not hand out or that is closed.
#define DOUBLE_HANDLE_CALL(name, arguments)                                                                  \
    DOUBLE_CALL(name, arguments)                                                                             \
    if (deviceOf(handle) == nullptr) {                                                                       \
        return kInvalidHandle;                                                                               \
    }

DOUBLE_EXPORT FT_STATUS FT_CreateDeviceInfoList(DWORD* count) {
    DOUBLE_CALL("FT_CreateDeviceInfoList", "")
    *count = static_cast<DWORD>(state.devices.size());
    return kOk;
}

DOUBLE_EXPORT FT_STATUS FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                               DWORD* locId, void* serial, void* description,
                                               FT_HANDLE* handle) {
    DOUBLE_CALL("FT_GetDeviceInfoDetail", joined(index))
    if (index >= state.devices.size()) {
        return kDeviceNotFound;
    }
    const Device& device = state.devices[index];
    *flags = device.flags | (device.open ? kFlagOpened : 0);
    *type = 5;
    *id = 0x04036001;
    *locId = 0x100 + index;
    // Like the real library: up to 64 bytes, NUL-terminated only when shorter.
    std::strncpy(static_cast<char*>(serial), device.serial.c_str(), 64);
    std::strncpy(static_cast<char*>(description), device.description.c_str(), 64);
    *handle = device.open ? &handleTokens[index] : nullptr;
    return kOk;
}

// Opens the first free device by its description.
DOUBLE_EXPORT FT_STATUS FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) {
    const std::string wanted = static_cast<const char*>(arg);
    DOUBLE_CALL("FT_OpenEx", wanted + "," + joined(flags))
    for (std::size_t i = 0; i < state.devices.size(); ++i) {
        Device& device = state.devices[i];
        if (device.description == wanted && !device.open && (device.flags & kFlagOpened) == 0) {
            device.open = true;
            *handle = &handleTokens[i];
            return kOk;
        }
    }
    return kDeviceNotFound;
}

DOUBLE_EXPORT FT_STATUS FT_SetBaudRate(FT_HANDLE handle, DWORD baud) {
    DOUBLE_HANDLE_CALL("FT_SetBaudRate", joined(baud))
    return kOk;
}

DOUBLE_EXPORT FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, unsigned char bits, unsigned char stop,
                                                  unsigned char parity) {
    DOUBLE_HANDLE_CALL("FT_SetDataCharacteristics", joined(bits, stop, parity))
    return kOk;
}

DOUBLE_EXPORT FT_STATUS FT_SetFlowControl(FT_HANDLE handle, std::uint16_t flow, unsigned char xon,
                                          unsigned char xoff) {
    DOUBLE_HANDLE_CALL("FT_SetFlowControl", joined(flow, xon, xoff))
    return kOk;
}

DOUBLE_EXPORT FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) {
    DOUBLE_HANDLE_CALL("FT_SetTimeouts", joined(readMs, writeMs))
    return kOk;
}

#ifndef DOUBLE_WITHOUT_PURGE
DOUBLE_EXPORT FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) {
    DOUBLE_HANDLE_CALL("FT_Purge", joined(mask))
    if ((mask & 1) != 0) {
        state.rx.clear();
    }
    return kOk;
}
#endif

DOUBLE_EXPORT FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, unsigned char ms) {
    DOUBLE_HANDLE_CALL("FT_SetLatencyTimer", joined(ms))
    return kOk;
}

// Not logged: the driver's waiter thread polls it.
DOUBLE_EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* count) {
    std::lock_guard lock(state.mutex);
    ++state.calls["FT_GetQueueStatus"];
    if (const auto scripted = state.overrides.find("FT_GetQueueStatus"); scripted != state.overrides.end()) {
        return scripted->second;
    }
    if (deviceOf(handle) == nullptr) {
        return kInvalidHandle;
    }
    *count = static_cast<DWORD>(state.rx.size());
    return kOk;
}

DOUBLE_EXPORT FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD wanted, DWORD* got) {
    DOUBLE_HANDLE_CALL("FT_Read", joined(wanted))
    DWORD n = 0;
    for (; n < wanted && !state.rx.empty(); ++n) {
        static_cast<char*>(buffer)[n] = state.rx.front();
        state.rx.pop_front();
    }
    *got = n;
    return kOk;
}

// Logs the bytes themselves.
DOUBLE_EXPORT FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD size, DWORD* done) {
    DOUBLE_HANDLE_CALL("FT_Write", std::string(static_cast<const char*>(buffer), size))
    *done = size;
    return kOk;
}

// Leaves a registered event alone: the driver must withdraw it itself. A
// thread of the library that still runs signals it one last time.
DOUBLE_EXPORT FT_STATUS FT_Close(FT_HANDLE handle) {
    DOUBLE_HANDLE_CALL("FT_Close", "")
    Device* device = deviceOf(handle);
    if (device->lastEvent != nullptr) {
        signal(std::exchange(device->lastEvent, nullptr));
    }
    device->open = false;
    return kOk;
}

#ifndef DOUBLE_WITHOUT_EVENTS
DOUBLE_EXPORT FT_STATUS FT_SetEventNotification(FT_HANDLE handle, DWORD mask, void* param) {
    DOUBLE_HANDLE_CALL("FT_SetEventNotification", joined(mask))
    state.event = (mask & 1) == 0 ? nullptr : static_cast<EventHandle*>(param);
    deviceOf(handle)->lastEvent = static_cast<EventHandle*>(param);
    return kOk;
}
#endif

// ---- control functions for the tests ----

DOUBLE_EXPORT void dbl_reset() {
    std::lock_guard lock(state.mutex);
    state.devices.clear();
    state.overrides.clear();
    state.calls.clear();
    state.log.clear();
    state.rx.clear();
    state.event = nullptr;
}

DOUBLE_EXPORT void dbl_add_device(const char* description, const char* serial, DWORD flags) {
    std::lock_guard lock(state.mutex);
    if (state.devices.size() < kMaxDevices) {
        state.devices.push_back(Device{description, serial, flags, false});
    }
}

DOUBLE_EXPORT void dbl_set_status(const char* function, FT_STATUS status) {
    std::lock_guard lock(state.mutex);
    state.overrides[function] = status;
}

// Queues received bytes and signals the registered event, as the adapter would.
DOUBLE_EXPORT void dbl_push_rx(const char* data) {
    {
        std::lock_guard lock(state.mutex);
        state.rx.insert(state.rx.end(), data, data + std::strlen(data));
    }
    if (EventHandle* event = state.event) {
        signal(event);
    }
}

DOUBLE_EXPORT int dbl_calls(const char* function) {
    std::lock_guard lock(state.mutex);
    return state.calls[function];
}

// Whether some thread holds the registered event's mutex right now.
DOUBLE_EXPORT int dbl_event_locked() {
    EventHandle* event = state.event;
    if (event == nullptr || pthread_mutex_trylock(&event->eMutex) != 0) {
        return event != nullptr ? 1 : 0;
    }
    pthread_mutex_unlock(&event->eMutex);
    return 0;
}

// The call log, one call a line; valid until the next dbl_log.
DOUBLE_EXPORT const char* dbl_log() {
    static std::string copy;
    std::lock_guard lock(state.mutex);
    copy = state.log;
    return copy.c_str();
}

DOUBLE_EXPORT int dbl_event_registered() {
    std::lock_guard lock(state.mutex);
    return state.event != nullptr ? 1 : 0;
}
