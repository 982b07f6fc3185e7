#include "sim/machine.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

#include "host/text.h"
#include "sim/bridge/device_dir.h"

namespace kvx::sim {
namespace {

#ifdef _WIN32
constexpr bool kWindowsBuild = true;
#else
constexpr bool kWindowsBuild = false;
#endif

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

template <typename T>
std::optional<T> ParseNumber(std::string_view text) {
    T value{};
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

struct TypeName {
    DriveType type;
    std::string_view name;
};

constexpr TypeName kTypeNames[] = {
    {kDriveRemovable, "removable"}, {kDriveFixed, "fixed"},     {kDriveRemote, "remote"},
    {kDriveCdRom, "cdrom"},         {kDriveRamDisk, "ramdisk"},
};

}  // namespace

std::string_view DriveTypeName(DriveType type) {
    for (const auto& t : kTypeNames) {
        if (t.type == type) {
            return t.name;
        }
    }
    return "unknown";
}

std::optional<DriveType> ParseDriveType(std::string_view text) {
    for (const auto& t : kTypeNames) {
        if (t.name == text) {
            return t.type;
        }
    }
    return std::nullopt;
}

std::filesystem::path MachinePath(std::string_view text) {
    std::string path(text);
    if (kWindowsBuild && path.starts_with("/")) {
        path = "Z:" + path;
    }
    const std::u16string wide = FromUtf8(path);
    return std::filesystem::path(wide);
}

std::filesystem::path MachineFile(const std::filesystem::path& machine) {
    return machine / "machine";
}

std::filesystem::path DeviceDirectory(const std::filesystem::path& machine, unsigned number) {
    return machine / "devices" / std::to_string(number);
}

std::string FormatMachine(const MachineConfig& c) {
    std::ostringstream out;
    out << "format: 1\n";
    out << "windows: " << c.version.major << "." << c.version.minor << "." << c.version.build
        << "\n";
    out << "platform: " << c.version.platformId << "\n";
    out << "product_type: " << static_cast<unsigned>(c.version.productType) << "\n";
    out << "service_pack: " << ToUtf8(c.version.servicePack) << "\n";
    out << "admin: " << (c.admin ? "yes" : "no") << "\n";
    out << "usb_foreign_port: " << c.foreignUsbPort << "\n";
    for (const auto& d : c.drives) {
        out << "drive: " << d.letter << " " << DriveTypeName(d.type) << "\n";
    }
    return out.str();
}

std::optional<MachineConfig> ParseMachine(std::string_view text, std::string* error) {
    MachineConfig c;
    c.drives.clear();
    auto fail = [error](std::string why) -> std::optional<MachineConfig> {
        if (error != nullptr) {
            *error = std::move(why);
        }
        return std::nullopt;
    };
    std::istringstream in{std::string(text)};
    std::string raw;
    while (std::getline(in, raw)) {
        const std::string_view line = Trim(raw);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            return fail("machine file: line without ':'");
        }
        const std::string_view key = Trim(line.substr(0, colon));
        const std::string_view value = Trim(line.substr(colon + 1));
        bool ok = true;
        if (key == "format") {
            ok = value == "1";
        } else if (key == "windows") {
            const auto d1 = value.find('.');
            const auto d2 = value.find('.', d1 == std::string_view::npos ? d1 : d1 + 1);
            const auto major = ParseNumber<std::uint32_t>(value.substr(0, d1));
            const auto minor = d1 == std::string_view::npos
                                   ? std::nullopt
                                   : ParseNumber<std::uint32_t>(value.substr(d1 + 1, d2 - d1 - 1));
            const auto build = d2 == std::string_view::npos
                                   ? std::nullopt
                                   : ParseNumber<std::uint32_t>(value.substr(d2 + 1));
            ok = major && minor && build;
            if (ok) {
                c.version.major = *major;
                c.version.minor = *minor;
                c.version.build = *build;
            }
        } else if (key == "platform") {
            const auto n = ParseNumber<std::uint32_t>(value);
            ok = n.has_value();
            c.version.platformId = n.value_or(2);
        } else if (key == "product_type") {
            const auto n = ParseNumber<std::uint8_t>(value);
            ok = n.has_value();
            c.version.productType = n.value_or(1);
        } else if (key == "service_pack") {
            c.version.servicePack = FromUtf8(value);
        } else if (key == "admin") {
            ok = value == "yes" || value == "no";
            c.admin = value == "yes";
        } else if (key == "usb_foreign_port") {
            const auto n = ParseNumber<std::uint32_t>(value);
            ok = n.has_value() && *n <= 3;
            c.foreignUsbPort = n.value_or(0);
        } else if (key == "drive") {
            const auto type =
                value.size() > 2 ? ParseDriveType(Trim(value.substr(1))) : std::nullopt;
            const char letter = value.empty() ? 0 : value[0];
            ok = type.has_value() && letter >= 'A' && letter <= 'Z';
            if (ok) {
                c.drives.push_back({letter, *type});
            }
        } else {
            return fail("machine file: unknown key " + std::string(key));
        }
        if (!ok) {
            return fail("machine file: bad value for " + std::string(key));
        }
    }
    return c;
}

std::optional<MachineConfig> LoadMachine(const std::filesystem::path& machine, std::string* error) {
    std::ifstream in(MachineFile(machine), std::ios::binary);
    if (!in) {
        return std::optional<MachineConfig>(std::in_place);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ParseMachine(text.str(), error);
}

bool SaveMachine(const std::filesystem::path& machine, const MachineConfig& config,
                 std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(machine, ec);
    std::ofstream out(MachineFile(machine), std::ios::binary | std::ios::trunc);
    out << FormatMachine(config);
    out.flush();
    if (!out) {
        if (error != nullptr) {
            *error = "cannot write " + MachineFile(machine).string();
        }
        return false;
    }
    return true;
}

std::vector<unsigned> DeviceNumbers(const std::filesystem::path& machine) {
    std::vector<unsigned> numbers;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(machine / "devices", ec)) {
        const std::string name = entry.path().filename().string();
        const auto n = ParseNumber<unsigned>(name);
        if (n && std::to_string(*n) == name && std::filesystem::exists(entry.path() / "state")) {
            numbers.push_back(*n);
        }
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::optional<unsigned> CreateDevice(const std::filesystem::path& machine, const BridgeState& state,
                                     std::optional<unsigned> number, std::string* error) {
    if (!std::filesystem::exists(MachineFile(machine))) {
        // A named default: GCC 12 at -O3 takes the string of a temporary's version for
        // uninitialised (-Wmaybe-uninitialized).
        const MachineConfig defaults;
        if (!SaveMachine(machine, defaults, error)) {
            return std::nullopt;
        }
    }
    unsigned n = 0;
    if (number) {
        n = *number;
    } else {
        const auto taken = DeviceNumbers(machine);
        while (std::find(taken.begin(), taken.end(), n) != taken.end()) {
            ++n;
        }
    }
    if (!CreateDeviceFiles(DevicePaths(DeviceDirectory(machine, n)), state, error)) {
        return std::nullopt;
    }
    return n;
}

bool SecureLetterShown(const BridgeState& state) {
    return state.plugged && state.secureOpen;
}

}  // namespace kvx::sim
