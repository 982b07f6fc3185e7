// Test doubles over the platform host: a host whose program name and Windows version a test
// chooses, and a scratch directory that is removed afterwards.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "host/forwarding_host.h"

namespace kvx::test {

class TestHost : public ForwardingHost {
  public:
    TestHost();

    std::u16string ModuleFileName() override { return moduleFileName; }
    OsVersion GetVersion(bool extended) override {
        if (extended && extendedVersion) {
            return *extendedVersion;
        }
        return version;
    }

    std::u16string moduleFileName;
    OsVersion version;                         // default: NT 10.0 workstation
    std::optional<OsVersion> extendedVersion;  // when set, the extended query answers this
};

// A fresh directory under the test scratch area, removed on destruction.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // A file path inside the directory in the host's own spelling, as UTF-16.
    std::u16string File(const std::string& name) const;

  private:
    std::filesystem::path path_;
};

// The whole text of a file, or empty when it does not exist.
std::string ReadTextFile(const std::filesystem::path& path);

// An NT-family version answer.
OsVersion NtVersion(std::uint32_t major, std::uint32_t minor, std::uint8_t productType = 1);

}  // namespace kvx::test
