// Faults on demand: what a test asks the emulated device (or the hub above it) to get wrong, and
// for how many commands. Faults live in the device's state file, so a fault set by one process
// (kvxsim, a test) fires in the next process that uses the device.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvx::sim {

enum class FaultKind {
    kFail,                 // refuse matching commands with CHECK CONDITION and `sense`
    kShort,                // matching data-in commands move only `value` bytes
    kUnplugAfter,          // the device drops off the bus after `count` more commands
    kHubNameLength,        // hub names on the device's path report ActualLength = `value`
    kHubDescriptorLength,  // string and configuration descriptors report length `value`
    kHubStatus,            // the side channel's final status says failure
    kVolumeLock,           // the volume lock control fails
    kVolumeDismount,       // the volume dismount control fails
};

// Which commands a kFail or kShort fault applies to:
//   "any"          every command
//   "op:XX"        CDB opcode XX (hex) as received
//   "sub:XX"       vendor sub-command XX (0x20 and 0x21 forms)
//   "read"/"write" sector transfers in that direction (0xCF, READ(10), WRITE(10))
struct Fault {
    FaultKind kind = FaultKind::kFail;
    std::string match = "any";
    std::uint32_t count = 1;                              // uses left
    std::array<std::uint8_t, 3> sense{0x04, 0x44, 0x00};  // sense byte 2 (flags allowed), ASC, ASCQ
    std::uint32_t value = 0;
};

std::string_view FaultKindName(FaultKind kind);
std::optional<FaultKind> ParseFaultKind(std::string_view name);

// "fail sub:cf count=2 sense=03/11/00 value=0" and back.
std::string FormatFault(const Fault& fault);
std::optional<Fault> ParseFault(std::string_view text);

// Whether a matcher text is well formed.
bool ValidFaultMatch(std::string_view match);

// What a command looks like to the matchers.
struct CommandTraits {
    std::uint8_t opcode = 0;
    std::optional<std::uint8_t> vendorSub;  // set for 0x20 and 0x21 commands
    bool sectorRead = false;
    bool sectorWrite = false;
};

bool FaultMatches(const Fault& fault, const CommandTraits& command);

// Takes one use of the first fault of `kind` that matches (any command when `command` is null);
// the fault is removed when its uses run out. Returns the fault as it was before.
std::optional<Fault> TakeFault(std::vector<Fault>& faults, FaultKind kind,
                               const CommandTraits* command);

}  // namespace kvx::sim
