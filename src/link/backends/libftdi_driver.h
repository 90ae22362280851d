#pragma once

#include "libftdi_support.h"
#include "link/ftdi_driver.h"

#include <filesystem>
#include <map>
#include <memory>
#include <vector>

struct ftdi_context;
struct libusb_context;
struct libusb_device;

namespace valve::link {

namespace libftdi {
class Port;
}

// The driver operations over libftdi1 and libusb, for systems without FTDI's
// D2XX library. Only FTDI adapters (vendor 0403; products 6001, 6010, 6011,
// 6014, 6015) are listed, in USB tree order, with their product string as
// description. Multi-channel chips are listed once and opened on channel A.
//
// An adapter counts as "open elsewhere" (flags bit 0) when another program
// has claimed it through libusb, when the serial device that the kernel's
// ftdi_sio driver made for it is open in another process, or when we opened
// it ourselves. An adapter merely bound to ftdi_sio is detached from it when
// opened and handed back to it when closed.
//
// The reader of an open adapter reads only while the link wants bytes
// (setReceiveWanted), so an idle adapter costs no wake-ups.
//
// Status numbers: see libftdi_support.h for the mapping of libusb and libftdi
// results. A lost adapter makes every later call on its handle fail with
// IO_ERROR, so the link's FT_SetFlowControl probe notices it.
class LibftdiDriver final : public FtdiDriver {
public:
    explicit LibftdiDriver(libftdi::SystemView system = {});
    ~LibftdiDriver() override;

    FtStatus createDeviceInfoList(std::uint32_t& count) override;
    FtStatus getDeviceInfoDetail(std::uint32_t index, DeviceInfoDetail& detail) override;
    // Flags: 1 (by serial number) or 2 (by description).
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

    // The reader threads call `notify` when bytes arrive.
    bool setReceiveNotifier(std::function<void()> notify) override;
    void setReceiveWanted(FtHandle handle, bool wanted) override;
    void setDiagnosticSink(std::function<void(const QString&)> sink) override;

    // Whether the adapter at `index` of the last list was bound to the kernel's
    // serial driver then, or is open here (which took it from that driver).
    [[nodiscard]] bool heldBySerialDriverOrHere(std::uint32_t index) const;

private:
    struct Adapter;
    struct OpenPort;

    Adapter inspect(libusb_device* device) const;
    std::vector<Adapter> scan(libusb_device* const* devices, long count) const;
    bool openedHere(const libftdi::UsbLocation& location) const;
    // The first of `adapters` that answers to `wanted` and is not open
    // elsewhere: DEVICE_NOT_FOUND when none answers, DEVICE_NOT_OPENED when
    // every one that does is taken.
    static FtStatus pickAdapter(const std::vector<Adapter>& adapters, const std::string& wanted,
                                bool byDescription, const Adapter*& chosen);
    FtStatus openAdapter(const Adapter& adapter, FtHandle& handle);
    // The kernel's serial devices of the adapter's channel A, as a list for the operator.
    QString serialDeviceNodes(const libftdi::UsbLocation& location) const;
    // A libftdi context with the adapter open on channel A, or why not
    // (telling the operator when permissions are the cause).
    FtStatus openChannelA(const Adapter& adapter, const QString& name, ftdi_context*& context) const;
    // Takes over the open context as a port with a new handle.
    FtHandle keepOpen(ftdi_context* context, const Adapter& adapter, const QString& name,
                      const QString& serialDevices);
    // Latency timer and event character, so that replies come at once.
    void setUpChip(libftdi::Port& port, const QString& name) const;
    libftdi::Port* portOf(FtHandle handle) const;
    void report(const QString& line) const;

    libftdi::SystemView system_;
    libusb_context* usb_ = nullptr;
    int usbInitResult_ = 0;
    std::vector<DeviceInfoDetail> snapshot_;
    std::vector<bool> heldBySerialDriverOrHere_; // per entry of snapshot_
    std::map<FtHandle, std::unique_ptr<OpenPort>> ports_;
    FtHandle nextHandle_ = 1;
    std::function<void()> notify_;
    std::function<void(const QString&)> diagnostics_;
};

} // namespace valve::link
