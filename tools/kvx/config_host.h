// The configuration file kvx hands the library: the library looks for prefix + "KVX.INI" beside
// the running program; kvx may name another file (--config) or find one in the system's
// configuration folder. This host passes everything on and answers for the library's
// configuration path with that file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "host/forwarding_host.h"

namespace kvx::cli {

class ConfigRedirectHost final : public ForwardingHost {
  public:
    ConfigRedirectHost(Host& inner, std::u16string file);

    OpenResult Open(std::u16string_view name, std::uint32_t access, std::uint32_t share,
                    Disposition disposition) override;
    bool FileExists(std::u16string_view path) override;
    std::u16string ReadProfileString(std::u16string_view section, std::u16string_view key,
                                     std::u16string_view defaultValue, std::u16string_view path,
                                     std::size_t maxChars) override;

  private:
    std::u16string_view Mapped(std::u16string_view path) const;

    std::u16string libraryPath_;
    std::u16string file_;
};

// The file to hand the library: `asked` when given (a Failure when it cannot be read); none
// when the library's own file beside the program exists; else the first system candidate that
// exists; none when there is no such file (the library then reports its missing file).
std::optional<std::u16string> ChooseConfigFile(Host& host, const std::optional<std::string>& asked);

}  // namespace kvx::cli
