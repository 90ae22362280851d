#pragma once

#include "link/ftdi_driver.h"

#include <functional>
#include <map>
#include <memory>
#include <set>

namespace valve::link {

namespace d2xx {
struct Api;
class RxWaiter;
} // namespace d2xx

// FTDI's D2XX library, loaded at run time through the system loader and never
// unloaded. The twelve operations are passed through unchanged for the
// handles it has opened (any other handle gets INVALID_HANDLE); the only step
// of our own is the chip's set-up right after a successful open: the lowest
// latency timer it takes and CR as its event character.
class D2xxDriver final : public FtdiDriver {
public:
#if defined(_WIN32)
    static constexpr const char* kDefaultLibrary = "ftd2xx.dll";
#elif defined(__APPLE__)
    static constexpr const char* kDefaultLibrary = "libftd2xx.dylib";
#else
    static constexpr const char* kDefaultLibrary = "libftd2xx.so";
#endif

    // Null when the library cannot be loaded or lacks one of the operations.
    static std::unique_ptr<D2xxDriver> load(const char* libraryName = kDefaultLibrary);

    ~D2xxDriver() override;

    FtStatus createDeviceInfoList(std::uint32_t& count) override;
    FtStatus getDeviceInfoDetail(std::uint32_t index, DeviceInfoDetail& detail) override;
    FtStatus openEx(const char* description, std::uint32_t flags, FtHandle& handle) override;
    FtStatus setBaudRate(FtHandle handle, std::uint32_t baudRate) override;
    FtStatus setDataCharacteristics(FtHandle handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                    std::uint8_t parity) override;
    FtStatus setFlowControl(FtHandle handle, std::uint16_t flowControl, std::uint8_t xon,
                            std::uint8_t xoff) override;
    FtStatus setTimeouts(FtHandle handle, std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs) override;
    FtStatus purge(FtHandle handle, std::uint32_t mask) override;
    FtStatus getQueueStatus(FtHandle handle, std::uint32_t& rxBytes) override;
    FtStatus read(FtHandle handle, void* buffer, std::uint32_t bytesToRead,
                  std::uint32_t& bytesRead) override;
    FtStatus write(FtHandle handle, const void* buffer, std::uint32_t bytesToWrite,
                   std::uint32_t& bytesWritten) override;
    FtStatus close(FtHandle handle) override;

    // Works only when the library offers event notification (Linux and macOS
    // builds of D2XX); a waiter thread per open handle then calls `notify`.
    bool setReceiveNotifier(std::function<void()> notify) override;
    // While bytes are not wanted, the waiter sleeps until the library signals.
    void setReceiveWanted(FtHandle handle, bool wanted) override;
    void setDiagnosticSink(std::function<void(const QString&)> sink) override;

private:
    explicit D2xxDriver(std::unique_ptr<d2xx::Api> api);
    void startWaiter(FtHandle handle);
    void setUpChip(void* native, const QString& description) const;
    template <typename Call> FtStatus onOpen(FtHandle handle, Call call);

    std::unique_ptr<d2xx::Api> api_;
    std::function<void()> notify_;
    std::function<void(const QString&)> diagnostics_;
    std::set<FtHandle> open_;
    std::map<FtHandle, std::unique_ptr<d2xx::RxWaiter>> waiters_;
};

} // namespace valve::link
