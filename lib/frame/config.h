// The device configuration file (prefix + "KVX.INI" beside the host program). Read on every use,
// never cached and never written, so a changed file takes effect at the next call.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kvx {

class Host;

class Config {
  public:
    // The configuration of the running program.
    explicit Config(Host& host);
    // A configuration file at an explicit path.
    Config(Host& host, std::u16string path);

    const std::u16string& path() const { return path_; }

    // Whether the file exists and can be opened for reading.
    bool Exists() const;

    // A value of at most maxChars - 1 characters; absent keys read as the default.
    std::u16string Read(std::u16string_view section, std::u16string_view key, std::size_t maxChars,
                        std::u16string_view defaultValue = u"") const;

    // An indexed key formed "%s%d" (VENDORSTR0, VENDORSTR1 ...).
    std::u16string ReadIndexed(std::u16string_view section, std::u16string_view key, unsigned index,
                               std::size_t maxChars) const;

  private:
    Host& host_;
    std::u16string path_;
};

inline constexpr char16_t kVendorSection[] = u"VENDOR";

}  // namespace kvx
