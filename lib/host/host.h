// The platform seam: every operating-system service the library and the programs use.
//
// Library code never calls the operating system itself; it calls the Host held in DeviceState.
// Three backends implement it: win32/ (the real Windows API), sim/host/ beside the emulator (an
// emulated machine with the emulated bridge, selected by the KVX_SIM environment variable in
// every build), linux/ (Linux without KVX_SIM: SG_IO on the units sysfs shows, over posix/) and
// posix/ (other POSIX systems: real files, profile strings and clock, but no device). No Windows
// type appears
// in this header. Names of files, volumes and registry keys are UTF-16 in the Windows form
// ("\\.\E:", "\\.\PhysicalDrive0", "C:\dir\FILE.INI"); a backend maps them to its own world.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_types.h"

namespace kvx {

class Host {
  public:
    virtual ~Host() = default;

    // --- Files, volumes and devices -------------------------------------------------------
    // Opens a file, a volume "\\.\X:", a disk "\\.\PhysicalDriveN", a USB host controller
    // "\\.\HCDn" or a hub path; osError says why it failed.
    virtual OpenResult Open(std::u16string_view name, std::uint32_t access, std::uint32_t share,
                            Disposition disposition = Disposition::kOpenExisting) = 0;
    // Closes any handle this host returned; closing kInvalidHandle does nothing.
    virtual void Close(HostHandle handle) = 0;
    // Reads up to data.size() bytes of a file at offset; returns the count read, or nullopt.
    virtual std::optional<std::size_t> ReadAt(HostHandle file, std::uint64_t offset,
                                              std::span<std::uint8_t> data) = 0;
    // Writes all of data to a file at offset; false when not all of it was written.
    virtual bool WriteAt(HostHandle file, std::uint64_t offset,
                         std::span<const std::uint8_t> data) = 0;
    // Size of an open file in bytes, or nullopt.
    virtual std::optional<std::uint64_t> FileSize(HostHandle file) = 0;
    // Whether a plain file exists (directories do not count).
    virtual bool FileExists(std::u16string_view path) = 0;

    // --- Storage ---------------------------------------------------------------------------
    // Sends one SCSI command through the pass-through on a volume or disk handle.
    virtual ScsiOutcome ScsiPassThrough(HostHandle drive, const ScsiCommand& command) = 0;
    // The storage property query's bus type; nullopt when the query fails.
    virtual std::optional<StorageBus> QueryBusType(HostHandle drive) = 0;
    // Volume lock, unlock or dismount on a volume handle.
    virtual bool ControlVolume(HostHandle volume, VolumeOp op) = 0;
    // Partition information of a disk or volume handle; nullopt when the query fails.
    virtual std::optional<PartitionInfo> GetPartitionInfo(HostHandle drive) = 0;
    // The drive layout's partition entries; nullopt when the query fails.
    virtual std::optional<std::vector<PartitionInfo>> GetDriveLayout(HostHandle drive) = 0;
    // Asks the system to re-read a disk's partition table (never writes the medium).
    virtual bool UpdateDiskProperties(HostHandle drive) = 0;
    // Bit n set = drive letter 'A' + n exists.
    virtual std::uint32_t LogicalDriveMask() = 0;
    // Type of the drive whose root is "X:\".
    virtual DriveType GetDriveType(char16_t letter) = 0;
    // Device nodes of a disk's or volume's partitions that a user mounts to reach their file
    // systems ("/dev/sdc1"); empty where the system mounts drives itself.
    virtual std::vector<std::u16string> PartitionNodes(HostHandle drive) {
        (void)drive;
        return {};
    }
    // Whether the system refused a pass-through for want of privilege since the process began.
    virtual bool PassThroughPrivilegeMissing() { return false; }

    // --- USB -------------------------------------------------------------------------------
    // Device paths of the present USB host-controller interfaces (SetupAPI enumeration).
    virtual std::vector<std::u16string> UsbHostControllerPaths() = 0;
    // One hub control on a host-controller or hub handle; `out` receives the answer and the
    // returned count is how many bytes were written to it; nullopt when the control failed.
    virtual std::optional<std::size_t> UsbHubControl(HostHandle hub, UsbControl code,
                                                     std::span<const std::uint8_t> in,
                                                     std::span<std::uint8_t> out) = 0;

    // --- Registry (HKEY_LOCAL_MACHINE) -----------------------------------------------------
    // A value of a key; nullopt when key or value is missing.
    virtual std::optional<RegistryValue> ReadRegistryValue(std::u16string_view keyPath,
                                                           std::u16string_view valueName) = 0;
    // Names of a key's subkeys in enumeration order; nullopt when the key is missing.
    virtual std::optional<std::vector<std::u16string>> RegistrySubkeys(
        std::u16string_view keyPath) = 0;

    // --- Process and system ----------------------------------------------------------------
    // GetVersionExW with the plain (276-byte) or extended (284-byte) structure.
    virtual OsVersion GetVersion(bool extended) = 0;
    // Full path of the running program's own file.
    virtual std::u16string ModuleFileName() = 0;
    // GetPrivateProfileStringW: at most maxChars - 1 characters of the value, or the default.
    virtual std::u16string ReadProfileString(std::u16string_view section, std::u16string_view key,
                                             std::u16string_view defaultValue,
                                             std::u16string_view path, std::size_t maxChars) = 0;
    // WritePrivateProfileStringW; false when the file could not be written.
    virtual bool WriteProfileString(std::u16string_view section, std::u16string_view key,
                                    std::u16string_view value, std::u16string_view path) = 0;
    // Conversions with the ANSI code page.
    virtual std::string ToAnsi(std::u16string_view text) = 0;
    virtual std::u16string FromAnsi(std::string_view text) = 0;
    // A named 4-byte shared-memory block: opens it when it exists, else creates it zeroed.
    // `created` tells which happened. The block lives while any handle to it is open.
    struct SharedBlock {
        HostHandle handle = kInvalidHandle;
        bool created = false;
    };
    virtual std::optional<SharedBlock> OpenOrCreateSharedBlock(std::u16string_view name) = 0;
    // Whether a named shared-memory block exists (some process holds it open).
    virtual bool SharedBlockExists(std::u16string_view name) = 0;
    // Reads or writes the 32-bit value of a block this process holds.
    virtual std::optional<std::uint32_t> ReadSharedBlock(HostHandle block) = 0;
    virtual bool WriteSharedBlock(HostHandle block, std::uint32_t value) = 0;
    // Sleep, wall-clock seconds and the C runtime generator.
    virtual void Sleep(std::uint32_t milliseconds) = 0;
    virtual std::int64_t Time() = 0;
    virtual void SeedRandom(std::uint32_t seed) = 0;
    virtual int Random() = 0;  // 0 to 32767

    // --- Progress display in the caller's controls -----------------------------------------
    // Window handles come from the request record (32-bit); 0 or an unknown handle does nothing.
    // On hosts without windows they name sinks the program's view registered (progress_sink.h).
    // Sets the text of a label or status line (WM_SETTEXT).
    virtual void SetControlText(std::uint32_t window, std::u16string_view text) = 0;
    // Moves a progress bar to percent (PBM_SETPOS).
    virtual void SetProgressPosition(std::uint32_t window, int percent) = 0;
    // Handles the dialog's queued messages; stops at the first Escape or Enter key press or mouse
    // button press, which it discards.
    virtual void PumpDialogMessages(std::uint32_t dialog) = 0;
};

// The host of this process: the sim host when KVX_SIM names a machine directory, otherwise the
// platform's own. Chosen on first use.
Host& ActiveHost();

// The platform's own host (win32 on Windows, linux on Linux, posix elsewhere), whatever KVX_SIM
// says.
Host& PlatformHost();

// Replaces the active host while alive (tests); restores the previous one on destruction.
class ScopedHostOverride {
  public:
    explicit ScopedHostOverride(Host& host);
    ~ScopedHostOverride();
    ScopedHostOverride(const ScopedHostOverride&) = delete;
    ScopedHostOverride& operator=(const ScopedHostOverride&) = delete;

  private:
    Host* previous_;
};

}  // namespace kvx
