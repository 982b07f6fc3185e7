#include "tools/kvx/config_host.h"

#include <fstream>

#include "frame/naming.h"
#include "host/text.h"
#include "tools/kvx/failure.h"
#include "tools/kvx/terminal.h"

namespace kvx::cli {

ConfigRedirectHost::ConfigRedirectHost(Host& inner, std::u16string file)
    : ForwardingHost(inner), libraryPath_(ConfigFilePath(inner)), file_(std::move(file)) {}

std::u16string_view ConfigRedirectHost::Mapped(std::u16string_view path) const {
    return path == libraryPath_ ? std::u16string_view(file_) : path;
}

OpenResult ConfigRedirectHost::Open(std::u16string_view name, std::uint32_t access,
                                    std::uint32_t share, Disposition disposition) {
    return ForwardingHost::Open(Mapped(name), access, share, disposition);
}

bool ConfigRedirectHost::FileExists(std::u16string_view path) {
    return ForwardingHost::FileExists(Mapped(path));
}

std::u16string ConfigRedirectHost::ReadProfileString(std::u16string_view section,
                                                     std::u16string_view key,
                                                     std::u16string_view defaultValue,
                                                     std::u16string_view path,
                                                     std::size_t maxChars) {
    return ForwardingHost::ReadProfileString(section, key, defaultValue, Mapped(path), maxChars);
}

std::optional<std::u16string> ChooseConfigFile(Host& host,
                                               const std::optional<std::string>& asked) {
    if (asked) {
        const std::filesystem::path file(FromUtf8(*asked));
        if (!std::ifstream(file)) {
            throw Failure(kExitUsage, "cannot read the configuration file " + *asked);
        }
        return std::filesystem::absolute(file).u16string();
    }
    if (host.FileExists(ConfigFilePath(host))) {
        return std::nullopt;
    }
    for (const std::filesystem::path& candidate : SystemConfigCandidates()) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate, ec)) {
            return candidate.u16string();
        }
    }
    return std::nullopt;
}

}  // namespace kvx::cli
