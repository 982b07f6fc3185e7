// A host that passes every operation to another one; hosts that replace a few services (the
// emulated machine, test doubles) derive from it and override just those.
#pragma once

#include "host/host.h"

namespace kvx {

class ForwardingHost : public Host {
  public:
    explicit ForwardingHost(Host& inner) : inner_(inner) {}

    OpenResult Open(std::u16string_view name, std::uint32_t access, std::uint32_t share,
                    Disposition disposition) override {
        return inner_.Open(name, access, share, disposition);
    }
    void Close(HostHandle handle) override { inner_.Close(handle); }
    std::optional<std::size_t> ReadAt(HostHandle file, std::uint64_t offset,
                                      std::span<std::uint8_t> data) override {
        return inner_.ReadAt(file, offset, data);
    }
    bool WriteAt(HostHandle file, std::uint64_t offset,
                 std::span<const std::uint8_t> data) override {
        return inner_.WriteAt(file, offset, data);
    }
    std::optional<std::uint64_t> FileSize(HostHandle file) override {
        return inner_.FileSize(file);
    }
    bool FileExists(std::u16string_view path) override { return inner_.FileExists(path); }
    ScsiOutcome ScsiPassThrough(HostHandle drive, const ScsiCommand& command) override {
        return inner_.ScsiPassThrough(drive, command);
    }
    std::optional<StorageBus> QueryBusType(HostHandle drive) override {
        return inner_.QueryBusType(drive);
    }
    bool ControlVolume(HostHandle volume, VolumeOp op) override {
        return inner_.ControlVolume(volume, op);
    }
    std::optional<PartitionInfo> GetPartitionInfo(HostHandle drive) override {
        return inner_.GetPartitionInfo(drive);
    }
    std::optional<std::vector<PartitionInfo>> GetDriveLayout(HostHandle drive) override {
        return inner_.GetDriveLayout(drive);
    }
    bool UpdateDiskProperties(HostHandle drive) override {
        return inner_.UpdateDiskProperties(drive);
    }
    std::uint32_t LogicalDriveMask() override { return inner_.LogicalDriveMask(); }
    DriveType GetDriveType(char16_t letter) override { return inner_.GetDriveType(letter); }
    std::vector<std::u16string> PartitionNodes(HostHandle drive) override {
        return inner_.PartitionNodes(drive);
    }
    bool PassThroughPrivilegeMissing() override { return inner_.PassThroughPrivilegeMissing(); }
    std::vector<std::u16string> UsbHostControllerPaths() override {
        return inner_.UsbHostControllerPaths();
    }
    std::optional<std::size_t> UsbHubControl(HostHandle hub, UsbControl code,
                                             std::span<const std::uint8_t> in,
                                             std::span<std::uint8_t> out) override {
        return inner_.UsbHubControl(hub, code, in, out);
    }
    std::optional<RegistryValue> ReadRegistryValue(std::u16string_view keyPath,
                                                   std::u16string_view valueName) override {
        return inner_.ReadRegistryValue(keyPath, valueName);
    }
    std::optional<std::vector<std::u16string>> RegistrySubkeys(
        std::u16string_view keyPath) override {
        return inner_.RegistrySubkeys(keyPath);
    }
    OsVersion GetVersion(bool extended) override { return inner_.GetVersion(extended); }
    std::u16string ModuleFileName() override { return inner_.ModuleFileName(); }
    std::u16string ReadProfileString(std::u16string_view section, std::u16string_view key,
                                     std::u16string_view defaultValue, std::u16string_view path,
                                     std::size_t maxChars) override {
        return inner_.ReadProfileString(section, key, defaultValue, path, maxChars);
    }
    bool WriteProfileString(std::u16string_view section, std::u16string_view key,
                            std::u16string_view value, std::u16string_view path) override {
        return inner_.WriteProfileString(section, key, value, path);
    }
    std::string ToAnsi(std::u16string_view text) override { return inner_.ToAnsi(text); }
    std::u16string FromAnsi(std::string_view text) override { return inner_.FromAnsi(text); }
    std::optional<SharedBlock> OpenOrCreateSharedBlock(std::u16string_view name) override {
        return inner_.OpenOrCreateSharedBlock(name);
    }
    bool SharedBlockExists(std::u16string_view name) override {
        return inner_.SharedBlockExists(name);
    }
    std::optional<std::uint32_t> ReadSharedBlock(HostHandle block) override {
        return inner_.ReadSharedBlock(block);
    }
    bool WriteSharedBlock(HostHandle block, std::uint32_t value) override {
        return inner_.WriteSharedBlock(block, value);
    }
    void Sleep(std::uint32_t milliseconds) override { inner_.Sleep(milliseconds); }
    std::int64_t Time() override { return inner_.Time(); }
    void SeedRandom(std::uint32_t seed) override { inner_.SeedRandom(seed); }
    int Random() override { return inner_.Random(); }
    void SetControlText(std::uint32_t window, std::u16string_view text) override {
        inner_.SetControlText(window, text);
    }
    void SetProgressPosition(std::uint32_t window, int percent) override {
        inner_.SetProgressPosition(window, percent);
    }
    void PumpDialogMessages(std::uint32_t dialog) override { inner_.PumpDialogMessages(dialog); }

  protected:
    Host& inner() { return inner_; }

  private:
    Host& inner_;
};

}  // namespace kvx
