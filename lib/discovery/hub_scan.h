// The USB host-controller scan of the hub mode: walks every hub, matches the attached devices
// against the configured USB identifiers and records where each one hangs (hub path and port) and
// which CD drive letter it has.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "frame/device_state.h"

namespace kvx {

// Rebuilds the state's device-record list from the present host controllers.
void ScanHostControllers(DeviceState& state);

// The CD drive letter of the USB device of a record (identifier texts and serial set), found
// through the system's device registry; stored in the record. False when none was found.
bool FindUsbDriveLetter(DeviceState& state, UsbDeviceRecord& record);

// Parts of a hub name "USB#ROOT_HUB20#4&1b2c3d&0#{...}": between the first and second '#', and
// between the second and third.
std::string HubIdPart(std::string_view hubName);
std::string HubInstancePart(std::string_view hubName);

// A registry text (REG_SZ, or binary mount data) as UTF-16 up to the first zero, at most maxUnits
// units; empty when absent.
std::u16string RegistryText(const std::optional<RegistryValue>& value, std::size_t maxUnits);

// The mount text of a drive letter: the data of "\DosDevices\X:" under the mounted-devices key as
// UTF-16, at most maxUnits units; empty when absent.
std::u16string MountText(Host& host, char16_t letter, std::size_t maxUnits);

// Hub walks stop at this depth; device lists at this many records.
inline constexpr int kMaxHubDepth = 7;
inline constexpr std::size_t kMaxDeviceRecords = 1024;

}  // namespace kvx
