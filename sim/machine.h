// An emulated machine directory: the "machine" file (what the emulated Windows reports about
// itself and its own drives) and one directory per device under devices/<n>/.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"
#include "sim/bridge/bridge_state.h"

namespace kvx::sim {

struct MachineDrive {
    char letter = 'C';
    DriveType type = kDriveFixed;
};

struct MachineConfig {
    OsVersion version{true, 2, 10, 0, 19045, 1, u""};  // NT 10.0 build 19045, workstation
    bool admin = true;  // false: opening a volume or disk fails with access denied
    std::vector<MachineDrive> drives{{'C', kDriveFixed}};
    std::uint32_t foreignUsbPort = 2;  // root-hub port of a USB pointer device; 0 = none
};

// The directory KVX_SIM names, as a path this build can use: under Windows (Wine) a path that
// starts with '/' lies on the drive that maps the unix root, "Z:".
std::filesystem::path MachinePath(std::string_view text);

std::filesystem::path MachineFile(const std::filesystem::path& machine);
std::filesystem::path DeviceDirectory(const std::filesystem::path& machine, unsigned number);

std::string FormatMachine(const MachineConfig& config);
std::optional<MachineConfig> ParseMachine(std::string_view text, std::string* error);

// The machine's settings; the defaults when the directory has no machine file yet.
std::optional<MachineConfig> LoadMachine(const std::filesystem::path& machine,
                                         std::string* error = nullptr);
bool SaveMachine(const std::filesystem::path& machine, const MachineConfig& config,
                 std::string* error = nullptr);

// Numbers of the devices present, ascending.
std::vector<unsigned> DeviceNumbers(const std::filesystem::path& machine);

// Adds a device (number `number`, or the lowest free one) and writes the machine file when the
// directory has none. Returns the device's number.
std::optional<unsigned> CreateDevice(const std::filesystem::path& machine, const BridgeState& state,
                                     std::optional<unsigned> number, std::string* error);

// Whether the machine shows the secure unit's drive letter: the device is on the bus and its
// secure unit is open.
bool SecureLetterShown(const BridgeState& state);

std::string_view DriveTypeName(DriveType type);
std::optional<DriveType> ParseDriveType(std::string_view text);

}  // namespace kvx::sim
