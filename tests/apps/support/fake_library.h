// Test doubles for the applications: a device library whose exports are test functions (found by
// name through the same binding the programs use), a loader that hands it out, and a host that
// places the program on a drive letter of a scratch folder.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/module_loader.h"
#include "frame/qda.h"
#include "host/forwarding_host.h"
#include "host/text.h"
#include "support/test_host.h"

namespace kvx::test {

// A library whose exports call the functions set here; an export whose function is unset is
// missing from the library. One instance at a time is current (the exports are plain functions).
class FakeLibrary final : public ui::SymbolSource {
  public:
    using RequestFn = std::function<int(QdaRequest&)>;
    using ChipFn = std::function<int(QdaRequest&, std::uint16_t*)>;
    using DataFn = std::function<int(QdaRequest&, std::uint8_t*)>;

    FakeLibrary() { Current() = this; }
    ~FakeLibrary() override { Current() = nullptr; }
    FakeLibrary(const FakeLibrary&) = delete;
    FakeLibrary& operator=(const FakeLibrary&) = delete;

    RequestFn checkCd, checkSec, passwordStatus, auth, launch, changePassword, format;
    ChipFn chipNum;
    DataFn hidden;

    // Name lookups and calls, in order ("QDACheckCD", ...).
    std::vector<std::string> lookups;
    std::vector<std::string> calls;
    // The password field as each QDASHA2Auth / QDAChangePassWord call saw it.
    std::vector<std::u16string> passwordsSeen;

    std::size_t CallCount(const std::string& name) const {
        std::size_t n = 0;
        for (const auto& c : calls) {
            n += c == name ? 1 : 0;
        }
        return n;
    }

    ui::AnyFunction Find(const char* name) override {
        lookups.emplace_back(name);
        const std::string n(name);
        const auto pick = [](bool present, auto fn) {
            return present ? reinterpret_cast<ui::AnyFunction>(fn) : nullptr;
        };
        if (n == "QDACheckCD")
            return pick(bool(checkCd), &CheckCd);
        if (n == "QDACheckSEC")
            return pick(bool(checkSec), &CheckSec);
        if (n == "QDAGetPasswordStatus")
            return pick(bool(passwordStatus), &Status);
        if (n == "QDASHA2Auth")
            return pick(bool(auth), &Auth);
        if (n == "QDALaunchSec")
            return pick(bool(launch), &Launch);
        if (n == "QDAChangePassWord")
            return pick(bool(changePassword), &Change);
        if (n == "QDAGetChipNum")
            return pick(bool(chipNum), &Chip);
        if (n == "QDAHiddenPartRdWr")
            return pick(bool(hidden), &Hidden);
        if (n == "QDAFormatHDD")
            return pick(bool(format), &Format);
        return nullptr;
    }

  private:
    static FakeLibrary*& Current() {
        static FakeLibrary* current = nullptr;
        return current;
    }
    static int Run(const char* name, RequestFn& fn, QdaRequest* r) {
        Current()->calls.emplace_back(name);
        return fn(*r);
    }
    static std::u16string Password(const QdaRequest* r) {
        return ReadFixedUtf16(r->password, std::extent_v<decltype(r->password)>);
    }
    static int KVX_CALL CheckCd(QdaRequest* r) { return Run("QDACheckCD", Current()->checkCd, r); }
    static int KVX_CALL CheckSec(QdaRequest* r) {
        return Run("QDACheckSEC", Current()->checkSec, r);
    }
    static int KVX_CALL Status(QdaRequest* r) {
        return Run("QDAGetPasswordStatus", Current()->passwordStatus, r);
    }
    static int KVX_CALL Auth(QdaRequest* r) {
        Current()->passwordsSeen.push_back(Password(r));
        return Run("QDASHA2Auth", Current()->auth, r);
    }
    static int KVX_CALL Launch(QdaRequest* r) { return Run("QDALaunchSec", Current()->launch, r); }
    static int KVX_CALL Change(QdaRequest* r) {
        Current()->passwordsSeen.push_back(Password(r));
        return Run("QDAChangePassWord", Current()->changePassword, r);
    }
    static int KVX_CALL Format(QdaRequest* r) { return Run("QDAFormatHDD", Current()->format, r); }
    static int KVX_CALL Chip(QdaRequest* r, std::uint16_t* text) {
        Current()->calls.emplace_back("QDAGetChipNum");
        return Current()->chipNum(*r, text);
    }
    static int KVX_CALL Hidden(QdaRequest* r, std::uint8_t* data) {
        Current()->calls.emplace_back("QDAHiddenPartRdWr");
        return Current()->hidden(*r, data);
    }
};

// QDACheckCD of a device whose CD drives are `letters`, looked at on each call: without any it
// fails with error code 4.
inline FakeLibrary::RequestFn CdDrivesAnswer(const std::u16string& letters) {
    return [&letters](QdaRequest& r) {
        std::memset(r.cdLetters, 0, sizeof r.cdLetters);
        for (std::size_t i = 0; i < letters.size(); ++i) {
            r.cdLetters[i] = static_cast<std::uint8_t>(letters[i]);
        }
        if (letters.empty()) {
            r.errorCode = 4;
            return 0;
        }
        return 1;
    };
}

// QDAGetPasswordStatus of a device whose state is looked at on each call.
inline FakeLibrary::RequestFn PasswordStatusAnswer(const bool& passwordSet, const bool& open) {
    return [&passwordSet, &open](QdaRequest& r) {
        r.passwordSupported = passwordSet ? 1 : 0;
        r.deviceDisabled = open ? 1 : 0;
        return 1;
    };
}

// Hands out one symbol source as the device library (or fails when it is null) and records the
// paths asked for.
class FakeLoader final : public ui::ModuleLoader {
  public:
    explicit FakeLoader(ui::SymbolSource* library) : library_(library) {}
    ui::SymbolSource* LoadDeviceLibrary(std::u16string_view path) override {
        libraryPaths.emplace_back(path);
        return library_;
    }
    std::unique_ptr<ui::ResourceModule> LoadResources(std::u16string_view path) override {
        resourcePaths.emplace_back(path);
        return nullptr;
    }
    std::vector<std::u16string> libraryPaths;
    std::vector<std::u16string> resourcePaths;

  private:
    ui::SymbolSource* library_;
};

// A Windows-shaped machine for the start-up logic: the program lies on drive `letter` (a scratch
// folder), the drive letters present are chosen by the test, the raw volume opens or not, and
// shared blocks are the platform's. Program names are unique per instance so that tests running
// side by side never meet in a shared block.
class AppHost final : public ForwardingHost {
  public:
    AppHost() : ForwardingHost(PlatformHost()) {
        static std::atomic<unsigned> counter{0};
        prefix = "T" + std::to_string(Stamp()) + "N" + std::to_string(counter++);
        version.ok = true;
        version.platformId = 2;
        version.major = 10;
        version.build = 19045;
        version.productType = 1;
    }

    char letter = 'E';
    std::string prefix;
    std::string program = "LCK.EXE";
    std::uint32_t driveMask = 0;               // 0: just the program's drive
    std::optional<std::uint32_t> volumeError;  // set: opening "\\.\X:" fails with it
    OsVersion version;

    std::u16string ProgramPath() const {
        return FromUtf8(std::string(1, letter) + ":\\" + prefix + program);
    }
    std::u16string MarkerName(const std::string& program3) const {
        return FromUtf8(std::string(1, letter) + prefix + program3);
    }

    std::u16string ModuleFileName() override { return ProgramPath(); }
    OsVersion GetVersion(bool) override { return version; }
    std::uint32_t LogicalDriveMask() override {
        return driveMask != 0 ? driveMask : 1u << (letter - 'A');
    }
    OpenResult Open(std::u16string_view name, std::uint32_t access, std::uint32_t share,
                    Disposition disposition) override {
        if (name.starts_with(u"\\\\.\\")) {
            if (name == u"\\\\.\\" + std::u16string(1, static_cast<char16_t>(letter)) + u":") {
                if (volumeError) {
                    return {kInvalidHandle, *volumeError};
                }
                return {kVolumeHandle, kErrorNone};
            }
            return {kInvalidHandle, kErrorFileNotFound};
        }
        return ForwardingHost::Open(Map(name), access, share, disposition);
    }
    void Close(HostHandle handle) override {
        if (handle != kVolumeHandle) {
            ForwardingHost::Close(handle);
        }
    }
    bool FileExists(std::u16string_view path) override {
        return ForwardingHost::FileExists(Map(path));
    }
    std::u16string ReadProfileString(std::u16string_view section, std::u16string_view key,
                                     std::u16string_view defaultValue, std::u16string_view path,
                                     std::size_t maxChars) override {
        return ForwardingHost::ReadProfileString(section, key, defaultValue, Map(path), maxChars);
    }

    // Writes a companion file (e.g. "KVX.INI") beside the program.
    void WriteCompanion(const std::string& suffix, const std::string& text) const {
        std::ofstream(scratch_.path() / (prefix + suffix), std::ios::binary) << text;
    }
    void RemoveCompanion(const std::string& suffix) const {
        std::filesystem::remove(scratch_.path() / (prefix + suffix));
    }
    const std::filesystem::path& folder() const { return scratch_.path(); }

  private:
    static constexpr HostHandle kVolumeHandle = 0x7A11;

    static unsigned Stamp() {
        return static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count() %
                                     1000000007);
    }
    // "X:\NAME" on the program's drive is the scratch folder's NAME (letters compared as
    // Windows does).
    std::u16string Map(std::u16string_view path) const {
        const std::u16string drive = std::u16string(1, static_cast<char16_t>(letter)) + u":\\";
        if (path.size() > drive.size() && UpperAscii(path.substr(0, drive.size())) == drive) {
            const std::u16string name = UpperAscii(path.substr(drive.size()));
            for (const auto& entry : std::filesystem::directory_iterator(scratch_.path())) {
                if (UpperAscii(entry.path().filename().u16string()) == name) {
                    return entry.path().u16string();
                }
            }
            return (scratch_.path() / std::u16string(path.substr(drive.size()))).u16string();
        }
        return std::u16string(path);
    }

    ScratchDir scratch_;
};

}  // namespace kvx::test
