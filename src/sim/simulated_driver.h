#pragma once

#include "driver_call.h"
#include "link/ftdi_driver.h"
#include "precise_wakeup.h"
#include "simulated_unit.h"

#include <QByteArray>
#include <QStringList>
#include <initializer_list>
#include <map>
#include <memory>
#include <vector>

namespace valve::sim {

// The channel settings last made on an adapter since it was opened (0 = not set).
struct AdapterSettings {
    std::uint32_t baudRate = 0;
    std::uint8_t wordLength = 0;
    std::uint8_t stopBits = 0;
    std::uint8_t parity = 0;
    std::uint16_t flowControl = 0;
    std::uint8_t xon = 0;
    std::uint8_t xoff = 0;
    std::uint32_t readTimeoutMs = 0;
    std::uint32_t writeTimeoutMs = 0;
    int purges = 0;
    std::uint32_t lastPurgeMask = 0;
};

// A driver backend with virtual FTDI adapters, each with a simulated unit
// behind it. Single-threaded; wake-ups come from a precise timer on the thread
// that set the notifier.
//
// Differences from the real library worth knowing:
// - FT_Read never blocks: it returns at once with what is readable (up to the
//   count asked for), whatever read time-out was set.
// - Baud rate and line format are checked for validity and recorded, but the
//   line always runs at the unit's own timing.
// - Unplugging makes every call on a handle of that adapter return
//   FT_IO_ERROR; FT_Close of such a handle frees it but also returns
//   FT_IO_ERROR. A closed handle gives FT_INVALID_HANDLE.
// - FT_OpenEx opens by description (flag 2) or by serial number (flag 1); the
//   first present adapter that matches and is free is taken. A match that is
//   open (here or elsewhere) gives FT_DEVICE_NOT_OPENED, no match
//   FT_DEVICE_NOT_FOUND.
class SimulatedDriver : public link::FtdiDriver {
public:
    using ClockFn = SimulatedUnit::ClockFn;

    explicit SimulatedDriver(ClockFn clock = &SimClock::now);
    ~SimulatedDriver() override;

    // --- adapters ---

    // Adds an adapter with a unit behind it; returns its index. Serial numbers
    // are "NRV0000", "NRV0001", ... by index.
    std::size_t addAdapter(QByteArray description, UnitTiming timing = {});
    [[nodiscard]] std::size_t adapterCount() const { return adapters_.size(); }
    [[nodiscard]] SimulatedUnit& unit(std::size_t adapter);
    [[nodiscard]] WireRecord& wire(std::size_t adapter) { return unit(adapter).wire(); }
    // The wire records of every unit, those added later too; off until switched on.
    void setWireRecordEnabled(bool enabled);
    void setOpenElsewhere(std::size_t adapter, bool open);
    // The adapter disappears: its handles die and the device list loses it.
    void unplug(std::size_t adapter);
    // It appears again; it has to be opened anew.
    void replug(std::size_t adapter);
    [[nodiscard]] bool pluggedIn(std::size_t adapter) const;
    [[nodiscard]] bool openHere(std::size_t adapter) const;
    // Handle under which this driver holds the adapter open, 0 when it does not.
    [[nodiscard]] link::FtHandle handleOf(std::size_t adapter) const;
    [[nodiscard]] const AdapterSettings& settings(std::size_t adapter) const;
    // Handles given out and not closed yet (dead ones included).
    [[nodiscard]] std::size_t handlesHeld() const { return handles_.size(); }

    // --- injected driver faults ---

    // The next `times` calls of `call`, after `after` calls have passed
    // normally, return `status` and do nothing else (FT_Read then reads no
    // byte). `times` may be kAlways.
    void failCall(DriverCall call, link::FtStatus status, int times = 1, int after = 0);
    // The next `times` FT_Read calls read as usual but return `status`
    // (FT_IO_ERROR together with a byte, say).
    void readReturnsStatus(link::FtStatus status, int times = 1);
    void clearFaults();

    // --- call log ---

    [[nodiscard]] const std::vector<DriverCallRecord>& callLog() const { return callLog_; }
    // The logged calls as text, leaving out the kinds in `omit` (queue polls, say).
    [[nodiscard]] QStringList callTexts(std::initializer_list<DriverCall> omit = {}) const;
    void clearCallLog() { callLog_.clear(); }
    void setCallLogEnabled(bool enabled) { logCalls_ = enabled; }

    // --- wake-ups ---

    // `notify` is called from a timer on this thread whenever reply bytes have
    // become readable.
    bool setReceiveNotifier(std::function<void()> notify) override;
    // Brings every unit up to now and notifies when bytes have arrived; the
    // wake-up timer does this by itself.
    void service();
    [[nodiscard]] SimTime now() const { return clock_(); }

    // --- the driver operations ---

    link::FtStatus createDeviceInfoList(std::uint32_t& count) override;
    link::FtStatus getDeviceInfoDetail(std::uint32_t index, link::DeviceInfoDetail& detail) override;
    link::FtStatus openEx(const char* description, std::uint32_t flags, link::FtHandle& handle) override;
    link::FtStatus setBaudRate(link::FtHandle handle, std::uint32_t baudRate) override;
    link::FtStatus setDataCharacteristics(link::FtHandle handle, std::uint8_t wordLength,
                                          std::uint8_t stopBits, std::uint8_t parity) override;
    link::FtStatus setFlowControl(link::FtHandle handle, std::uint16_t flowControl, std::uint8_t xon,
                                  std::uint8_t xoff) override;
    link::FtStatus setTimeouts(link::FtHandle handle, std::uint32_t readTimeoutMs,
                               std::uint32_t writeTimeoutMs) override;
    link::FtStatus purge(link::FtHandle handle, std::uint32_t mask) override;
    link::FtStatus getQueueStatus(link::FtHandle handle, std::uint32_t& rxBytes) override;
    link::FtStatus read(link::FtHandle handle, void* buffer, std::uint32_t bytesToRead,
                        std::uint32_t& bytesRead) override;
    link::FtStatus write(link::FtHandle handle, const void* buffer, std::uint32_t bytesToWrite,
                         std::uint32_t& bytesWritten) override;
    link::FtStatus close(link::FtHandle handle) override;

private:
    struct Adapter {
        QByteArray description;
        QByteArray serialNumber;
        std::unique_ptr<SimulatedUnit> unit;
        bool openElsewhere = false;
        bool present = true;
        int generation = 0; // counts unplugs; a handle of an older generation is dead
        link::FtHandle openHandle = 0;
        AdapterSettings settings;
    };
    struct HandleEntry {
        std::size_t adapter;
        int generation;
    };
    struct StatusFault {
        DriverCall call;
        link::FtStatus status;
        FaultCount count;
        int after;
    };

    // The live adapter behind `handle`, or nullptr with the status to return.
    Adapter* resolve(link::FtHandle handle, link::FtStatus& status);
    std::optional<link::FtStatus> injectedStatus(DriverCall call);
    link::FtStatus finish(DriverCall call, link::FtHandle handle, const QString& arguments,
                          link::FtStatus status);
    void rearm();
    [[nodiscard]] std::uint64_t deliveredTotal() const;

    ClockFn clock_;
    std::vector<Adapter> adapters_;
    std::vector<std::size_t> listed_; // adapter indexes of the last device list
    std::map<link::FtHandle, HandleEntry> handles_;
    link::FtHandle nextHandle_ = 0xA000;

    std::vector<StatusFault> statusFaults_;
    link::FtStatus readStatus_ = link::ft::OK;
    FaultCount readStatusCount_;

    std::vector<DriverCallRecord> callLog_;
    bool logCalls_ = true;
    bool recordWire_ = false;

    std::function<void()> notify_;
    std::unique_ptr<PreciseWakeup> wakeup_;
    std::uint64_t announced_ = 0;
};

} // namespace valve::sim
