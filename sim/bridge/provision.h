// Factory provisioning of an emulated device: the password data block written as the maker of
// the device would write it (partition sizes and addresses, password and identifier digests,
// scrambled hint, random filler around it, the region enciphered in its stored form), the
// protection bit set and the device closed.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "sim/bridge/device_dir.h"

namespace kvx::sim {

// The longest password the host programs can enter, in characters.
inline constexpr std::size_t kProvisionPasswordLimit = 10;

// Provisions the device at `paths`: an empty password leaves protection off (no password
// stored, the secure unit open). Refuses (with the reason) a password over ten characters, a
// hint over 150 bytes in Windows-1252, a hint without a password, a medium over 2^32 sectors and
// a layout whose secure partition reaches the block region. nullopt = done.
std::optional<std::string> ProvisionDevice(const DevicePaths& paths, std::u16string_view password,
                                           std::u16string_view hint);

// The checks of the password and hint alone (before a device is made); nullopt = acceptable.
std::optional<std::string> CheckProvisionText(std::u16string_view password,
                                              std::u16string_view hint);

// The same for device `device` of the machine directory `machine`.
std::optional<std::string> Provision(const std::filesystem::path& machine, unsigned device,
                                     std::u16string_view password, std::u16string_view hint);

// Where the factory puts the hidden-area space: right after the secure partition, up to the block
// region.
std::uint64_t FactoryHiddenBase(const BridgeState& state);

}  // namespace kvx::sim
