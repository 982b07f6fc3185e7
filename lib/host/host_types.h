// The host seam's vocabulary: the handles, codes and plain records the Host operations take and
// return, with no operation of its own. Code that only names a direction, a drive type or a
// system error includes this and not the seam. No Windows type appears here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
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
    kErrorSemTimeout = 121,  // the device did not answer in time
    kErrorInsufficientBuffer = 122,
    kErrorAlreadyExists = 183,
    kErrorIoDevice = 1117,
    kErrorDeviceNotConnected = 1167,
};

enum Access : std::uint32_t { kAccessRead = 1, kAccessWrite = 2 };
enum Share : std::uint32_t { kShareNone = 0, kShareRead = 1, kShareWrite = 2 };
enum class Disposition { kOpenExisting, kCreateAlways };

struct OpenResult {
    HostHandle handle = kInvalidHandle;
    std::uint32_t osError = kErrorNone;  // set when handle is invalid
};

// GetVersionExW's platform and product codes.
enum PlatformId : std::uint32_t { kPlatformWin9x = 1, kPlatformNt = 2 };
enum ProductType : std::uint8_t {
    kProductWorkstation = 1,
    kProductDomainController = 2,
    kProductServer = 3,
};

// GetVersionExW's answer, without the Windows structure. The codes stay plain numbers: an
// emulated machine's file may name any.
struct OsVersion {
    bool ok = false;
    std::uint32_t platformId = 0;  // PlatformId
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    std::uint8_t productType = 0;  // ProductType; 0 from the plain structure
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

}  // namespace kvx
