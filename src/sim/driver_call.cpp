#include "driver_call.h"

namespace valve::sim {

QString driverCallName(DriverCall call) {
    switch (call) {
    case DriverCall::CreateDeviceInfoList:
        return QStringLiteral("FT_CreateDeviceInfoList");
    case DriverCall::GetDeviceInfoDetail:
        return QStringLiteral("FT_GetDeviceInfoDetail");
    case DriverCall::OpenEx:
        return QStringLiteral("FT_OpenEx");
    case DriverCall::SetBaudRate:
        return QStringLiteral("FT_SetBaudRate");
    case DriverCall::SetDataCharacteristics:
        return QStringLiteral("FT_SetDataCharacteristics");
    case DriverCall::SetFlowControl:
        return QStringLiteral("FT_SetFlowControl");
    case DriverCall::SetTimeouts:
        return QStringLiteral("FT_SetTimeouts");
    case DriverCall::Purge:
        return QStringLiteral("FT_Purge");
    case DriverCall::GetQueueStatus:
        return QStringLiteral("FT_GetQueueStatus");
    case DriverCall::Read:
        return QStringLiteral("FT_Read");
    case DriverCall::Write:
        return QStringLiteral("FT_Write");
    case DriverCall::Close:
        return QStringLiteral("FT_Close");
    }
    return QStringLiteral("FT_?");
}

} // namespace valve::sim
