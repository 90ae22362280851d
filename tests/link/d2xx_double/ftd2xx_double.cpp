// A stand-in for FTDI's D2XX library with scripted behaviour: a device list,
// a receive queue, status overrides and a call log, all driven through the
// dbl_* control functions. Built in variants that leave out one export each.
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <pthread.h>
#include <string>
#include <vector>

namespace {

using DWORD = std::uint32_t;
using FT_STATUS = std::uint32_t;
using FT_HANDLE = void*;

constexpr FT_STATUS kOk = 0;
constexpr FT_STATUS kInvalidHandle = 1;
constexpr FT_STATUS kDeviceNotFound = 2;
constexpr FT_STATUS kDeviceNotOpened = 3;
constexpr FT_STATUS kInvalidParameter = 6;
constexpr DWORD kFlagOpened = 1;
constexpr DWORD kEventRxChar = 1;
constexpr std::size_t kMaxDevices = 8;

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
};

struct State {
    std::mutex mutex;
    std::vector<Device> devices;
    std::map<std::string, FT_STATUS> overrides;
    std::string log;
    std::deque<unsigned char> rx;
    std::vector<unsigned char> written;
    EventHandle* event = nullptr;
    DWORD eventMask = 0;
};

State& state() {
    static State instance;
    return instance;
}

// Handles are addresses of these tokens, one per device slot.
char handleTokens[kMaxDevices];

FT_HANDLE handleOf(std::size_t index) {
    return &handleTokens[index];
}

// The open device a handle stands for, or null.
Device* deviceOf(FT_HANDLE handle) {
    auto& s = state();
    for (std::size_t i = 0; i < s.devices.size(); ++i) {
        if (handle == handleOf(i) && s.devices[i].open) {
            return &s.devices[i];
        }
    }
    return nullptr;
}

void logCall(const std::string& entry) {
    state().log += entry + "\n";
}

// A scripted status for `name`, when the test set one.
bool overridden(const char* name, FT_STATUS& status) {
    auto& s = state();
    auto it = s.overrides.find(name);
    if (it == s.overrides.end()) {
        return false;
    }
    status = it->second;
    return true;
}

void signalReceive() {
    auto& s = state();
    if (s.event != nullptr && (s.eventMask & kEventRxChar) != 0) {
        pthread_mutex_lock(&s.event->eMutex);
        pthread_cond_signal(&s.event->eCondVar);
        pthread_mutex_unlock(&s.event->eMutex);
    }
}

} // namespace

#define DOUBLE_EXPORT extern "C" __attribute__((visibility("default")))

DOUBLE_EXPORT FT_STATUS FT_CreateDeviceInfoList(DWORD* count) {
    std::lock_guard lock(state().mutex);
    logCall("FT_CreateDeviceInfoList");
    FT_STATUS status = kOk;
    if (overridden("FT_CreateDeviceInfoList", status)) {
        return status;
    }
    *count = static_cast<DWORD>(state().devices.size());
    return kOk;
}

DOUBLE_EXPORT FT_STATUS FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                               DWORD* locId, void* serial, void* description,
                                               FT_HANDLE* handle) {
    std::lock_guard lock(state().mutex);
    logCall("FT_GetDeviceInfoDetail(" + std::to_string(index) + ")");
    FT_STATUS status = kOk;
    if (overridden("FT_GetDeviceInfoDetail", status)) {
        return status;
    }
    auto& devices = state().devices;
    if (index >= devices.size()) {
        return kDeviceNotFound;
    }
    const Device& device = devices[index];
    *flags = device.flags | (device.open ? kFlagOpened : 0);
    *type = 5;
    *id = 0x04036001;
    *locId = 0x100 + index;
    // Like the real library: up to 64 bytes, NUL-terminated when shorter.
    std::strncpy(static_cast<char*>(serial), device.serial.c_str(), 64);
    std::strncpy(static_cast<char*>(description), device.description.c_str(), 64);
    *handle = device.open ? handleOf(index) : nullptr;
    return kOk;
}

DOUBLE_EXPORT FT_STATUS FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) {
    std::lock_guard lock(state().mutex);
    const std::string wanted = static_cast<const char*>(arg);
    logCall("FT_OpenEx(" + wanted + "," + std::to_string(flags) + ")");
    FT_STATUS status = kOk;
    if (overridden("FT_OpenEx", status)) {
        return status;
    }
    if (flags != 1 && flags != 2) {
        return kInvalidParameter;
    }
    auto& devices = state().devices;
    bool seen = false;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        Device& device = devices[i];
        if ((flags == 2 ? device.description : device.serial) != wanted) {
            continue;
        }
        seen = true;
        if (!device.open && (device.flags & kFlagOpened) == 0) {
            device.open = true;
            *handle = handleOf(i);
            return kOk;
        }
    }
    return seen ? kDeviceNotOpened : kDeviceNotFound;
}

// The configuration calls share one shape: log, check the handle, answer.
#define DOUBLE_HANDLE_CALL(name, entry)                                                                      \
    std::lock_guard lock(state().mutex);                                                                     \
    logCall(entry);                                                                                          \
    FT_STATUS status = kOk;                                                                                  \
    if (overridden(name, status)) {                                                                          \
        return status;                                                                                       \
    }                                                                                                        \
    if (deviceOf(handle) == nullptr) {                                                                       \
        return kInvalidHandle;                                                                               \
    }

DOUBLE_EXPORT FT_STATUS FT_SetBaudRate(FT_HANDLE handle, DWORD baud) {
    DOUBLE_HANDLE_CALL("FT_SetBaudRate", "FT_SetBaudRate(" + std::to_string(baud) + ")")
    return kOk;
}

DOUBLE_EXPORT FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, unsigned char bits, unsigned char stop,
                                                  unsigned char parity) {
    DOUBLE_HANDLE_CALL("FT_SetDataCharacteristics", "FT_SetDataCharacteristics(" + std::to_string(bits) +
                                                        "," + std::to_string(stop) + "," +
                                                        std::to_string(parity) + ")")
    return kOk;
}

DOUBLE_EXPORT FT_STATUS FT_SetFlowControl(FT_HANDLE handle, std::uint16_t flow, unsigned char xon,
                                          unsigned char xoff) {
    DOUBLE_HANDLE_CALL("FT_SetFlowControl", "FT_SetFlowControl(" + std::to_string(flow) + "," +
                                                std::to_string(xon) + "," + std::to_string(xoff) + ")")
    return kOk;
}

DOUBLE_EXPORT FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) {
    DOUBLE_HANDLE_CALL("FT_SetTimeouts",
                       "FT_SetTimeouts(" + std::to_string(readMs) + "," + std::to_string(writeMs) + ")")
    return kOk;
}

#ifndef DOUBLE_WITHOUT_PURGE
DOUBLE_EXPORT FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) {
    DOUBLE_HANDLE_CALL("FT_Purge", "FT_Purge(" + std::to_string(mask) + ")")
    if ((mask & 1) != 0) {
        state().rx.clear();
    }
    return kOk;
}
#endif

DOUBLE_EXPORT FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, unsigned char ms) {
    DOUBLE_HANDLE_CALL("FT_SetLatencyTimer", "FT_SetLatencyTimer(" + std::to_string(ms) + ")")
    return kOk;
}

DOUBLE_EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* count) {
    // Not logged: the waiter thread polls it.
    std::lock_guard lock(state().mutex);
    FT_STATUS status = kOk;
    if (overridden("FT_GetQueueStatus", status)) {
        return status;
    }
    if (deviceOf(handle) == nullptr) {
        return kInvalidHandle;
    }
    *count = static_cast<DWORD>(state().rx.size());
    return kOk;
}

DOUBLE_EXPORT FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD wanted, DWORD* got) {
    DOUBLE_HANDLE_CALL("FT_Read", "FT_Read(" + std::to_string(wanted) + ")")
    auto& rx = state().rx;
    DWORD n = 0;
    for (; n < wanted && !rx.empty(); ++n) {
        static_cast<unsigned char*>(buffer)[n] = rx.front();
        rx.pop_front();
    }
    *got = n;
    return kOk;
}

DOUBLE_EXPORT FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD size, DWORD* done) {
    DOUBLE_HANDLE_CALL("FT_Write", "FT_Write(" + std::to_string(size) + ")")
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    state().written.insert(state().written.end(), bytes, bytes + size);
    *done = size;
    return kOk;
}

DOUBLE_EXPORT FT_STATUS FT_Close(FT_HANDLE handle) {
    DOUBLE_HANDLE_CALL("FT_Close", "FT_Close")
    deviceOf(handle)->open = false;
    state().event = nullptr;
    return kOk;
}

#ifndef DOUBLE_WITHOUT_EVENTS
DOUBLE_EXPORT FT_STATUS FT_SetEventNotification(FT_HANDLE handle, DWORD mask, void* param) {
    DOUBLE_HANDLE_CALL("FT_SetEventNotification", "FT_SetEventNotification(" + std::to_string(mask) + ")")
    state().event = mask == 0 ? nullptr : static_cast<EventHandle*>(param);
    state().eventMask = mask;
    return kOk;
}
#endif

// ---- Control functions for the tests ----

DOUBLE_EXPORT void dbl_reset() {
    std::lock_guard lock(state().mutex);
    auto& s = state();
    s.devices.clear();
    s.overrides.clear();
    s.log.clear();
    s.rx.clear();
    s.written.clear();
    s.event = nullptr;
    s.eventMask = 0;
}

DOUBLE_EXPORT void dbl_add_device(const char* description, const char* serial, DWORD flags) {
    std::lock_guard lock(state().mutex);
    if (state().devices.size() < kMaxDevices) {
        state().devices.push_back(Device{description, serial, flags, false});
    }
}

DOUBLE_EXPORT void dbl_set_status(const char* function, FT_STATUS status) {
    std::lock_guard lock(state().mutex);
    state().overrides[function] = status;
}

DOUBLE_EXPORT void dbl_push_rx(const unsigned char* data, DWORD size) {
    std::lock_guard lock(state().mutex);
    state().rx.insert(state().rx.end(), data, data + size);
    signalReceive();
}

// Copies the call log (one call a line) into `out`; returns its full length.
DOUBLE_EXPORT DWORD dbl_log(char* out, DWORD size) {
    std::lock_guard lock(state().mutex);
    const std::string& log = state().log;
    if (size > 0) {
        const std::size_t n = std::min<std::size_t>(log.size(), size - 1);
        std::memcpy(out, log.data(), n);
        out[n] = '\0';
    }
    return static_cast<DWORD>(log.size());
}

// Copies the bytes written so far into `out`; returns how many there are.
DOUBLE_EXPORT DWORD dbl_written(unsigned char* out, DWORD size) {
    std::lock_guard lock(state().mutex);
    const auto& written = state().written;
    std::memcpy(out, written.data(), std::min<std::size_t>(written.size(), size));
    return static_cast<DWORD>(written.size());
}

DOUBLE_EXPORT int dbl_event_registered() {
    std::lock_guard lock(state().mutex);
    return state().event != nullptr ? 1 : 0;
}
