#include "sim/bridge/command_log.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "sim/bridge/hex.h"

namespace kvx::sim {
namespace {

std::string_view DirectionName(DataDirection d) {
    switch (d) {
        case DataDirection::kIn:
            return "in";
        case DataDirection::kOut:
            return "out";
        case DataDirection::kNone:
            return "none";
    }
    return "none";
}

std::optional<DataDirection> ParseDirection(std::string_view s) {
    if (s == "in") {
        return DataDirection::kIn;
    }
    if (s == "out") {
        return DataDirection::kOut;
    }
    if (s == "none") {
        return DataDirection::kNone;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> ParseU32(std::string_view s) {
    std::uint32_t v = 0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || ptr != s.data() + s.size()) {
        return std::nullopt;
    }
    return v;
}

}  // namespace

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
    return bytes.empty() ? "-" : ToHex(bytes);
}

std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view text) {
    if (text == "-") {
        return std::vector<std::uint8_t>{};
    }
    return FromHex(text);
}

std::string FormatLogEntry(const LogEntry& e) {
    std::ostringstream line;
    line << e.unit << ' ' << e.via << ' ' << HexBytes(e.cdb) << ' ' << DirectionName(e.direction)
         << ' ' << e.length << ' ' << static_cast<unsigned>(e.status) << ' '
         << HexBytes({e.sense[0]}) << '/' << HexBytes({e.sense[1]}) << '/' << HexBytes({e.sense[2]})
         << ' ' << e.transferred;
    if (!e.note.empty()) {
        line << ' ' << e.note;
    }
    return line.str();
}

std::optional<LogEntry> ParseLogEntry(std::string_view line) {
    std::istringstream in{std::string(line)};
    std::string unit, via, cdb, dir, length, status, sense, moved;
    if (!(in >> unit >> via >> cdb >> dir >> length >> status >> sense >> moved)) {
        return std::nullopt;
    }
    LogEntry e;
    e.unit = unit;
    e.via = via;
    const auto cdbBytes = ParseHexBytes(cdb);
    const auto direction = ParseDirection(dir);
    const auto len = ParseU32(length);
    const auto st = ParseU32(status);
    const auto mv = ParseU32(moved);
    if (!cdbBytes || !direction || !len || !st || *st > 255 || !mv || sense.size() != 8 ||
        sense[2] != '/' || sense[5] != '/') {
        return std::nullopt;
    }
    const auto senseBytes =
        ParseHexBytes(sense.substr(0, 2) + sense.substr(3, 2) + sense.substr(6, 2));
    if (!senseBytes) {
        return std::nullopt;
    }
    e.cdb = *cdbBytes;
    e.direction = *direction;
    e.length = *len;
    e.status = static_cast<std::uint8_t>(*st);
    for (int i = 0; i < 3; ++i) {
        e.sense[i] = (*senseBytes)[static_cast<std::size_t>(i)];
    }
    e.transferred = *mv;
    std::getline(in >> std::ws, e.note);
    return e;
}

bool AppendCommandLog(const std::filesystem::path& file, const LogEntry& entry) {
    std::ofstream out(file, std::ios::binary | std::ios::app);
    out << FormatLogEntry(entry) << '\n';
    out.flush();
    return static_cast<bool>(out);
}

std::vector<LogEntry> ReadCommandLog(const std::filesystem::path& file, std::size_t from) {
    std::vector<LogEntry> entries;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    std::size_t index = 0;
    while (std::getline(in, line)) {
        if (index++ < from) {
            continue;
        }
        if (auto e = ParseLogEntry(line)) {
            entries.push_back(std::move(*e));
        }
    }
    return entries;
}

std::size_t CommandLogSize(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::size_t count = 0;
    std::string line;
    while (std::getline(in, line)) {
        ++count;
    }
    return count;
}

}  // namespace kvx::sim
