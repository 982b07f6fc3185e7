// The Linux host: real files and services, no device.
#ifndef _WIN32

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/host.h"
#include "host/posix/posix_host.h"
#include "host/text.h"

namespace kvx {
namespace {

namespace fs = std::filesystem;

class PosixHostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* base = std::getenv("KVX_TEST_TMP");
        const fs::path root = base != nullptr ? fs::path(base) : fs::temp_directory_path();
        dir_ = root / ("posix_host_" + std::to_string(::getpid()) + "_" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    // The Windows form of a path in the test folder: backslashes throughout.
    std::u16string WindowsForm(const std::string& leaf) const {
        std::u16string path = FromUtf8((dir_ / leaf).string());
        for (char16_t& c : path) {
            if (c == u'/') {
                c = u'\\';
            }
        }
        return path;
    }
    std::unique_ptr<Host> host_ = MakePosixHost();
    fs::path dir_;
};

TEST_F(PosixHostTest, CreatesWritesAndReadsAFile) {
    const std::u16string name = WindowsForm("data.bin");
    const OpenResult file =
        host_->Open(name, kAccessRead | kAccessWrite, kShareRead, Disposition::kCreateAlways);
    ASSERT_NE(file.handle, kInvalidHandle) << file.osError;
    const std::array<std::uint8_t, 4> bytes = {1, 2, 3, 4};
    ASSERT_TRUE(host_->WriteAt(file.handle, 10, bytes));
    EXPECT_EQ(host_->FileSize(file.handle), 14u);

    std::array<std::uint8_t, 8> back{};
    EXPECT_EQ(host_->ReadAt(file.handle, 8, back), 6u);  // short read at the end
    EXPECT_EQ(back, (std::array<std::uint8_t, 8>{0, 0, 1, 2, 3, 4, 0, 0}));
    EXPECT_EQ(host_->ReadAt(file.handle, 100, back), 0u);
    host_->Close(file.handle);

    EXPECT_TRUE(host_->FileExists(name));
    std::ifstream in(dir_ / "data.bin", std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, std::string("\0\0\0\0\0\0\0\0\0\0\1\2\3\4", 14));
}

TEST_F(PosixHostTest, CreateAlwaysTruncatesAndOpenExistingKeeps) {
    std::ofstream(dir_ / "f") << "0123456789";
    const OpenResult keep = host_->Open(WindowsForm("f"), kAccessRead, kShareRead);
    ASSERT_NE(keep.handle, kInvalidHandle);
    EXPECT_EQ(host_->FileSize(keep.handle), 10u);
    host_->Close(keep.handle);
    const OpenResult fresh =
        host_->Open(WindowsForm("f"), kAccessWrite, kShareRead, Disposition::kCreateAlways);
    ASSERT_NE(fresh.handle, kInvalidHandle);
    EXPECT_EQ(host_->FileSize(fresh.handle), 0u);
    host_->Close(fresh.handle);
}

TEST_F(PosixHostTest, OpenFailuresCarryWindowsErrors) {
    struct Case {
        std::u16string name;
        std::uint32_t error;
    };
    fs::create_directories(dir_ / "sub");
    const Case cases[] = {
        {WindowsForm("missing.bin"), kErrorFileNotFound},
        {WindowsForm("nodir/missing.bin"), kErrorPathNotFound},
        {WindowsForm("sub"), kErrorAccessDenied},
        {u"\\\\.\\E:", kErrorFileNotFound},
        {u"\\\\.\\PhysicalDrive0", kErrorFileNotFound},
        {u"//./HCD0", kErrorFileNotFound},
    };
    for (const Case& c : cases) {
        const OpenResult result = host_->Open(c.name, kAccessRead, kShareRead | kShareWrite);
        EXPECT_EQ(result.handle, kInvalidHandle) << ToUtf8(c.name);
        EXPECT_EQ(result.osError, c.error) << ToUtf8(c.name);
    }
}

TEST_F(PosixHostTest, ExclusiveOpenExcludesOthers) {
    std::ofstream(dir_ / "f") << "x";
    const OpenResult first = host_->Open(WindowsForm("f"), kAccessRead, kShareNone);
    ASSERT_NE(first.handle, kInvalidHandle);
    const OpenResult second = host_->Open(WindowsForm("f"), kAccessRead, kShareRead);
    EXPECT_EQ(second.handle, kInvalidHandle);
    EXPECT_EQ(second.osError, kErrorSharingViolation);
    host_->Close(first.handle);
    const OpenResult third = host_->Open(WindowsForm("f"), kAccessRead, kShareRead);
    EXPECT_NE(third.handle, kInvalidHandle);
    host_->Close(third.handle);
}

TEST_F(PosixHostTest, ClosedOrForeignHandlesAreRefused) {
    std::ofstream(dir_ / "f") << "x";
    const OpenResult file = host_->Open(WindowsForm("f"), kAccessRead, kShareRead);
    ASSERT_NE(file.handle, kInvalidHandle);
    host_->Close(file.handle);
    std::array<std::uint8_t, 1> byte{};
    EXPECT_EQ(host_->ReadAt(file.handle, 0, byte), std::nullopt);
    EXPECT_FALSE(host_->WriteAt(file.handle, 0, byte));
    EXPECT_EQ(host_->FileSize(file.handle), std::nullopt);
    EXPECT_EQ(host_->ReadAt(STDIN_FILENO, 0, byte), std::nullopt);  // not ours
    host_->Close(kInvalidHandle);
    host_->Close(STDOUT_FILENO);  // not ours: must stay open
    EXPECT_NE(::fcntl(STDOUT_FILENO, F_GETFD), -1);
}

TEST_F(PosixHostTest, FileExistsOnlyForPlainFiles) {
    std::ofstream(dir_ / "f") << "x";
    EXPECT_TRUE(host_->FileExists(WindowsForm("f")));
    EXPECT_FALSE(host_->FileExists(WindowsForm("")));  // the folder itself
    EXPECT_FALSE(host_->FileExists(WindowsForm("g")));
    EXPECT_FALSE(host_->FileExists(u"\\\\.\\E:"));
    EXPECT_FALSE(host_->FileExists(u""));
}

TEST_F(PosixHostTest, FindsNoDevice) {
    std::array<std::uint8_t, 6> cdb = {0x12, 0, 0, 0, 36, 0};
    std::array<std::uint8_t, 36> data{};
    const ScsiOutcome outcome =
        host_->ScsiPassThrough(3, ScsiCommand{cdb, data, DataDirection::kIn, 20});
    EXPECT_FALSE(outcome.sent);
    EXPECT_EQ(outcome.osError, kErrorInvalidHandle);
    EXPECT_EQ(host_->QueryBusType(3), std::nullopt);
    EXPECT_EQ(host_->GetPartitionInfo(3), std::nullopt);
    EXPECT_EQ(host_->GetDriveLayout(3), std::nullopt);
    EXPECT_FALSE(host_->ControlVolume(3, VolumeOp::kLock));
    EXPECT_FALSE(host_->UpdateDiskProperties(3));
    EXPECT_EQ(host_->LogicalDriveMask(), 0u);
    EXPECT_EQ(host_->GetDriveType(u'C'), kDriveNoRootDir);
    EXPECT_TRUE(host_->UsbHostControllerPaths().empty());
    std::array<std::uint8_t, 8> out{};
    EXPECT_EQ(host_->UsbHubControl(3, kUsbGetNodeInformation, {}, out), std::nullopt);
    EXPECT_EQ(host_->ReadRegistryValue(u"SYSTEM\\CurrentControlSet", u"x"), std::nullopt);
    EXPECT_EQ(host_->RegistrySubkeys(u"SYSTEM"), std::nullopt);
    EXPECT_FALSE(host_->GetVersion(false).ok);
    EXPECT_FALSE(host_->GetVersion(true).ok);
}

TEST_F(PosixHostTest, ModuleFileNameIsThisProgram) {
    const std::u16string self = host_->ModuleFileName();
    EXPECT_EQ(ToUtf8(self), fs::canonical("/proc/self/exe").string());
    EXPECT_TRUE(host_->FileExists(self));
}

TEST_F(PosixHostTest, ProfileStringsThroughWindowsPaths) {
    const std::u16string ini = WindowsForm("APP.INI");
    EXPECT_EQ(host_->ReadProfileString(u"Main", u"Drive", u"none", ini, 16), u"none");
    ASSERT_TRUE(host_->WriteProfileString(u"Main", u"Drive", u"E", ini));
    EXPECT_EQ(host_->ReadProfileString(u"MAIN", u"drive", u"none", ini, 16), u"E");
    EXPECT_TRUE(fs::exists(dir_ / "APP.INI"));
    EXPECT_FALSE(host_->WriteProfileString(u"Main", u"Drive", u"E", u"\\\\.\\E:"));
    EXPECT_EQ(host_->ReadProfileString(u"Main", u"Drive", u"d", u"\\\\.\\E:", 16), u"d");
}

TEST_F(PosixHostTest, AnsiIsWindows1252) {
    EXPECT_EQ(host_->ToAnsi(u"caf\u00E9 \u20AC \u0416"), "caf\xE9 \x80 ?");
    EXPECT_EQ(host_->FromAnsi("caf\xE9 \x80"), u"caf\u00E9 \u20AC");
}

// What the Microsoft C runtime's rand() prints unseeded and after srand(12345).
TEST_F(PosixHostTest, RandomMatchesTheMicrosoftRuntime) {
    const auto draw = [&](std::size_t count) {
        std::vector<int> drawn;
        for (std::size_t i = 0; i < count; ++i) {
            drawn.push_back(host_->Random());
        }
        return drawn;
    };
    const std::vector<int> unseeded = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358};
    EXPECT_EQ(draw(unseeded.size()), unseeded);
    host_->SeedRandom(12345);
    EXPECT_EQ(draw(4), (std::vector<int>{7584, 19164, 25795, 22125}));
    host_->SeedRandom(1);  // srand(1) restarts the unseeded sequence
    EXPECT_EQ(draw(unseeded.size()), unseeded);
}

TEST_F(PosixHostTest, RandomStaysInRangeForAnySeed) {
    host_->SeedRandom(0xFFFFFFFFu);
    for (int i = 0; i < 1000; ++i) {
        const int r = host_->Random();
        ASSERT_GE(r, 0);
        ASSERT_LE(r, 32767);
    }
}

TEST_F(PosixHostTest, ClockAndSleep) {
    const auto wall = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
    EXPECT_LE(std::abs(host_->Time() - wall), 2);
    const auto start = std::chrono::steady_clock::now();
    host_->Sleep(30);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

// --- Shared blocks across processes -------------------------------------------------------------

std::u16string UniqueBlockName(const char* what) {
    return FromUtf8(std::string("Local\\kvx test ") + what + " " + std::to_string(::getpid()));
}

// Runs `body` in a child process and returns its exit status (or -1 when it did not exit).
template <typename Body>
int InChild(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::unique_ptr<Host> host = MakePosixHost();
        ::_exit(body(*host));
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

TEST_F(PosixHostTest, SharedBlockIsSeenByAnotherProcess) {
    const std::u16string name = UniqueBlockName("seen");
    ASSERT_FALSE(host_->SharedBlockExists(name));
    const auto block = host_->OpenOrCreateSharedBlock(name);
    ASSERT_TRUE(block);
    EXPECT_TRUE(block->created);
    EXPECT_EQ(host_->ReadSharedBlock(block->handle), 0u);
    ASSERT_TRUE(host_->WriteSharedBlock(block->handle, 0x12345678u));

    // 0: existed, not created, saw the value; then leaves its own value behind.
    const int child = InChild([&](Host& host) {
        if (!host.SharedBlockExists(name)) {
            return 1;
        }
        const auto opened = host.OpenOrCreateSharedBlock(name);
        if (!opened) {
            return 2;
        }
        if (opened->created) {
            return 3;
        }
        if (host.ReadSharedBlock(opened->handle) != 0x12345678u) {
            return 4;
        }
        host.WriteSharedBlock(opened->handle, 0xCAFEu);
        host.Close(opened->handle);
        return 0;
    });
    EXPECT_EQ(child, 0);
    EXPECT_EQ(host_->ReadSharedBlock(block->handle), 0xCAFEu);
    EXPECT_TRUE(host_->SharedBlockExists(name));  // the child's close did not end it

    host_->Close(block->handle);
    EXPECT_FALSE(host_->SharedBlockExists(name));
    EXPECT_EQ(host_->ReadSharedBlock(block->handle), std::nullopt);
    EXPECT_EQ(InChild([&](Host& host) { return host.SharedBlockExists(name) ? 1 : 0; }), 0);
}

TEST_F(PosixHostTest, SharedBlockOfAKilledProcessIsGone) {
    const std::u16string name = UniqueBlockName("crash");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::unique_ptr<Host> host = MakePosixHost();
        const auto block = host->OpenOrCreateSharedBlock(name);
        if (block) {
            host->WriteSharedBlock(block->handle, 7);
        }
        const char flag = block ? 'y' : 'n';
        (void)!::write(ready[1], &flag, 1);
        ::pause();
        ::_exit(0);
    }
    ASSERT_GT(pid, 0);
    char flag = 0;
    ASSERT_EQ(::read(ready[0], &flag, 1), 1);
    EXPECT_EQ(flag, 'y');
    EXPECT_TRUE(host_->SharedBlockExists(name));

    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);

    EXPECT_FALSE(host_->SharedBlockExists(name));
    const auto block = host_->OpenOrCreateSharedBlock(name);
    ASSERT_TRUE(block);
    EXPECT_TRUE(block->created);
    EXPECT_EQ(host_->ReadSharedBlock(block->handle), 0u);  // no stale value
    host_->Close(block->handle);
}

TEST_F(PosixHostTest, SharedBlockNamesStayDistinct) {
    const std::u16string names[] = {u"kvx a b", u"kvx a_b", u"kvx a_0020b", u"KVX A B",
                                    u"kvx a\u00E9b"};
    std::vector<Host::SharedBlock> blocks;
    for (const std::u16string& name : names) {
        const auto block = host_->OpenOrCreateSharedBlock(name);
        ASSERT_TRUE(block) << ToUtf8(name);
        EXPECT_TRUE(block->created) << ToUtf8(name);
        blocks.push_back(*block);
    }
    for (const auto& block : blocks) {
        host_->Close(block.handle);
    }
    for (const std::u16string& name : names) {
        EXPECT_FALSE(host_->SharedBlockExists(name)) << ToUtf8(name);
    }
}

TEST_F(PosixHostTest, SecondOpenInOneProcessSeesTheBlock) {
    const std::u16string name = UniqueBlockName("twice");
    const auto first = host_->OpenOrCreateSharedBlock(name);
    const auto second = host_->OpenOrCreateSharedBlock(name);
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(first->created);
    EXPECT_FALSE(second->created);
    EXPECT_NE(first->handle, second->handle);
    ASSERT_TRUE(host_->WriteSharedBlock(first->handle, 99));
    EXPECT_EQ(host_->ReadSharedBlock(second->handle), 99u);
    host_->Close(first->handle);
    EXPECT_TRUE(host_->SharedBlockExists(name));
    host_->Close(second->handle);
    EXPECT_FALSE(host_->SharedBlockExists(name));
}

}  // namespace
}  // namespace kvx

#endif  // !_WIN32
