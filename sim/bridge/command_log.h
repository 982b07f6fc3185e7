// The device's log of every command it received, one line each, appended to "commands.log" in
// the device directory. Tests read it through ReadCommandLog, people through `kvxsim log`.
//
// Line: <unit> <via> <cdb hex> <dir> <length> <status> <sense b2/asc/ascq> <moved> [note]
//   unit   cd | sec | usb (the hub side channel and control requests reach the device, no unit)
//   via    scsi (pass-through), hub (side-channel command), ctl (a descriptor request:
//          the cdb field holds wValue.wIndex.wLength), vol (a volume control: op in the note)
//   dir    in | out | none
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"

namespace kvx::sim {

struct LogEntry {
    std::string unit;  // "cd", "sec", "usb"
    std::string via;   // "scsi", "hub", "ctl", "vol"
    std::vector<std::uint8_t> cdb;
    DataDirection direction = DataDirection::kNone;
    std::uint32_t length = 0;       // data length the host gave
    std::uint8_t status = 0;        // SCSI status; 0 for ctl and vol lines that succeeded
    std::uint8_t sense[3] = {};     // sense byte 2, ASC, ASCQ
    std::uint32_t transferred = 0;  // data bytes moved
    std::string note;               // why a command was refused, or the volume operation
};

std::string FormatLogEntry(const LogEntry& entry);
std::optional<LogEntry> ParseLogEntry(std::string_view line);

// Appends one entry; false when the file could not be written.
bool AppendCommandLog(const std::filesystem::path& file, const LogEntry& entry);

// All entries from index `from` on (0 = the first ever logged).
std::vector<LogEntry> ReadCommandLog(const std::filesystem::path& file, std::size_t from = 0);

// Number of entries logged so far; a mark for "what came after this".
std::size_t CommandLogSize(const std::filesystem::path& file);

std::string HexBytes(const std::vector<std::uint8_t>& bytes);
std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view text);

}  // namespace kvx::sim
