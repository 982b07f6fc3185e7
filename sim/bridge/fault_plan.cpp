#include "sim/bridge/fault_plan.h"

#include <charconv>
#include <sstream>

#include "sim/bridge/hex.h"

namespace kvx::sim {
namespace {

struct KindName {
    FaultKind kind;
    std::string_view name;
};

constexpr KindName kKindNames[] = {
    {FaultKind::kFail, "fail"},
    {FaultKind::kShort, "short"},
    {FaultKind::kUnplugAfter, "unplug-after"},
    {FaultKind::kHubNameLength, "hub-name-length"},
    {FaultKind::kHubDescriptorLength, "hub-descriptor-length"},
    {FaultKind::kHubStatus, "hub-status"},
    {FaultKind::kVolumeLock, "volume-lock"},
    {FaultKind::kVolumeDismount, "volume-dismount"},
};

template <typename T>
std::optional<T> ParseNumber(std::string_view text, int base) {
    T value{};
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::string Hex2(std::uint8_t b) {
    return ToHex(std::span<const std::uint8_t>(&b, 1));
}

}  // namespace

std::string_view FaultKindName(FaultKind kind) {
    for (const auto& k : kKindNames) {
        if (k.kind == kind) {
            return k.name;
        }
    }
    return "?";
}

std::optional<FaultKind> ParseFaultKind(std::string_view name) {
    for (const auto& k : kKindNames) {
        if (k.name == name) {
            return k.kind;
        }
    }
    return std::nullopt;
}

bool ValidFaultMatch(std::string_view match) {
    if (match == "any" || match == "read" || match == "write") {
        return true;
    }
    if (match.starts_with("op:") || match.starts_with("sub:")) {
        const auto hex = match.substr(match.find(':') + 1);
        return hex.size() <= 2 && ParseNumber<std::uint8_t>(hex, 16).has_value();
    }
    return false;
}

std::string FormatFault(const Fault& fault) {
    std::string text(FaultKindName(fault.kind));
    text += " " + fault.match + " count=" + std::to_string(fault.count) +
            " sense=" + Hex2(fault.sense[0]) + "/" + Hex2(fault.sense[1]) + "/" +
            Hex2(fault.sense[2]) + " value=" + std::to_string(fault.value);
    return text;
}

std::optional<Fault> ParseFault(std::string_view text) {
    std::istringstream words{std::string(text)};
    std::string word;
    if (!(words >> word)) {
        return std::nullopt;
    }
    Fault fault;
    const auto kind = ParseFaultKind(word);
    if (!kind) {
        return std::nullopt;
    }
    fault.kind = *kind;
    while (words >> word) {
        const auto eq = word.find('=');
        if (eq == std::string::npos) {
            if (!ValidFaultMatch(word)) {
                return std::nullopt;
            }
            fault.match = word;
            continue;
        }
        const std::string_view key = std::string_view(word).substr(0, eq);
        const std::string_view value = std::string_view(word).substr(eq + 1);
        if (key == "count" || key == "value") {
            const auto n = ParseNumber<std::uint32_t>(value, 10);
            if (!n) {
                return std::nullopt;
            }
            (key == "count" ? fault.count : fault.value) = *n;
        } else if (key == "sense") {
            // B2/ASC/ASCQ in hex
            std::size_t start = 0;
            for (int i = 0; i < 3; ++i) {
                const std::size_t slash = value.find('/', start);
                const bool last = i == 2;
                if (last != (slash == std::string_view::npos)) {
                    return std::nullopt;
                }
                const auto part =
                    value.substr(start, last ? std::string_view::npos : slash - start);
                const auto byte = ParseNumber<std::uint8_t>(part, 16);
                if (!byte) {
                    return std::nullopt;
                }
                fault.sense[static_cast<std::size_t>(i)] = *byte;
                start = slash + 1;
            }
        } else {
            return std::nullopt;
        }
    }
    return fault;
}

bool FaultMatches(const Fault& fault, const CommandTraits& command) {
    const std::string_view m = fault.match;
    if (m == "any") {
        return true;
    }
    if (m == "read") {
        return command.sectorRead;
    }
    if (m == "write") {
        return command.sectorWrite;
    }
    if (m.starts_with("op:")) {
        return ParseNumber<std::uint8_t>(m.substr(3), 16) == command.opcode;
    }
    if (m.starts_with("sub:")) {
        return command.vendorSub.has_value() &&
               ParseNumber<std::uint8_t>(m.substr(4), 16) == *command.vendorSub;
    }
    return false;
}

std::optional<Fault> TakeFault(std::vector<Fault>& faults, FaultKind kind,
                               const CommandTraits* command) {
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (it->kind != kind || it->count == 0) {
            continue;
        }
        if (command != nullptr && !FaultMatches(*it, *command)) {
            continue;
        }
        const Fault taken = *it;
        if (--it->count == 0) {
            faults.erase(it);
        }
        return taken;
    }
    return std::nullopt;
}

}  // namespace kvx::sim
