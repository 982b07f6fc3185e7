// The platform seam: every operating-system service the library and the programs use.
//
// Library code never calls the operating system itself; it calls the Host held in DeviceState.
// Three backends implement it: win32/ (the real Windows API), sim/host/ beside the emulator (an
// emulated machine with the emulated bridge, selected by the KVX_SIM environment variable in
// every build) and posix/ (Linux without KVX_SIM: real files, profile strings and clock, but no
// device). No Windows type appears
// in this header. Names of files, volumes and registry keys are UTF-16 in the Windows form
// ("\\.\E:", "\\.\PhysicalDrive0", "C:\dir\FILE.INI"); a backend maps them to its own world.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvx {

using HostHandle = std::intptr_t;
inline constexpr HostHandle kInvalidHandle = -1;

// System error codes keep their Windows values so that callers and logs read the same everywhere.
enum SystemError : std::uint32_t {
    kErrorNone = 0,
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorNotReady = 21,
    kErrorSharingViolation = 32,
    kErrorNotSupported = 50,
    kErrorInvalidParameter = 87,
    kErrorInsufficientBuffer = 122,
    kErrorAlreadyExists = 183,
    kErrorIoDevice = 1117,
};

enum Access : std::uint32_t { kAccessRead = 1, kAccessWrite = 2 };
enum Share : std::uint32_t { kShareNone = 0, kShareRead = 1, kShareWrite = 2 };
enum class Disposition { kOpenExisting, kCreateAlways };

struct OpenResult {
    HostHandle handle = kInvalidHandle;
    std::uint32_t osError = kErrorNone;  // set when handle is invalid
};

// GetVersionExW's answer, without the Windows structure.
struct OsVersion {
    bool ok = false;
    std::uint32_t platformId = 0;  // 1 = Windows 9x, 2 = NT family
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    std::uint8_t productType = 0;  // 1 = workstation, 2 = domain controller, 3 = server
    std::u16string servicePack;    // "Service Pack 4" or empty
};

// One SCSI command for the pass-through. The data buffer is caller-owned; direction and length
// are what the device is told.
enum class DataDirection : std::uint8_t { kIn, kOut, kNone };

struct ScsiCommand {
    std::span<const std::uint8_t> cdb;  // 6 to 16 bytes
    std::span<std::uint8_t> data;       // data-in target or data-out source; empty when kNone
    DataDirection direction = DataDirection::kNone;
    std::uint32_t timeoutSeconds = 20;
};

inline constexpr std::size_t kSenseLength = 18;

// Outcome of a pass-through: "could not submit" (sent = false, osError) is kept apart from what
// the device said (scsiStatus, sense, transferred).
struct ScsiOutcome {
    bool sent = false;
    std::uint32_t osError = kErrorNone;
    std::uint8_t scsiStatus = 0;
    std::uint8_t sense[kSenseLength] = {};
    std::uint32_t transferred = 0;  // data bytes the device moved
};

// Storage bus types as the storage property query reports them.
enum StorageBus : std::uint32_t {
    kBusUnknown = 0,
    kBusScsi = 1,
    kBusAtapi = 2,
    kBusAta = 3,
    kBusUsb = 7
};

enum class VolumeOp { kLock, kUnlock, kDismount };

enum DriveType : std::uint32_t {
    kDriveUnknown = 0,
    kDriveNoRootDir = 1,
    kDriveRemovable = 2,
    kDriveFixed = 3,
    kDriveRemote = 4,
    kDriveCdRom = 5,
    kDriveRamDisk = 6,
};

struct PartitionInfo {
    std::uint64_t startingOffset = 0;
    std::uint64_t length = 0;
    std::uint32_t hiddenSectors = 0;
    std::uint32_t partitionNumber = 0;
    std::uint8_t partitionType = 0;
    bool bootIndicator = false;
    bool recognized = false;
};

// USB hub controls: the library builds and parses the byte layouts of the Windows USB hub
// interface itself; the host carries the bytes to the controller or hub and back.
enum UsbControl : std::uint32_t {
    kUsbGetNodeInformation = 0x220408,  // on a hub; on a host controller: root hub name
    kUsbGetNodeConnectionInformation = 0x22040C,
    kUsbGetDescriptorFromNodeConnection = 0x220410,
    kUsbGetNodeConnectionName = 0x220414,
};

enum class RegistryType : std::uint32_t {
    kNone = 0,
    kString = 1,
    kExpandString = 2,
    kBinary = 3,
    kDword = 4,
    kMultiString = 7
};

struct RegistryValue {
    RegistryType type = RegistryType::kNone;
    std::vector<std::uint8_t> data;  // as stored: strings are UTF-16LE with their terminator
};

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

// The platform's own host (win32 on Windows, posix elsewhere), whatever KVX_SIM says.
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
