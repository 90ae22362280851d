#pragma once

#include <QString>
#include <cstdint>

namespace valve::sim {

// The twelve driver operations, for injecting status faults and for the call log.
enum class DriverCall {
    CreateDeviceInfoList,
    GetDeviceInfoDetail,
    OpenEx,
    SetBaudRate,
    SetDataCharacteristics,
    SetFlowControl,
    SetTimeouts,
    Purge,
    GetQueueStatus,
    Read,
    Write,
    Close,
};

// The D2XX name of the operation, "FT_SetBaudRate" say.
QString driverCallName(DriverCall call);

// One logged call: `text` is the call with its arguments as a test would
// write it, without the handle: FT_SetBaudRate(19200), FT_Write("S\r"),
// FT_OpenEx("NR Valve Unit A", 2), FT_Read(1), FT_Close().
struct DriverCallRecord {
    DriverCall call;
    std::uintptr_t handle; // 0 for the calls that take none
    QString text;
    std::uint32_t status;
};

} // namespace valve::sim
