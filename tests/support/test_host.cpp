#include "support/test_host.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kvx::test {

TestHost::TestHost() : ForwardingHost(PlatformHost()), version(NtVersion(10, 0)) {}

OsVersion NtVersion(std::uint32_t major, std::uint32_t minor, std::uint8_t productType) {
    OsVersion v;
    v.ok = true;
    v.platformId = 2;
    v.major = major;
    v.minor = minor;
    v.build = 19045;
    v.productType = productType;
    return v;
}

namespace {

std::filesystem::path ScratchRoot() {
    if (const char* root = std::getenv("KVX_TEST_TMP"); root != nullptr && root[0] != '\0') {
#ifdef _WIN32
        // A unix path handed to a program under Wine lies on the drive that maps "/".
        if (root[0] == '/') {
            return std::filesystem::path(std::string("Z:") + root);
        }
#endif
        return std::filesystem::path(root);
    }
    return std::filesystem::temp_directory_path() / "kvx-tests";
}

}  // namespace

ScratchDir::ScratchDir() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = ScratchRoot() / ("t" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::u16string ScratchDir::File(const std::string& name) const {
    return (path_ / name).u16string();
}

std::string ReadTextFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace kvx::test
