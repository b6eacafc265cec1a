#include "USBCommands.h"

#include "DeviceLog.h"

#include <cmath>

IOUSBDeviceInterface** gUSBdevice = nullptr;

namespace
{
IOReturn sendCommandByte(IOUSBDeviceInterface** device, UInt8 data)
{
    IOUSBDevRequest request{};
    request.bmRequestType = 0x21;
    request.bRequest = 0x01;
    request.wValue = 0x2000;
    request.wIndex = 0x0300;
    request.wLength = 1;
    request.pData = &data;
    return (*device)->DeviceRequest(device, &request);
}

IOReturn failCommand(IOReturn status)
{
    deviceLog(stdout, "WriteToDevice reset returned err 0x%x\n", static_cast<unsigned>(status));
    forgetHeldDevice();
    deviceLog(stdout, "Unable to send to device: %08x\n", static_cast<unsigned>(status));
    return status;
}

UInt8 switchCommand(UInt8 base, UInt32 argument)
{
    return static_cast<UInt8>(base + (argument != 0 ? 1 : 0));
}
} // namespace

IOReturn writeDeviceCommand(UInt8 command)
{
    if (gUSBdevice == nullptr)
        return kIOReturnNoDevice;

    for (UInt8 data : {UInt8(0x55), UInt8(0xAA), command})
    {
        const IOReturn status = sendCommandByte(gUSBdevice, data);
        if (status != kIOReturnSuccess)
            return failCommand(status);
    }
    return kIOReturnSuccess;
}

void usb_hw_toggleMonitoringHP(UInt32 off)
{
    writeDeviceCommand(switchCommand(HeadphoneMonitorOn, off));
}

void usb_hw_toggleMonitoringRecording(UInt32 on)
{
    writeDeviceCommand(switchCommand(RecordMonitorOff, on));
}

SInt32 usb_hw_toggleLoopbackMode(UInt32 on)
{
    return writeDeviceCommand(switchCommand(LoopbackOff, on));
}

UInt8 monitorVolumeCommand(double decibels)
{
    // The knob stays within -110..0; anything outside a sane range is treated as 0 dB.
    const bool usable = std::isfinite(decibels) && std::fabs(decibels) < 1.0e6;
    const auto whole = usable ? static_cast<long long>(std::trunc(decibels)) : 0LL;
    return static_cast<UInt8>(static_cast<unsigned long long>(MonitorVolumeBase - whole) & 0xFFu);
}
