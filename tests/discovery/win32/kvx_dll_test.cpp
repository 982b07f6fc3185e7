// The built KVX.DLL loaded the way the applications load it: LoadLibraryW, the exports found by
// their plain names with GetProcAddress, answering from an emulated machine named by KVX_SIM.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "frame/naming.h"
#include "frame/qda.h"
#include "host/host.h"
#include "support/sim_library.h"
#include "support/sim_machine.h"

namespace kvx {
namespace {

using test::Letters;
using CheckFn = int(KVX_CALL*)(QdaRequest*);
using ChipFn = int(KVX_CALL*)(QdaRequest*, uint16_t*);

// The build's path of the library; a unix path lies on Wine's "Z:".
std::wstring DllPath() {
    std::string path = KVX_DLL_PATH;
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
    }
    return std::filesystem::path(path).wstring();
}

// The configuration file beside this program, named by its prefix as the library names it;
// removed afterwards.
class ProgramConfig {
  public:
    explicit ProgramConfig(const std::string& text)
        : path_(std::filesystem::path(ConfigFilePath(PlatformHost()))) {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << text;
    }
    ~ProgramConfig() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    ProgramConfig(const ProgramConfig&) = delete;
    ProgramConfig& operator=(const ProgramConfig&) = delete;

  private:
    std::filesystem::path path_;
};

TEST(KvxDll, LoadedByNameItAnswersFromTheEmulatedDevices) {
    test::SimMachine machine;
    machine.AddDevice([](sim::BridgeState& s) {
        s.chip = "D3F5";
        s.serial = "KVXDLL000001";
    });
    machine.AddDevice([](sim::BridgeState& s) {
        s.chip = "8A1C";
        s.serial = "KVXDLL000002";
    });
    (void)ActiveHost();  // this program's own host is chosen before KVX_SIM is set
    const ProgramConfig config(test::DefaultVendorConfig());
    const test::ScopedEnv sim("KVX_SIM", machine.DirText());

    HMODULE dll = LoadLibraryW(DllPath().c_str());
    ASSERT_NE(dll, nullptr) << "LoadLibraryW failed: " << GetLastError();
    const auto checkCd =
        reinterpret_cast<CheckFn>(reinterpret_cast<void*>(GetProcAddress(dll, "QDACheckCD")));
    const auto chipNum =
        reinterpret_cast<ChipFn>(reinterpret_cast<void*>(GetProcAddress(dll, "QDAGetChipNum")));
    ASSERT_NE(checkCd, nullptr);
    ASSERT_NE(chipNum, nullptr);
    EXPECT_EQ(GetProcAddress(dll, "_QDACheckCD"), nullptr);  // no decorated twin

    QdaRequest request;
    std::memset(&request, 0, sizeof request);
    const std::size_t mark = machine.LogSize(1);
    EXPECT_EQ(checkCd(&request), 1);
    EXPECT_EQ(request.errorCode, 0);
    EXPECT_EQ(Letters(request.cdLetters), "EG");
    // The answers came from the device itself: it saw the INQUIRYs.
    const auto seen = machine.Log(mark, 1);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front().cdb[0], 0x12);

    for (const auto& [letter, code] : {std::pair{'E', u"D3F5"}, std::pair{'G', u"8A1C"}}) {
        std::memset(&request, 0, sizeof request);
        request.driveLetter = static_cast<std::uint8_t>(letter);
        std::uint16_t chip[5] = {1, 1, 1, 1, 1};
        EXPECT_EQ(chipNum(&request, chip), 1) << letter;
        EXPECT_EQ(std::u16string(chip, chip + 4), code);
        EXPECT_EQ(chip[4], 0);
    }
    std::memset(&request, 0, sizeof request);
    request.driveLetter = 'C';
    std::uint16_t chip[5] = {};
    EXPECT_EQ(chipNum(&request, chip), 0);
    EXPECT_EQ(request.errorCode, 29);
    EXPECT_TRUE(FreeLibrary(dll));
}

}  // namespace
}  // namespace kvx
