// The host on Windows: every operation is the Windows API call of the same meaning.

// <windows.h> first: the other system headers build on its types.
#include <windows.h>

#include <ntddscsi.h>
#include <setupapi.h>
#include <usbioctl.h>
#include <winioctl.h>

// <windows.h> maps these names to their wide entry points; here they are the host's members.
#undef GetDriveType

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <iterator>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "crypto/wipe.h"
#include "host/host.h"
#include "host/passthrough_buffer.h"
#include "host/platform_host.h"

namespace kvx {
namespace {

// --- The host's portable values are the system's own ---------------------------------------

static_assert(sizeof(wchar_t) == sizeof(char16_t));
static_assert(sizeof(HANDLE) == sizeof(HostHandle));

static_assert(sizeof(SCSI_PASS_THROUGH) == NativePassThroughLayout().headerSize);
static_assert(offsetof(SCSI_PASS_THROUGH, Length) == PassThroughLayout::kLengthAt);
static_assert(offsetof(SCSI_PASS_THROUGH, ScsiStatus) == PassThroughLayout::kScsiStatusAt);
static_assert(offsetof(SCSI_PASS_THROUGH, PathId) == PassThroughLayout::kPathIdAt);
static_assert(offsetof(SCSI_PASS_THROUGH, TargetId) == PassThroughLayout::kTargetIdAt);
static_assert(offsetof(SCSI_PASS_THROUGH, Lun) == PassThroughLayout::kLunAt);
static_assert(offsetof(SCSI_PASS_THROUGH, CdbLength) == PassThroughLayout::kCdbLengthAt);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoLength) ==
              PassThroughLayout::kSenseInfoLengthAt);
static_assert(offsetof(SCSI_PASS_THROUGH, DataIn) == PassThroughLayout::kDataInAt);
static_assert(offsetof(SCSI_PASS_THROUGH, DataTransferLength) ==
              PassThroughLayout::kDataTransferLengthAt);
static_assert(offsetof(SCSI_PASS_THROUGH, TimeOutValue) == PassThroughLayout::kTimeOutValueAt);
static_assert(offsetof(SCSI_PASS_THROUGH, DataBufferOffset) ==
              NativePassThroughLayout().dataBufferOffsetAt);
static_assert(sizeof(SCSI_PASS_THROUGH::DataBufferOffset) ==
              NativePassThroughLayout().dataBufferOffsetWidth);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoOffset) ==
              NativePassThroughLayout().senseInfoOffsetAt);
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == NativePassThroughLayout().cdbAt);
static_assert(sizeof(SCSI_PASS_THROUGH::Cdb) == PassThroughLayout::kMaxCdbLength);
static_assert(SCSI_IOCTL_DATA_IN == kScsiIoctlDataIn);
static_assert(SCSI_IOCTL_DATA_OUT == kScsiIoctlDataOut);
static_assert(SCSI_IOCTL_DATA_UNSPECIFIED == kScsiIoctlDataUnspecified);
static_assert(IOCTL_SCSI_PASS_THROUGH == 0x4D004);
static_assert(IOCTL_STORAGE_QUERY_PROPERTY == 0x2D1400);

static_assert(IOCTL_USB_GET_ROOT_HUB_NAME == kUsbGetNodeInformation);
static_assert(IOCTL_USB_GET_NODE_INFORMATION == kUsbGetNodeInformation);
static_assert(IOCTL_USB_GET_NODE_CONNECTION_INFORMATION == kUsbGetNodeConnectionInformation);
static_assert(IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION == kUsbGetDescriptorFromNodeConnection);
static_assert(IOCTL_USB_GET_NODE_CONNECTION_NAME == kUsbGetNodeConnectionName);

static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) == 28);
constexpr bool SameBus(STORAGE_BUS_TYPE system, StorageBus ours) {
    return static_cast<std::uint32_t>(system) == static_cast<std::uint32_t>(ours);
}
static_assert(SameBus(BusTypeUnknown, kBusUnknown) && SameBus(BusTypeScsi, kBusScsi) &&
              SameBus(BusTypeAtapi, kBusAtapi) && SameBus(BusTypeAta, kBusAta) &&
              SameBus(BusTypeUsb, kBusUsb));

static_assert(sizeof(OSVERSIONINFOW) == 276);
static_assert(sizeof(OSVERSIONINFOEXW) == 284);

static_assert(DRIVE_UNKNOWN == kDriveUnknown && DRIVE_NO_ROOT_DIR == kDriveNoRootDir &&
              DRIVE_REMOVABLE == kDriveRemovable && DRIVE_FIXED == kDriveFixed &&
              DRIVE_REMOTE == kDriveRemote && DRIVE_CDROM == kDriveCdRom &&
              DRIVE_RAMDISK == kDriveRamDisk);

static_assert(REG_NONE == static_cast<DWORD>(RegistryType::kNone) &&
              REG_SZ == static_cast<DWORD>(RegistryType::kString) &&
              REG_EXPAND_SZ == static_cast<DWORD>(RegistryType::kExpandString) &&
              REG_BINARY == static_cast<DWORD>(RegistryType::kBinary) &&
              REG_DWORD == static_cast<DWORD>(RegistryType::kDword) &&
              REG_MULTI_SZ == static_cast<DWORD>(RegistryType::kMultiString));

static_assert(ERROR_FILE_NOT_FOUND == kErrorFileNotFound &&
              ERROR_PATH_NOT_FOUND == kErrorPathNotFound &&
              ERROR_ACCESS_DENIED == kErrorAccessDenied &&
              ERROR_INVALID_HANDLE == kErrorInvalidHandle && ERROR_NOT_READY == kErrorNotReady &&
              ERROR_SHARING_VIOLATION == kErrorSharingViolation &&
              ERROR_NOT_SUPPORTED == kErrorNotSupported &&
              ERROR_INVALID_PARAMETER == kErrorInvalidParameter &&
              ERROR_INSUFFICIENT_BUFFER == kErrorInsufficientBuffer &&
              ERROR_ALREADY_EXISTS == kErrorAlreadyExists && ERROR_IO_DEVICE == kErrorIoDevice);

// USB host-controller device interface class.
constexpr GUID kUsbHostControllerInterface = {
    0x3ABF6F2D, 0x71C4, 0x462A, {0x8A, 0x92, 0x1E, 0x68, 0x61, 0xE6, 0xAF, 0x27}};

// Loops over what the system hands out are bounded even if it keeps answering.
constexpr DWORD kMaxInterfaces = 1024;
constexpr DWORD kMaxLayoutEntries = 1024;
constexpr DWORD kMaxTransferChunk = 1u << 30;
constexpr std::size_t kMaxPathChars = 32768;
// Far beyond any line of a configuration file; keeps a careless size from exhausting memory.
constexpr std::size_t kMaxProfileChars = 1 << 20;

// Negative values are the system's pseudo handles (-1 is the current process, the same value as
// kInvalidHandle): a call on them would act on this process, so they become the null handle,
// which every call refuses with ERROR_INVALID_HANDLE.
HANDLE ToHandle(HostHandle handle) {
    return handle < 0 ? nullptr : reinterpret_cast<HANDLE>(handle);
}
HostHandle FromHandle(HANDLE handle) {
    return reinterpret_cast<HostHandle>(handle);
}

// A null-terminated copy for the API; nullopt when the text holds a NUL, which the API would
// silently cut the name at.
std::optional<std::wstring> ToWide(std::u16string_view text) {
    if (text.find(u'\0') != std::u16string_view::npos) {
        return std::nullopt;
    }
    return std::wstring(text.begin(), text.end());
}

std::u16string FromWide(const wchar_t* text, std::size_t length) {
    return std::u16string(text, text + length);
}

// Last error of a failed call; never 0, so a failure always carries a reason.
std::uint32_t LastError() {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

bool Control(HANDLE handle, DWORD code, void* in, std::size_t inSize, void* out,
             std::size_t outSize, DWORD* returned) {
    *returned = 0;
    // Some systems answer a few controls (volume lock among them) without looking at the handle.
    if (handle == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (inSize > MAXDWORD || outSize > MAXDWORD) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return DeviceIoControl(handle, code, in, static_cast<DWORD>(inSize), out,
                           static_cast<DWORD>(outSize), returned, nullptr) != FALSE;
}

PartitionInfo FromPartition(const PARTITION_INFORMATION& entry) {
    PartitionInfo info;
    info.startingOffset = static_cast<std::uint64_t>(entry.StartingOffset.QuadPart);
    info.length = static_cast<std::uint64_t>(entry.PartitionLength.QuadPart);
    info.hiddenSectors = entry.HiddenSectors;
    info.partitionNumber = entry.PartitionNumber;
    info.partitionType = entry.PartitionType;
    info.bootIndicator = entry.BootIndicator != FALSE;
    info.recognized = entry.RecognizedPartition != FALSE;
    return info;
}

// Type, boot flag and hidden sectors exist only on MBR disks; a GPT or raw entry keeps them 0.
PartitionInfo FromPartition(const PARTITION_INFORMATION_EX& entry) {
    PartitionInfo info;
    info.startingOffset = static_cast<std::uint64_t>(entry.StartingOffset.QuadPart);
    info.length = static_cast<std::uint64_t>(entry.PartitionLength.QuadPart);
    info.partitionNumber = entry.PartitionNumber;
    if (entry.PartitionStyle == PARTITION_STYLE_MBR) {
        info.hiddenSectors = entry.Mbr.HiddenSectors;
        info.partitionType = entry.Mbr.PartitionType;
        info.bootIndicator = entry.Mbr.BootIndicator != FALSE;
        info.recognized = entry.Mbr.RecognizedPartition != FALSE;
    } else {
        info.recognized = entry.PartitionStyle == PARTITION_STYLE_GPT;
    }
    return info;
}

// Answers of variable length: room for `bytes`, aligned for the structure that heads them.
template <typename Head>
std::vector<Head> Room(std::size_t bytes) {
    return std::vector<Head>((bytes + sizeof(Head) - 1) / sizeof(Head));
}

class RegistryKey {
  public:
    explicit RegistryKey(const std::wstring& path) {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    ~RegistryKey() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

class Win32Host final : public Host {
  public:
    ~Win32Host() override {
        for (const auto& [handle, view] : views_) {
            UnmapViewOfFile(view);
            CloseHandle(ToHandle(handle));
        }
    }

    // --- Files, volumes and devices ------------------------------------------------------

    OpenResult Open(std::u16string_view name, std::uint32_t access, std::uint32_t share,
                    Disposition disposition) override {
        const auto path = ToWide(name);
        if (!path) {
            return {kInvalidHandle, kErrorInvalidParameter};
        }
        DWORD desired = 0;
        desired |= (access & kAccessRead) != 0 ? GENERIC_READ : 0;
        desired |= (access & kAccessWrite) != 0 ? GENERIC_WRITE : 0;
        DWORD shareMode = 0;
        shareMode |= (share & kShareRead) != 0 ? FILE_SHARE_READ : 0;
        shareMode |= (share & kShareWrite) != 0 ? FILE_SHARE_WRITE : 0;
        const DWORD creation =
            disposition == Disposition::kCreateAlways ? CREATE_ALWAYS : OPEN_EXISTING;
        const HANDLE handle = CreateFileW(path->c_str(), desired, shareMode, nullptr, creation,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            return {kInvalidHandle, LastError()};
        }
        return {FromHandle(handle), kErrorNone};
    }

    void Close(HostHandle handle) override {
        if (handle == kInvalidHandle) {
            return;
        }
        {
            std::lock_guard lock(viewsMutex_);
            const auto found = views_.find(handle);
            if (found != views_.end()) {
                UnmapViewOfFile(found->second);
                views_.erase(found);
            }
        }
        CloseHandle(ToHandle(handle));
    }

    std::optional<std::size_t> ReadAt(HostHandle file, std::uint64_t offset,
                                      std::span<std::uint8_t> data) override {
        if (data.size() > UINT64_MAX - offset) {
            return std::nullopt;
        }
        std::size_t total = 0;
        do {
            const DWORD chunk =
                static_cast<DWORD>(std::min<std::size_t>(data.size() - total, kMaxTransferChunk));
            OVERLAPPED at = PositionAt(offset + total);
            DWORD read = 0;
            if (ReadFile(ToHandle(file), data.data() + total, chunk, &read, &at) == FALSE) {
                if (GetLastError() == ERROR_HANDLE_EOF) {
                    break;
                }
                return std::nullopt;
            }
            total += read;
            if (read == 0) {
                break;
            }
        } while (total < data.size());
        return total;
    }

    bool WriteAt(HostHandle file, std::uint64_t offset,
                 std::span<const std::uint8_t> data) override {
        if (data.size() > UINT64_MAX - offset) {
            return false;
        }
        std::size_t total = 0;
        do {
            const DWORD chunk =
                static_cast<DWORD>(std::min<std::size_t>(data.size() - total, kMaxTransferChunk));
            OVERLAPPED at = PositionAt(offset + total);
            DWORD written = 0;
            if (WriteFile(ToHandle(file), data.data() + total, chunk, &written, &at) == FALSE) {
                return false;
            }
            if (written == 0 && chunk != 0) {
                return false;
            }
            total += written;
        } while (total < data.size());
        return true;
    }

    std::optional<std::uint64_t> FileSize(HostHandle file) override {
        LARGE_INTEGER size{};
        if (GetFileSizeEx(ToHandle(file), &size) == FALSE || size.QuadPart < 0) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(size.QuadPart);
    }

    bool FileExists(std::u16string_view path) override {
        const auto wide = ToWide(path);
        if (!wide) {
            return false;
        }
        const DWORD attributes = GetFileAttributesW(wide->c_str());
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }

    // --- Storage ---------------------------------------------------------------------------

    ScsiOutcome ScsiPassThrough(HostHandle drive, const ScsiCommand& command) override {
        ScsiOutcome outcome;
        const std::span<std::uint8_t> dataIn =
            command.direction == DataDirection::kIn ? command.data : std::span<std::uint8_t>{};
        const PassThroughLayout& layout = NativePassThroughLayout();
        auto buffer = BuildPassThroughBuffer(layout, command);
        if (!buffer) {
            std::fill(dataIn.begin(), dataIn.end(), std::uint8_t{0});
            outcome.osError = kErrorInvalidParameter;
            return outcome;
        }
        DWORD returned = 0;
        if (!Control(ToHandle(drive), IOCTL_SCSI_PASS_THROUGH, buffer->data(), buffer->size(),
                     buffer->data(), buffer->size(), &returned)) {
            // Nothing came back: no status, no sense, no data.
            outcome.osError = LastError();
            std::fill(dataIn.begin(), dataIn.end(), std::uint8_t{0});
            return outcome;
        }
        outcome.sent = true;
        // Only the returned bytes are the driver's; the rest is still what was sent.
        const std::size_t answered = std::min<std::size_t>(returned, buffer->size());
        const PassThroughReply reply =
            ParsePassThroughBuffer(layout, std::span(buffer->data(), answered), dataIn);
        outcome.scsiStatus = reply.scsiStatus;
        std::copy(std::begin(reply.sense), std::end(reply.sense), outcome.sense);
        outcome.transferred = reply.transferred;
        return outcome;
    }

    std::optional<StorageBus> QueryBusType(HostHandle drive) override {
        STORAGE_PROPERTY_QUERY query{};
        query.PropertyId = StorageDeviceProperty;
        query.QueryType = PropertyStandardQuery;
        auto answer = Room<STORAGE_DEVICE_DESCRIPTOR>(1024);
        const std::size_t answerBytes = answer.size() * sizeof(STORAGE_DEVICE_DESCRIPTOR);
        DWORD returned = 0;
        if (!Control(ToHandle(drive), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query),
                     answer.data(), answerBytes, &returned) ||
            returned < offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof(STORAGE_BUS_TYPE)) {
            return std::nullopt;
        }
        return static_cast<StorageBus>(answer[0].BusType);
    }

    bool ControlVolume(HostHandle volume, VolumeOp op) override {
        DWORD code = FSCTL_LOCK_VOLUME;
        switch (op) {
            case VolumeOp::kLock:
                code = FSCTL_LOCK_VOLUME;
                break;
            case VolumeOp::kUnlock:
                code = FSCTL_UNLOCK_VOLUME;
                break;
            case VolumeOp::kDismount:
                code = FSCTL_DISMOUNT_VOLUME;
                break;
        }
        DWORD returned = 0;
        return Control(ToHandle(volume), code, nullptr, 0, nullptr, 0, &returned);
    }

    // The classic query first: it exists on every NT system and carries the MBR fields; GPT
    // disks answer only the extended one.
    std::optional<PartitionInfo> GetPartitionInfo(HostHandle drive) override {
        DWORD returned = 0;
        PARTITION_INFORMATION classic{};
        if (Control(ToHandle(drive), IOCTL_DISK_GET_PARTITION_INFO, nullptr, 0, &classic,
                    sizeof(classic), &returned) &&
            returned >= sizeof(classic)) {
            return FromPartition(classic);
        }
        PARTITION_INFORMATION_EX extended{};
        if (Control(ToHandle(drive), IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &extended,
                    sizeof(extended), &returned) &&
            returned >= sizeof(extended)) {
            return FromPartition(extended);
        }
        return std::nullopt;
    }

    std::optional<std::vector<PartitionInfo>> GetDriveLayout(HostHandle drive) override {
        if (auto layout = ExtendedDriveLayout(drive)) {
            return layout;
        }
        return ClassicDriveLayout(drive);
    }

    bool UpdateDiskProperties(HostHandle drive) override {
        DWORD returned = 0;
        return Control(ToHandle(drive), IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0,
                       &returned);
    }

    std::uint32_t LogicalDriveMask() override { return GetLogicalDrives(); }

    DriveType GetDriveType(char16_t letter) override {
        const bool isLetter =
            (letter >= u'A' && letter <= u'Z') || (letter >= u'a' && letter <= u'z');
        if (!isLetter) {
            return kDriveNoRootDir;
        }
        const wchar_t root[] = {static_cast<wchar_t>(letter), L':', L'\\', L'\0'};
        return static_cast<DriveType>(GetDriveTypeW(root));
    }

    // --- USB -------------------------------------------------------------------------------

    std::vector<std::u16string> UsbHostControllerPaths() override {
        std::vector<std::u16string> paths;
        const HDEVINFO devices = SetupDiGetClassDevsW(
            &kUsbHostControllerInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (devices == INVALID_HANDLE_VALUE) {
            return paths;
        }
        for (DWORD index = 0; index < kMaxInterfaces; ++index) {
            SP_DEVICE_INTERFACE_DATA entry{};
            entry.cbSize = sizeof(entry);
            if (SetupDiEnumDeviceInterfaces(devices, nullptr, &kUsbHostControllerInterface, index,
                                            &entry) == FALSE) {
                break;  // ERROR_NO_MORE_ITEMS, or the list is unreadable
            }
            if (auto path = InterfacePath(devices, entry)) {
                paths.push_back(std::move(*path));
            }
        }
        SetupDiDestroyDeviceInfoList(devices);
        return paths;
    }

    std::optional<std::size_t> UsbHubControl(HostHandle hub, UsbControl code,
                                             std::span<const std::uint8_t> in,
                                             std::span<std::uint8_t> out) override {
        DWORD returned = 0;
        // The system only reads the input buffer.
        void* input = in.empty() ? nullptr : const_cast<std::uint8_t*>(in.data());
        void* output = out.empty() ? nullptr : out.data();
        if (!Control(ToHandle(hub), code, input, in.size(), output, out.size(), &returned)) {
            return std::nullopt;
        }
        return std::min<std::size_t>(returned, out.size());
    }

    // --- Registry (HKEY_LOCAL_MACHINE) -----------------------------------------------------

    std::optional<RegistryValue> ReadRegistryValue(std::u16string_view keyPath,
                                                   std::u16string_view valueName) override {
        const auto path = ToWide(keyPath);
        const auto name = ToWide(valueName);
        if (!path || !name) {
            return std::nullopt;
        }
        const RegistryKey key(*path);
        if (key.get() == nullptr) {
            return std::nullopt;
        }
        // The value may grow between the size query and the read; ask again then.
        for (int attempt = 0; attempt < 4; ++attempt) {
            DWORD type = REG_NONE;
            DWORD size = 0;
            if (RegQueryValueExW(key.get(), name->c_str(), nullptr, &type, nullptr, &size) !=
                ERROR_SUCCESS) {
                return std::nullopt;
            }
            RegistryValue value;
            value.data.resize(size);
            DWORD got = size;
            const LONG status = RegQueryValueExW(key.get(), name->c_str(), nullptr, &type,
                                                 size == 0 ? nullptr : value.data.data(), &got);
            if (status == ERROR_MORE_DATA) {
                continue;
            }
            if (status != ERROR_SUCCESS) {
                return std::nullopt;
            }
            value.type = static_cast<RegistryType>(type);
            value.data.resize(std::min<std::size_t>(got, size));
            return value;
        }
        return std::nullopt;
    }

    std::optional<std::vector<std::u16string>> RegistrySubkeys(
        std::u16string_view keyPath) override {
        const auto path = ToWide(keyPath);
        if (!path) {
            return std::nullopt;
        }
        const RegistryKey key(*path);
        if (key.get() == nullptr) {
            return std::nullopt;
        }
        std::vector<std::u16string> names;
        std::vector<wchar_t> name(256);  // key names have at most 255 characters
        DWORD index = 0;
        for (;;) {
            DWORD length = static_cast<DWORD>(name.size());
            const LONG status = RegEnumKeyExW(key.get(), index, name.data(), &length, nullptr,
                                              nullptr, nullptr, nullptr);
            if (status == ERROR_NO_MORE_ITEMS) {
                break;
            }
            if (status == ERROR_MORE_DATA && name.size() < kMaxPathChars) {
                name.resize(name.size() * 2);
                continue;
            }
            if (status != ERROR_SUCCESS) {
                return std::nullopt;
            }
            names.push_back(FromWide(name.data(), std::min<std::size_t>(length, name.size())));
            ++index;
        }
        return names;
    }

    // --- Process and system ----------------------------------------------------------------

    // GetVersionExW as the system answers it: without a compatibility manifest Windows 8.1
    // and later report 6.2, which the library classifies like the other NT 6 systems.
    OsVersion GetVersion(bool extended) override {
        OsVersion version;
        OSVERSIONINFOEXW info{};
        info.dwOSVersionInfoSize = extended ? sizeof(OSVERSIONINFOEXW) : sizeof(OSVERSIONINFOW);
        if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)) == FALSE) {
            return version;
        }
        version.ok = true;
        version.platformId = info.dwPlatformId;
        version.major = info.dwMajorVersion;
        version.minor = info.dwMinorVersion;
        version.build = info.dwBuildNumber;
        version.productType = extended ? info.wProductType : 0;
        const std::size_t csdChars = std::size(info.szCSDVersion);
        version.servicePack = FromWide(info.szCSDVersion, wcsnlen(info.szCSDVersion, csdChars));
        return version;
    }

    std::u16string ModuleFileName() override {
        std::vector<wchar_t> path(MAX_PATH);
        for (;;) {
            const DWORD size = static_cast<DWORD>(path.size());
            const DWORD length = GetModuleFileNameW(nullptr, path.data(), size);
            if (length == 0) {
                return {};
            }
            if (length < size) {
                return FromWide(path.data(), length);
            }
            if (path.size() >= kMaxPathChars) {
                return {};  // a longer name cannot be a path the system opens
            }
            path.resize(path.size() * 2);
        }
    }

    std::u16string ReadProfileString(std::u16string_view section, std::u16string_view key,
                                     std::u16string_view defaultValue, std::u16string_view path,
                                     std::size_t maxChars) override {
        auto wideSection = ToWide(section);
        auto wideKey = ToWide(key);
        auto wideDefault = ToWide(defaultValue);
        auto widePath = ToWide(path);
        if (maxChars == 0 || !wideSection || !wideKey || !wideDefault || !widePath) {
            return {};
        }
        const DWORD size = static_cast<DWORD>(std::min(maxChars, kMaxProfileChars));
        std::vector<wchar_t> value(size, L'\0');
        // The reader may write into the default (it strips trailing blanks): pass our own copy.
        const DWORD length =
            GetPrivateProfileStringW(wideSection->c_str(), wideKey->c_str(), wideDefault->data(),
                                     value.data(), size, widePath->c_str());
        return FromWide(value.data(), std::min<std::size_t>(length, size - 1));
    }

    bool WriteProfileString(std::u16string_view section, std::u16string_view key,
                            std::u16string_view value, std::u16string_view path) override {
        const auto wideSection = ToWide(section);
        const auto wideKey = ToWide(key);
        const auto wideValue = ToWide(value);
        const auto widePath = ToWide(path);
        if (!wideSection || !wideKey || !wideValue || !widePath) {
            return false;
        }
        return WritePrivateProfileStringW(wideSection->c_str(), wideKey->c_str(),
                                          wideValue->c_str(), widePath->c_str()) != FALSE;
    }

    std::string ToAnsi(std::u16string_view text) override {
        if (text.empty() || text.size() > INT_MAX) {
            return {};
        }
        // The text may be a password: the wide copy is wiped before it is freed.
        std::wstring wide(text.begin(), text.end());
        const int length = static_cast<int>(wide.size());
        std::string ansi;
        const int needed =
            WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
        if (needed > 0) {
            ansi.assign(static_cast<std::size_t>(needed), '\0');
            const int written = WideCharToMultiByte(CP_ACP, 0, wide.data(), length, ansi.data(),
                                                    needed, nullptr, nullptr);
            ansi.resize(static_cast<std::size_t>(std::max(written, 0)));
        }
        SecureWipe(wide.data(), wide.size() * sizeof(wchar_t));
        return ansi;
    }

    std::u16string FromAnsi(std::string_view text) override {
        if (text.empty() || text.size() > INT_MAX) {
            return {};
        }
        const int length = static_cast<int>(text.size());
        const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
        if (needed <= 0) {
            return {};
        }
        std::wstring wide(static_cast<std::size_t>(needed), L'\0');
        const int written =
            MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), needed);
        std::u16string result =
            FromWide(wide.data(), static_cast<std::size_t>(std::max(written, 0)));
        SecureWipe(wide.data(), wide.size() * sizeof(wchar_t));
        return result;
    }

    std::optional<SharedBlock> OpenOrCreateSharedBlock(std::u16string_view name) override {
        const auto wide = ToWide(name);
        // An unnamed mapping would be private to this call and never seen by anyone else.
        if (!wide || wide->empty()) {
            return std::nullopt;
        }
        const HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                  sizeof(std::uint32_t), wide->c_str());
        if (mapping == nullptr) {
            return std::nullopt;
        }
        const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
        void* view =
            MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(std::uint32_t));
        if (view == nullptr) {
            CloseHandle(mapping);
            return std::nullopt;
        }
        std::lock_guard lock(viewsMutex_);
        views_[FromHandle(mapping)] = view;
        return SharedBlock{FromHandle(mapping), created};
    }

    bool SharedBlockExists(std::u16string_view name) override {
        const auto wide = ToWide(name);
        if (!wide || wide->empty()) {
            return false;
        }
        const HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, wide->c_str());
        if (mapping == nullptr) {
            // A block this user may not open still exists.
            return GetLastError() == ERROR_ACCESS_DENIED;
        }
        CloseHandle(mapping);
        return true;
    }

    std::optional<std::uint32_t> ReadSharedBlock(HostHandle block) override {
        std::lock_guard lock(viewsMutex_);
        const auto found = views_.find(block);
        if (found == views_.end()) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        std::memcpy(&value, found->second, sizeof(value));
        return value;
    }

    bool WriteSharedBlock(HostHandle block, std::uint32_t value) override {
        std::lock_guard lock(viewsMutex_);
        const auto found = views_.find(block);
        if (found == views_.end()) {
            return false;
        }
        std::memcpy(found->second, &value, sizeof(value));
        return true;
    }

    void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }
    std::int64_t Time() override { return static_cast<std::int64_t>(std::time(nullptr)); }
    void SeedRandom(std::uint32_t seed) override { std::srand(seed); }
    int Random() override { return std::rand(); }

    void SetControlText(std::uint32_t window, std::u16string_view text) override {
        if (window != 0) {
            const std::wstring value(text.begin(), text.end());
            SendMessageW(ToWindow(window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str()));
        }
    }
    void SetProgressPosition(std::uint32_t window, int percent) override {
        constexpr UINT kProgressSetPosition = WM_USER + 2;  // PBM_SETPOS
        if (window != 0) {
            SendMessageW(ToWindow(window), kProgressSetPosition, static_cast<WPARAM>(percent), 0);
        }
    }
    void PumpDialogMessages(std::uint32_t dialog) override {
        if (dialog == 0) {
            return;
        }
        const HWND window = ToWindow(dialog);
        MSG message;
        while (PeekMessageW(&message, window, 0, 0, PM_REMOVE) != FALSE) {
            const bool confirmKey = message.message == WM_KEYDOWN &&
                                    (message.wParam == VK_ESCAPE || message.wParam == VK_RETURN);
            if (confirmKey || message.message == WM_LBUTTONDOWN ||
                message.message == WM_RBUTTONDOWN || message.message == WM_NCLBUTTONDOWN ||
                message.message == WM_NCRBUTTONDOWN) {
                return;  // never reaches the dialog during a long operation
            }
            if (IsDialogMessageW(window, &message) == FALSE) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
    }

  private:
    // User handles are 32-bit values, sign-extended in 64-bit processes.
    static HWND ToWindow(std::uint32_t window) {
        return reinterpret_cast<HWND>(
            static_cast<std::intptr_t>(static_cast<std::int32_t>(window)));
    }
    static OVERLAPPED PositionAt(std::uint64_t offset) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        return at;
    }

    static std::optional<std::u16string> InterfacePath(HDEVINFO devices,
                                                       SP_DEVICE_INTERFACE_DATA& entry) {
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailW(devices, &entry, nullptr, 0, &needed, nullptr);
        if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
            return std::nullopt;
        }
        auto detail = Room<SP_DEVICE_INTERFACE_DETAIL_DATA_W>(needed);
        detail[0].cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (SetupDiGetDeviceInterfaceDetailW(devices, &entry, detail.data(), needed, nullptr,
                                             nullptr) == FALSE) {
            return std::nullopt;
        }
        // The path runs on past the structure's one declared character: copy it out raw.
        const std::size_t pathAt = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
        std::wstring path((needed - pathAt) / sizeof(wchar_t), L'\0');
        std::memcpy(path.data(), reinterpret_cast<const unsigned char*>(detail.data()) + pathAt,
                    path.size() * sizeof(wchar_t));
        return FromWide(path.data(), wcsnlen(path.data(), path.size()));
    }

    static std::optional<std::vector<PartitionInfo>> ExtendedDriveLayout(HostHandle drive) {
        for (DWORD entries = 4; entries <= kMaxLayoutEntries; entries *= 2) {
            const std::size_t bytes = sizeof(DRIVE_LAYOUT_INFORMATION_EX) +
                                      (entries - 1) * sizeof(PARTITION_INFORMATION_EX);
            auto answer = Room<DRIVE_LAYOUT_INFORMATION_EX>(bytes);
            DWORD returned = 0;
            if (Control(ToHandle(drive), IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, answer.data(),
                        bytes, &returned)) {
                return LayoutEntries<PARTITION_INFORMATION_EX>(
                    answer, returned, offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry));
            }
            const DWORD error = GetLastError();
            if (error != ERROR_INSUFFICIENT_BUFFER && error != ERROR_MORE_DATA) {
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    // Systems before XP know only the classic layout query.
    static std::optional<std::vector<PartitionInfo>> ClassicDriveLayout(HostHandle drive) {
        for (DWORD entries = 4; entries <= kMaxLayoutEntries; entries *= 2) {
            const std::size_t bytes =
                sizeof(DRIVE_LAYOUT_INFORMATION) + (entries - 1) * sizeof(PARTITION_INFORMATION);
            auto answer = Room<DRIVE_LAYOUT_INFORMATION>(bytes);
            DWORD returned = 0;
            if (Control(ToHandle(drive), IOCTL_DISK_GET_DRIVE_LAYOUT, nullptr, 0, answer.data(),
                        bytes, &returned)) {
                return LayoutEntries<PARTITION_INFORMATION>(
                    answer, returned, offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry));
            }
            const DWORD error = GetLastError();
            if (error != ERROR_INSUFFICIENT_BUFFER && error != ERROR_MORE_DATA) {
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    // The entries the answer holds, never more than the returned bytes cover. Entries past the
    // structure's one declared element are copied out of the raw answer.
    template <typename Entry, typename Layout>
    static std::vector<PartitionInfo> LayoutEntries(const std::vector<Layout>& answer,
                                                    DWORD returned, std::size_t entriesAt) {
        const std::size_t present =
            returned > entriesAt ? (returned - entriesAt) / sizeof(Entry) : 0;
        const std::size_t count = std::min<std::size_t>(answer[0].PartitionCount, present);
        const auto* raw = reinterpret_cast<const unsigned char*>(answer.data());
        std::vector<PartitionInfo> entries;
        entries.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            Entry entry;
            std::memcpy(&entry, raw + entriesAt + i * sizeof(Entry), sizeof(Entry));
            entries.push_back(FromPartition(entry));
        }
        return entries;
    }

    std::mutex viewsMutex_;
    std::unordered_map<HostHandle, void*> views_;  // shared-block handle -> its mapped view
};

}  // namespace

std::unique_ptr<Host> MakePlatformHost() {
    return std::make_unique<Win32Host>();
}

}  // namespace kvx
