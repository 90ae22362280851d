// A stand-in for FTDI's D2XX library, driven through the dbl_* functions: a device list, a receive queue,
// scripted statuses and a log of every call. Built in variants that leave out FT_Purge or
// FT_SetEventNotification. Like the real library it signals a registered event with the event's mutex
// held, and may still do so until the handle is closed.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <pthread.h>
#include <string>
#include <utility>

namespace {

using DWORD = std::uint32_t;
using FT_STATUS = std::uint32_t;
using FT_HANDLE = void*;
using UCHAR = unsigned char;

constexpr FT_STATUS kOk = 0;
constexpr FT_STATUS kInvalidHandle = 1;
constexpr FT_STATUS kDeviceNotFound = 2;
constexpr DWORD kFlagOpened = 1;

// The event object the library signals on Linux.
struct EventHandle {
    pthread_cond_t eCondVar;
    pthread_mutex_t eMutex;
    int iVar;
};

struct Device {
    std::string description;
    std::string serial;
    DWORD flags = 0; // one the kernel's serial driver has is nameless and flagged open
    bool open = false;
    EventHandle* lastEvent = nullptr; // registered at some time since the open
};

struct State {
    std::deque<Device> devices; // a device's address is its handle
    std::map<std::string, FT_STATUS, std::less<>> overrides;
    std::string log;
    std::deque<char> rx;
} state;
std::mutex stateMutex;
std::atomic<EventHandle*> registeredEvent = nullptr;

void signal(EventHandle* event) {
    pthread_mutex_lock(&event->eMutex);
    pthread_cond_signal(&event->eCondVar);
    pthread_mutex_unlock(&event->eMutex);
}

// The open device a handle stands for, or null.
Device* deviceOf(FT_HANDLE handle) {
    const auto found = std::ranges::find_if(state.devices, [&](Device& d) { return handle == &d && d.open; });
    return found == state.devices.end() ? nullptr : &*found;
}

template <typename... Values> std::string joined(Values... values) {
    std::string text;
    ((text += std::to_string(values) + ","), ...);
    return text.substr(0, text.empty() ? 0 : text.size() - 1);
}

} // namespace

#define DOUBLE_EXPORT extern "C" __attribute__((visibility("default")))

// Every call is logged with its arguments and answers a scripted status first ...
#define DOUBLE_CALL(name, arguments)                                                                         \
    std::lock_guard lock(stateMutex);                                                                        \
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
    *type = *id = *locId = 0; // unknown: nothing here reads them
    // Like the real library: up to 64 bytes, NUL-terminated only when shorter.
    std::strncpy(static_cast<char*>(serial), device.serial.c_str(), 64);
    std::strncpy(static_cast<char*>(description), device.description.c_str(), 64);
    *handle = device.open ? &state.devices[index] : nullptr;
    return kOk;
}

// Opens the first free device by its description (one the kernel holds is open, and nameless).
DOUBLE_EXPORT FT_STATUS FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) {
    const std::string wanted = static_cast<const char*>(arg);
    DOUBLE_CALL("FT_OpenEx", wanted + "," + joined(flags))
    for (Device& device : state.devices) {
        if (device.description == wanted && !device.open && (device.flags & kFlagOpened) == 0) {
            device.open = true;
            *handle = &device;
            return kOk;
        }
    }
    return kDeviceNotFound;
}

// The settings: logged with their arguments, and of no further effect.
#define DOUBLE_SETTING(name, parameters, ...)                                                                \
    DOUBLE_EXPORT FT_STATUS name parameters {                                                                \
        DOUBLE_HANDLE_CALL(#name, joined(__VA_ARGS__))                                                       \
        return kOk;                                                                                          \
    }
DOUBLE_SETTING(FT_SetBaudRate, (FT_HANDLE handle, DWORD baud), baud)
DOUBLE_SETTING(FT_SetDataCharacteristics, (FT_HANDLE handle, UCHAR bits, UCHAR stop, UCHAR parity), bits,
               stop, parity)
DOUBLE_SETTING(FT_SetFlowControl, (FT_HANDLE handle, std::uint16_t flow, UCHAR xon, UCHAR xoff), flow, xon,
               xoff)
DOUBLE_SETTING(FT_SetTimeouts, (FT_HANDLE handle, DWORD readMs, DWORD writeMs), readMs, writeMs)
DOUBLE_SETTING(FT_SetLatencyTimer, (FT_HANDLE handle, UCHAR ms), ms)
DOUBLE_SETTING(FT_SetChars, (FT_HANDLE handle, UCHAR event, UCHAR eventOn, UCHAR error, UCHAR errorOn), event,
               eventOn, error, errorOn)

#ifndef DOUBLE_WITHOUT_PURGE
DOUBLE_EXPORT FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) {
    DOUBLE_HANDLE_CALL("FT_Purge", joined(mask))
    if ((mask & 1) != 0) {
        state.rx.clear();
    }
    return kOk;
}
#endif

DOUBLE_EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* count) {
    DOUBLE_HANDLE_CALL("FT_GetQueueStatus", "")
    *count = static_cast<DWORD>(state.rx.size());
    return kOk;
}

DOUBLE_EXPORT FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD wanted, DWORD* got) {
    DOUBLE_HANDLE_CALL("FT_Read", joined(wanted))
    for (*got = 0; *got < wanted && !state.rx.empty(); ++*got) {
        static_cast<char*>(buffer)[*got] = state.rx.front();
        state.rx.pop_front();
    }
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
    registeredEvent = (mask & 1) == 0 ? nullptr : static_cast<EventHandle*>(param);
    deviceOf(handle)->lastEvent = static_cast<EventHandle*>(param);
    return kOk;
}
#endif

DOUBLE_EXPORT void dbl_reset() {
    std::lock_guard lock(stateMutex);
    state = {};
    registeredEvent = nullptr;
}

DOUBLE_EXPORT void dbl_add_device(const char* description, const char* serial, DWORD flags) {
    std::lock_guard lock(stateMutex);
    state.devices.push_back(Device{description, serial, flags});
}

DOUBLE_EXPORT void dbl_set_status(const char* function, FT_STATUS status) {
    std::lock_guard lock(stateMutex);
    state.overrides[function] = status;
}

// Queues received bytes and signals the registered event, as the adapter would.
DOUBLE_EXPORT void dbl_push_rx(const char* data) {
    {
        std::lock_guard lock(stateMutex);
        state.rx.insert(state.rx.end(), data, data + std::strlen(data));
    }
    if (EventHandle* event = registeredEvent) {
        signal(event);
    }
}

DOUBLE_EXPORT int dbl_event() {
    EventHandle* event = registeredEvent;
    if (event == nullptr || pthread_mutex_trylock(&event->eMutex) != 0) {
        return event != nullptr ? 2 : 0;
    }
    pthread_mutex_unlock(&event->eMutex);
    return 1;
}

// The call log, one call a line; valid until the next dbl_log.
DOUBLE_EXPORT const char* dbl_log() {
    static std::string copy;
    std::lock_guard lock(stateMutex);
    copy = state.log;
    return copy.c_str();
}
