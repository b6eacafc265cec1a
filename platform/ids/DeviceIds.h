// How the interface identifies itself on the USB bus and in the audio service. One definition for the
// device layer, the panel's identity record and the simulated interface.
#pragma once

namespace pelk
{
inline constexpr int kUsbVendorId = 0x7E57;  // the interface's USB vendor identifier
inline constexpr int kUsbProductId = 0x0001; // the interface's USB product identifier
inline constexpr int kUsbReleaseNumber = 0x0100;
inline constexpr char kManufacturerName[] = "Orvalis"; // "USB Vendor Name" and the audio devices' maker
inline constexpr char kProductName[] = "PELK";         // "USB Product Name"
inline constexpr char kAudioDeviceName[] = "PELK";     // the name of the interface's audio devices
} // namespace pelk
