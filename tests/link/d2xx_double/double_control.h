#pragma once

#include <cstdint>
#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>

namespace valve::testing {

// The control functions of the stand-in library (tests/link/d2xx_double).
class DoubleControl {
public:
    explicit DoubleControl(const char* path) : library_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) { reset(); }
    ~DoubleControl() { dlclose(library_); }
    DoubleControl(const DoubleControl&) = delete;
    DoubleControl& operator=(const DoubleControl&) = delete;

    void reset() const { fn<void()>("dbl_reset")(); }
    void addDevice(const char* description, const char* serial = "FT001", std::uint32_t flags = 0) const {
        fn<void(const char*, const char*, std::uint32_t)>("dbl_add_device")(description, serial, flags);
    }
    // One bound to the kernel's serial driver: nameless and flagged open, listed where it was added.
    void addHeldByKernel() const { addDevice("", "", 1); }
    void setStatus(const char* call, std::uint32_t status) const {
        fn<void(const char*, std::uint32_t)>("dbl_set_status")(call, status);
    }
    void push(const char* bytes) const { fn<void(const char*)>("dbl_push_rx")(bytes); }
    [[nodiscard]] std::string log() const { return fn<const char*()>("dbl_log")(); }
    // 0: no event registered; 1: one is; 2: and some thread holds its mutex now.
    [[nodiscard]] int event() const { return fn<int()>("dbl_event")(); }

private:
    template <typename Signature> Signature* fn(const char* name) const {
        auto* function = reinterpret_cast<Signature*>(dlsym(library_, name));
        if (function == nullptr) {
            ADD_FAILURE() << "the double lacks " << name;
            std::abort();
        }
        return function;
    }

    void* library_;
};

} // namespace valve::testing
