// The Windows host against the system it wraps (run under Wine): every answer is checked with a
// second, independent route to the same fact where one exists.

#include <windows.h>

#include <ntddscsi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/passthrough_buffer.h"
#include "host/platform_host.h"

namespace kvx {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::u16string U16(const std::wstring& text) {
    return std::u16string(text.begin(), text.end());
}
std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

std::u16string Lower(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c - u'A' + u'a');
        }
    }
    return text;
}

class Win32HostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        ASSERT_NE(GetTempPathW(MAX_PATH + 1, temp), 0u);
        // Process ids repeat between runs under Wine: take the first free name.
        const std::wstring base =
            std::wstring(temp) + L"kvx-host-" + std::to_wstring(GetCurrentProcessId());
        for (int serial = 0; serial < 1000; ++serial) {
            dir_ = base + L"-" + std::to_wstring(serial);
            if (CreateDirectoryW(dir_.c_str(), nullptr)) {
                return;
            }
            ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
        }
        FAIL() << "no free test directory";
    }

    void TearDown() override {
        for (const std::wstring& file : created_) {
            DeleteFileW(file.c_str());
        }
        RemoveDirectoryW(dir_.c_str());
    }

    std::u16string PathOf(const std::wstring& name) {
        created_.push_back(dir_ + L"\\" + name);
        return U16(created_.back());
    }

    // The file's bytes read by the C runtime, not by the host.
    static Bytes FileBytes(const std::u16string& path) {
        Bytes bytes;
        FILE* file = _wfopen(Wide(path).c_str(), L"rb");
        if (file == nullptr) {
            return bytes;
        }
        int c = 0;
        while ((c = std::fgetc(file)) != EOF) {
            bytes.push_back(static_cast<std::uint8_t>(c));
        }
        std::fclose(file);
        return bytes;
    }

    std::unique_ptr<Host> host_ = MakePlatformHost();
    std::wstring dir_;
    std::vector<std::wstring> created_;
};

// --- Files ---------------------------------------------------------------------------------

TEST_F(Win32HostTest, WritesAndReadsAtOffsets) {
    const std::u16string path = PathOf(L"data.bin");
    const OpenResult file =
        host_->Open(path, kAccessRead | kAccessWrite, kShareNone, Disposition::kCreateAlways);
    ASSERT_NE(file.handle, kInvalidHandle) << file.osError;
    const Bytes head = {'h', 'e', 'l', 'l', 'o'};
    const Bytes tail = {0xFE, 0xED};
    ASSERT_TRUE(host_->WriteAt(file.handle, 0, head));
    ASSERT_TRUE(host_->WriteAt(file.handle, 100, tail));
    EXPECT_EQ(host_->FileSize(file.handle), 102u);

    Bytes middle(6, 0xAA);
    EXPECT_EQ(host_->ReadAt(file.handle, 98, middle), 4u);  // short at the end of the file
    EXPECT_EQ(middle, Bytes({0, 0, 0xFE, 0xED, 0xAA, 0xAA}));
    Bytes beyond(4, 0xAA);
    EXPECT_EQ(host_->ReadAt(file.handle, 500, beyond), 0u);
    host_->Close(file.handle);

    Bytes expected(102, 0);
    std::copy(head.begin(), head.end(), expected.begin());
    std::copy(tail.begin(), tail.end(), expected.begin() + 100);
    EXPECT_EQ(FileBytes(path), expected);
}

TEST_F(Win32HostTest, ReadOnlyAndWriteOnlyHandlesRefuseTheOtherWay) {
    const std::u16string path = PathOf(L"modes.bin");
    const OpenResult writer =
        host_->Open(path, kAccessWrite, kShareRead, Disposition::kCreateAlways);
    ASSERT_NE(writer.handle, kInvalidHandle);
    ASSERT_TRUE(host_->WriteAt(writer.handle, 0, Bytes{1, 2, 3}));
    Bytes data(3);
    EXPECT_FALSE(host_->ReadAt(writer.handle, 0, data).has_value());
    host_->Close(writer.handle);

    const OpenResult reader = host_->Open(path, kAccessRead, kShareRead);
    ASSERT_NE(reader.handle, kInvalidHandle);
    EXPECT_FALSE(host_->WriteAt(reader.handle, 0, Bytes{9}));
    EXPECT_EQ(host_->ReadAt(reader.handle, 0, data), 3u);
    EXPECT_EQ(data, Bytes({1, 2, 3}));
    host_->Close(reader.handle);
}

TEST_F(Win32HostTest, OpenFailuresCarryTheSystemError) {
    const std::u16string missingFile = PathOf(L"missing.bin");
    const std::u16string missingDir = U16(dir_) + u"\\no-such-dir\\file.bin";
    struct Case {
        std::u16string name;
        Disposition disposition;
        std::uint32_t error;
    };
    const Case cases[] = {
        {missingFile, Disposition::kOpenExisting, kErrorFileNotFound},
        {missingDir, Disposition::kOpenExisting, kErrorPathNotFound},
        {missingDir, Disposition::kCreateAlways, kErrorPathNotFound},
        {std::u16string(u"a\0b", 3), Disposition::kCreateAlways, kErrorInvalidParameter},
    };
    for (const Case& c : cases) {
        const OpenResult result = host_->Open(c.name, kAccessRead, kShareRead, c.disposition);
        EXPECT_EQ(result.handle, kInvalidHandle);
        EXPECT_EQ(result.osError, c.error) << std::string(c.name.begin(), c.name.end());
    }
    const OpenResult disk = host_->Open(u"\\\\.\\PhysicalDrive99", kAccessRead | kAccessWrite,
                                        kShareRead | kShareWrite);
    EXPECT_EQ(disk.handle, kInvalidHandle);
    EXPECT_NE(disk.osError, kErrorNone);
}

TEST_F(Win32HostTest, ShareModesReachTheSystem) {
    const std::u16string path = PathOf(L"shared.bin");
    const OpenResult first =
        host_->Open(path, kAccessRead | kAccessWrite, kShareNone, Disposition::kCreateAlways);
    ASSERT_NE(first.handle, kInvalidHandle);
    const OpenResult second = host_->Open(path, kAccessRead, kShareRead | kShareWrite);
    EXPECT_EQ(second.handle, kInvalidHandle);
    EXPECT_EQ(second.osError, kErrorSharingViolation);
    host_->Close(first.handle);

    const OpenResult reader1 = host_->Open(path, kAccessRead, kShareRead);
    const OpenResult reader2 = host_->Open(path, kAccessRead, kShareRead);
    EXPECT_NE(reader1.handle, kInvalidHandle);
    EXPECT_NE(reader2.handle, kInvalidHandle);
    const OpenResult writer = host_->Open(path, kAccessWrite, kShareRead | kShareWrite);
    EXPECT_EQ(writer.osError, kErrorSharingViolation);  // the readers share reading only
    host_->Close(reader1.handle);
    host_->Close(reader2.handle);
}

TEST_F(Win32HostTest, FileExistsOnlyForPlainFiles) {
    const std::u16string path = PathOf(L"exists.txt");
    EXPECT_FALSE(host_->FileExists(path));
    const OpenResult file = host_->Open(path, kAccessWrite, kShareNone, Disposition::kCreateAlways);
    ASSERT_NE(file.handle, kInvalidHandle);
    host_->Close(file.handle);
    EXPECT_TRUE(host_->FileExists(path));
    EXPECT_FALSE(host_->FileExists(U16(dir_)));
    EXPECT_FALSE(host_->FileExists(path + u'\0' + u"x"));
}

TEST_F(Win32HostTest, InvalidHandleFailsEveryFileOperation) {
    Bytes data(4);
    EXPECT_FALSE(host_->ReadAt(kInvalidHandle, 0, data).has_value());
    EXPECT_FALSE(host_->WriteAt(kInvalidHandle, 0, data));
    EXPECT_FALSE(host_->FileSize(kInvalidHandle).has_value());
}

// --- Storage controls on things that are not disks ------------------------------------------

TEST_F(Win32HostTest, PassThroughThatCannotBeSubmittedSaysWhy) {
    const std::u16string path = PathOf(L"notadisk.bin");
    const OpenResult file =
        host_->Open(path, kAccessRead | kAccessWrite, kShareNone, Disposition::kCreateAlways);
    ASSERT_NE(file.handle, kInvalidHandle);

    const std::array<std::uint8_t, 6> inquiry = {0x12, 0, 0, 0, 36, 0};
    struct Case {
        HostHandle handle;
        std::size_t cdbLength;
        bool anyError;  // else exactly invalid parameter
    };
    const Case cases[] = {
        {file.handle, inquiry.size(), true},
        {kInvalidHandle, inquiry.size(), true},
        {file.handle, 0, false},
    };
    for (const Case& c : cases) {
        Bytes data(36, 0xAA);
        ScsiCommand command;
        command.cdb = std::span(inquiry).first(c.cdbLength);
        command.data = data;
        command.direction = DataDirection::kIn;
        const ScsiOutcome outcome = host_->ScsiPassThrough(c.handle, command);
        EXPECT_FALSE(outcome.sent);
        if (c.anyError) {
            EXPECT_NE(outcome.osError, kErrorNone);
        } else {
            EXPECT_EQ(outcome.osError, kErrorInvalidParameter);
        }
        EXPECT_EQ(outcome.transferred, 0u);
        EXPECT_EQ(data, Bytes(36, 0));  // nothing came back, so nothing stale is left
    }
    host_->Close(file.handle);
}

TEST_F(Win32HostTest, StorageQueriesFailOnAPlainFile) {
    const std::u16string path = PathOf(L"plain.bin");
    const OpenResult file =
        host_->Open(path, kAccessRead | kAccessWrite, kShareNone, Disposition::kCreateAlways);
    ASSERT_NE(file.handle, kInvalidHandle);
    EXPECT_FALSE(host_->QueryBusType(file.handle).has_value());
    EXPECT_FALSE(host_->GetPartitionInfo(file.handle).has_value());
    EXPECT_FALSE(host_->GetDriveLayout(file.handle).has_value());
    Bytes out(76);
    EXPECT_FALSE(host_->UsbHubControl(file.handle, kUsbGetNodeInformation, {}, out).has_value());
    host_->Close(file.handle);
    EXPECT_FALSE(host_->QueryBusType(kInvalidHandle).has_value());
    EXPECT_FALSE(host_->ControlVolume(kInvalidHandle, VolumeOp::kLock));
    EXPECT_FALSE(host_->UpdateDiskProperties(kInvalidHandle));
}

// The block this process builds is the system's own structure, field by field.
TEST(Win32PassThroughLayout, HeaderMatchesTheSystemStructure) {
    const std::array<std::uint8_t, 10> cdb = {0x20, 0xE1, 2, 3, 4, 5, 6, 7, 8, 0x10};
    Bytes data(512, 0x5A);
    ScsiCommand command;
    command.cdb = cdb;
    command.data = data;
    command.direction = DataDirection::kOut;
    command.timeoutSeconds = 20;
    const auto buffer = BuildPassThroughBuffer(NativePassThroughLayout(), command);
    ASSERT_TRUE(buffer.has_value());

    SCSI_PASS_THROUGH expected;
    std::memset(&expected, 0, sizeof(expected));
    expected.Length = sizeof(SCSI_PASS_THROUGH);
    expected.CdbLength = 10;
    expected.SenseInfoLength = 18;
    expected.DataIn = SCSI_IOCTL_DATA_OUT;
    expected.DataTransferLength = 512;
    expected.TimeOutValue = 20;
    expected.SenseInfoOffset = sizeof(SCSI_PASS_THROUGH);
    expected.DataBufferOffset = sizeof(SCSI_PASS_THROUGH) + 18;
    std::memcpy(expected.Cdb, cdb.data(), cdb.size());

    ASSERT_EQ(buffer->size(), sizeof(SCSI_PASS_THROUGH) + 18 + 512);
    EXPECT_EQ(std::memcmp(buffer->data(), &expected, sizeof(expected)), 0);
    EXPECT_EQ(Bytes(buffer->begin() + static_cast<std::ptrdiff_t>(expected.DataBufferOffset),
                    buffer->end()),
              data);
}

// --- Drives --------------------------------------------------------------------------------

TEST_F(Win32HostTest, DriveMaskAndTypes) {
    const std::uint32_t mask = host_->LogicalDriveMask();
    EXPECT_NE(mask & (1u << 2), 0u) << "C: is missing";
    EXPECT_EQ(host_->GetDriveType(u'C'), kDriveFixed);
    EXPECT_EQ(host_->GetDriveType(u'c'), kDriveFixed);
    for (char16_t letter = u'Z'; letter >= u'A'; --letter) {
        if ((mask & (1u << (letter - u'A'))) == 0) {
            EXPECT_EQ(host_->GetDriveType(letter), kDriveNoRootDir)
                << static_cast<char>(letter) << ": is not in the mask";
            break;
        }
    }
    EXPECT_EQ(host_->GetDriveType(u'1'), kDriveNoRootDir);
    EXPECT_EQ(host_->GetDriveType(u'\0'), kDriveNoRootDir);
}

// --- Registry ------------------------------------------------------------------------------

constexpr char16_t kCurrentVersionKey[] = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

std::u16string RegistryText(const RegistryValue& value) {
    std::u16string text(value.data.size() / 2, u'\0');
    std::memcpy(text.data(), value.data.data(), text.size() * 2);
    while (!text.empty() && text.back() == u'\0') {
        text.pop_back();
    }
    return text;
}

TEST_F(Win32HostTest, ReadsAStringValueAsStored) {
    const auto value = host_->ReadRegistryValue(kCurrentVersionKey, u"CurrentVersion");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, RegistryType::kString);
    ASSERT_GE(value->data.size(), 4u);
    EXPECT_EQ(value->data.size() % 2, 0u);
    EXPECT_EQ(value->data[value->data.size() - 2] | value->data[value->data.size() - 1], 0)
        << "stored with its terminator";
    const std::u16string text = RegistryText(*value);
    EXPECT_NE(text.find(u'.'), std::u16string::npos) << std::string(text.begin(), text.end());

    EXPECT_FALSE(host_->ReadRegistryValue(kCurrentVersionKey, u"NoSuchValueHere").has_value());
    EXPECT_FALSE(
        host_->ReadRegistryValue(u"SOFTWARE\\NoSuchKeyHere", u"CurrentVersion").has_value());
    EXPECT_FALSE(host_->RegistrySubkeys(u"SOFTWARE\\NoSuchKeyHere").has_value());

    const auto subkeys = host_->RegistrySubkeys(u"SOFTWARE\\Microsoft");
    ASSERT_TRUE(subkeys.has_value());
    EXPECT_NE(std::find(subkeys->begin(), subkeys->end(), u"Windows NT"), subkeys->end());
}

// Values of every type and subkeys written by the registry API come back byte for byte.
TEST_F(Win32HostTest, ReadsWhatTheRegistryApiWrote) {
    const std::wstring keyPath = L"SOFTWARE\\KvxHostTest-" + std::to_wstring(GetCurrentProcessId());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath.c_str());  // left over by an earlier run
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        GTEST_SKIP() << "HKEY_LOCAL_MACHINE is not writable for this user";
    }
    struct Value {
        const wchar_t* name;
        DWORD type;
        Bytes data;
    };
    const std::vector<Value> values = {
        {L"Text", REG_SZ, {'U', 0, 'S', 0, 'B', 0, 0, 0}},
        {L"Path", REG_EXPAND_SZ, {'%', 0, 'X', 0, '%', 0, 0, 0}},
        {L"Number", REG_DWORD, {0x78, 0x56, 0x34, 0x12}},
        {L"Blob", REG_BINARY, {0x5C, 0x00, 0x3F, 0x00, 0x3F, 0x00, 0x5C, 0x00, 0xFF}},
        {L"List", REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
        {L"", REG_SZ, {'d', 0, 0, 0}},
        {L"Empty", REG_BINARY, {}},
    };
    for (const Value& v : values) {
        ASSERT_EQ(RegSetValueExW(key, v.name, 0, v.type, v.data.data(),
                                 static_cast<DWORD>(v.data.size())),
                  ERROR_SUCCESS);
    }
    const std::vector<std::wstring> children = {L"Zeta", L"alpha", L"Mid"};
    for (const std::wstring& child : children) {
        HKEY sub = nullptr;
        ASSERT_EQ(RegCreateKeyExW(key, child.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub,
                                  nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(sub);
    }

    const std::u16string path = U16(keyPath);
    for (const Value& v : values) {
        const auto read = host_->ReadRegistryValue(path, U16(v.name));
        ASSERT_TRUE(read.has_value()) << std::string(v.name, v.name + wcslen(v.name));
        EXPECT_EQ(static_cast<DWORD>(read->type), v.type);
        EXPECT_EQ(read->data, v.data);
    }

    // The host lists subkeys in the order the system enumerates them.
    std::vector<std::u16string> enumerated;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        enumerated.push_back(U16(std::wstring(name, length)));
    }
    const auto subkeys = host_->RegistrySubkeys(path);
    ASSERT_TRUE(subkeys.has_value());
    EXPECT_EQ(*subkeys, enumerated);
    EXPECT_EQ(subkeys->size(), children.size());
    const auto none = host_->RegistrySubkeys(path + u"\\Mid");
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->empty());

    RegCloseKey(key);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath.c_str());
    EXPECT_FALSE(host_->RegistrySubkeys(path).has_value());
}

// --- Process and system --------------------------------------------------------------------

// The version the API reports is the one the system's registry describes.
TEST_F(Win32HostTest, VersionAgreesWithTheRegistry) {
    const OsVersion plain = host_->GetVersion(false);
    const OsVersion extended = host_->GetVersion(true);
    ASSERT_TRUE(plain.ok);
    ASSERT_TRUE(extended.ok);
    EXPECT_EQ(plain.platformId, 2u);
    EXPECT_EQ(plain.productType, 0);
    EXPECT_GE(extended.productType, 1);
    EXPECT_LE(extended.productType, 3);
    EXPECT_EQ(extended.major, plain.major);
    EXPECT_EQ(extended.minor, plain.minor);
    EXPECT_EQ(extended.build, plain.build);
    EXPECT_EQ(extended.servicePack, plain.servicePack);

    const auto current = host_->ReadRegistryValue(kCurrentVersionKey, u"CurrentVersion");
    const auto build = host_->ReadRegistryValue(kCurrentVersionKey, u"CurrentBuildNumber");
    ASSERT_TRUE(current.has_value() && build.has_value());
    const std::string dotted = std::to_string(plain.major) + "." + std::to_string(plain.minor);
    EXPECT_EQ(RegistryText(*current), std::u16string(dotted.begin(), dotted.end()));
    const std::string buildText = std::to_string(plain.build & 0xFFFF);
    EXPECT_EQ(RegistryText(*build), std::u16string(buildText.begin(), buildText.end()));
    const auto csd = host_->ReadRegistryValue(kCurrentVersionKey, u"CSDVersion");
    EXPECT_EQ(csd.has_value() ? RegistryText(*csd) : std::u16string(), plain.servicePack);
}

TEST_F(Win32HostTest, ModuleFileNameIsThisProgram) {
    const std::u16string name = host_->ModuleFileName();
    const std::u16string suffix = u"\\kvx_tests.exe";
    ASSERT_GT(name.size(), suffix.size());
    EXPECT_EQ(Lower(name.substr(name.size() - suffix.size())), suffix);
    EXPECT_TRUE(host_->FileExists(name));
}

TEST_F(Win32HostTest, ProfileStringsRoundTrip) {
    const std::u16string ini = PathOf(L"KVX.INI");
    EXPECT_TRUE(host_->WriteProfileString(u"VENDOR", u"VENDORSTR0", u"ACME", ini));
    EXPECT_TRUE(host_->WriteProfileString(u"VENDOR", u"AES", u"YES", ini));
    EXPECT_TRUE(host_->WriteProfileString(u"VENDOR", u"VENDORSTR0", u"Bridge Co", ini));

    EXPECT_EQ(host_->ReadProfileString(u"VENDOR", u"VENDORSTR0", u"", ini, 100), u"Bridge Co");
    EXPECT_EQ(host_->ReadProfileString(u"vendor", u"aes", u"NO", ini, 10), u"YES");
    EXPECT_EQ(host_->ReadProfileString(u"VENDOR", u"PID0", u"NO", ini, 10), u"NO");
    EXPECT_EQ(host_->ReadProfileString(u"VENDOR", u"VENDORSTR0", u"", ini, 4), u"Bri");
    EXPECT_EQ(host_->ReadProfileString(u"VENDOR", u"VENDORSTR0", u"", ini, 0), u"");
    EXPECT_EQ(host_->ReadProfileString(u"OTHER", u"AES", u"default", ini, 100), u"default");

    // The file is an ordinary INI text that another reader understands.
    const Bytes bytes = FileBytes(ini);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("[VENDOR]"), std::string::npos) << text;
    EXPECT_NE(text.find("VENDORSTR0=Bridge Co"), std::string::npos) << text;
    EXPECT_NE(text.find("AES=YES"), std::string::npos) << text;
    EXPECT_EQ(text.find("ACME"), std::string::npos) << text;

    EXPECT_FALSE(host_->WriteProfileString(u"S", u"K", u"V", U16(dir_) + u"\\no-dir\\x.ini"));
}

TEST_F(Win32HostTest, AnsiConversionOfAsciiText) {
    const std::string ascii = "Keyport 1.55 <password> ~!@#$%^&*()";
    const std::u16string wide(ascii.begin(), ascii.end());
    EXPECT_EQ(host_->ToAnsi(wide), ascii);
    EXPECT_EQ(host_->FromAnsi(ascii), wide);
    EXPECT_EQ(host_->ToAnsi(u""), "");
    EXPECT_EQ(host_->FromAnsi(""), u"");
    if (GetACP() == 1252) {
        EXPECT_EQ(host_->ToAnsi(u"\u00E9\u20AC"), "\xE9\x80");
        EXPECT_EQ(host_->FromAnsi("\xE9\x80"), u"\u00E9\u20AC");
    }
}

TEST_F(Win32HostTest, SharedBlockLivesWhileAHandleIsOpen) {
    const std::u16string name = u"KvxHostTestBlock" + U16(std::to_wstring(GetCurrentProcessId()));
    EXPECT_FALSE(host_->SharedBlockExists(name));

    const auto first = host_->OpenOrCreateSharedBlock(name);
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(first->created);
    EXPECT_EQ(host_->ReadSharedBlock(first->handle), 0u);
    EXPECT_TRUE(host_->SharedBlockExists(name));
    EXPECT_TRUE(host_->WriteSharedBlock(first->handle, 0xA5A5F00D));

    const auto second = host_->OpenOrCreateSharedBlock(name);
    ASSERT_TRUE(second.has_value());
    EXPECT_FALSE(second->created);
    EXPECT_NE(second->handle, first->handle);
    EXPECT_EQ(host_->ReadSharedBlock(second->handle), 0xA5A5F00Du);

    // Another view of the same name, opened by the system directly, sees the same value.
    HANDLE other = OpenFileMappingW(FILE_MAP_READ, FALSE, Wide(name).c_str());
    ASSERT_NE(other, nullptr);
    void* view = MapViewOfFile(other, FILE_MAP_READ, 0, 0, 4);
    ASSERT_NE(view, nullptr);
    std::uint32_t seen = 0;
    std::memcpy(&seen, view, 4);
    EXPECT_EQ(seen, 0xA5A5F00Du);
    UnmapViewOfFile(view);
    CloseHandle(other);

    host_->Close(first->handle);
    EXPECT_FALSE(host_->ReadSharedBlock(first->handle).has_value());
    EXPECT_FALSE(host_->WriteSharedBlock(first->handle, 1));
    EXPECT_TRUE(host_->SharedBlockExists(name));
    host_->Close(second->handle);
    EXPECT_FALSE(host_->SharedBlockExists(name));

    EXPECT_FALSE(host_->OpenOrCreateSharedBlock(u"").has_value());
    EXPECT_FALSE(host_->ReadSharedBlock(kInvalidHandle).has_value());
}

TEST_F(Win32HostTest, SleepTimeAndRandom) {
    const ULONGLONG before = GetTickCount64();
    host_->Sleep(60);
    EXPECT_GE(GetTickCount64() - before, 45u);

    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    const std::int64_t unixSeconds = ticks / 10000000 - 11644473600LL;
    EXPECT_LE(std::abs(host_->Time() - unixSeconds), 2);

    // The C runtime's generator: seed 1 starts 41, 18467, 6334, 26500.
    host_->SeedRandom(1);
    EXPECT_EQ(host_->Random(), 41);
    EXPECT_EQ(host_->Random(), 18467);
    EXPECT_EQ(host_->Random(), 6334);
    EXPECT_EQ(host_->Random(), 26500);
}

}  // namespace
}  // namespace kvx
