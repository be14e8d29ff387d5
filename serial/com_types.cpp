#include "serial/com_types.h"

#include <array>
#include <string>

namespace {

const std::array<const char*, 23> kErrorTexts = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

std::string BareText(int portError)
{
    if (portError >= 1 && portError <= static_cast<int>(kErrorTexts.size())) return kErrorTexts[portError - 1];
    return "Unknown com port error " + std::to_string(portError);
}

std::string FullText(int portError, int systemError)
{
    std::string text = BareText(portError);
    if (systemError != -1) text += " (win error code: " + std::to_string(systemError) + ")";
    return text;
}

}  // namespace

EComPort::EComPort(int portError, int systemError)
    : std::runtime_error(FullText(portError, systemError)), portError_(portError), systemError_(systemError)
{
}

QString EComPort::ErrorText(int portError)
{
    return QString::fromStdString(BareText(portError));
}
