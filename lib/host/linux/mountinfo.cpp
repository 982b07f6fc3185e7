#include "host/linux/mountinfo.h"

#include <fstream>
#include <sstream>

#include "host/linux/sysfs_units.h"

namespace kvx::linux_host {
namespace {

constexpr std::size_t kDeviceField = 2;
constexpr std::size_t kMountPointField = 4;
constexpr char kOptionalFieldsEnd[] = "-";

// The kernel writes space, tab, newline and backslash in paths as \ooo.
std::string Unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            const std::string_view digits = text.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                out.push_back(static_cast<char>(((digits[0] - '0') << 6) |
                                                ((digits[1] - '0') << 3) | (digits[2] - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

}  // namespace

std::vector<Mount> ParseMountInfo(std::string_view text) {
    std::vector<Mount> mounts;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string word; words >> word;) {
            fields.push_back(word);
        }
        std::size_t end = kMountPointField + 1;
        while (end < fields.size() && fields[end] != kOptionalFieldsEnd) {
            ++end;
        }
        // After the separator: file system type, then the source.
        if (end + 2 >= fields.size()) {
            continue;
        }
        const auto device = ParseDeviceNumber(fields[kDeviceField]);
        if (!device) {
            continue;
        }
        mounts.push_back(
            Mount{*device, Unescape(fields[kMountPointField]), Unescape(fields[end + 2])});
    }
    return mounts;
}

std::vector<Mount> CurrentMounts() {
    std::ifstream in(kMountInfoPath);
    std::stringstream text;
    text << in.rdbuf();
    return ParseMountInfo(text.str());
}

}  // namespace kvx::linux_host
