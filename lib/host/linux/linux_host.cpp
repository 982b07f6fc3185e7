#include "host/linux/linux_host.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <map>
#include <set>
#include <utility>

#include "host/forwarding_host.h"
#include "host/linux/mountinfo.h"
#include "host/partition_table.h"
#include "host/posix/full_io.h"
#include "host/registry_store.h"
#include "host/sectors.h"
#include "host/text.h"

namespace kvx::linux_host {
namespace {

constexpr char kDevicePrefix[] = "\\\\.\\";
constexpr char kDiskPrefix[] = "PHYSICALDRIVE";
// The system the library is shown: NT 10.0, a workstation.
constexpr std::uint32_t kShownMajorVersion = 10;

// An open unit: its node's descriptor is the handle.
struct Entry {
    BlockUnit unit;
    bool volume = false;  // opened by letter (else as a disk)
    int exclusive = -1;   // the lock's exclusive descriptor
};

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    return s;
}

std::optional<unsigned> DiskNumber(std::string_view rest) {
    if (!rest.starts_with(kDiskPrefix) || rest.size() == sizeof kDiskPrefix - 1) {
        return std::nullopt;
    }
    unsigned n = 0;
    const std::string_view digits = rest.substr(sizeof kDiskPrefix - 1);
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (ec != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return n;
}

class LinuxHost final : public ForwardingHost {
  public:
    LinuxHost(Host& inner, Roots roots, SgIoTransport& transport)
        : ForwardingHost(inner), roots_(std::move(roots)), transport_(transport) {}

    ~LinuxHost() override {
        for (auto& [fd, entry] : open_) {
            Release(static_cast<int>(fd), entry);
        }
    }

    OpenResult Open(std::u16string_view name, std::uint32_t access, std::uint32_t share,
                    Disposition disposition) override {
        const std::string text = Upper(ToUtf8(name));
        if (!text.starts_with(kDevicePrefix)) {
            return ForwardingHost::Open(name, access, share, disposition);
        }
        const std::string rest = text.substr(sizeof kDevicePrefix - 1);
        const std::vector<BlockUnit> units = ScanBlockUnits(roots_);
        if (rest.size() == 2 && rest[1] == ':') {
            const auto it = std::find_if(units.begin(), units.end(), [&](const BlockUnit& u) {
                return u.letter != 0 && u.letter == rest[0];
            });
            return it == units.end() ? OpenResult{kInvalidHandle, kErrorFileNotFound}
                                     : OpenUnit(*it, true, access);
        }
        if (const auto n = DiskNumber(rest)) {
            const std::vector<const BlockUnit*> disks = Disks(units);
            return *n < disks.size() ? OpenUnit(*disks[*n], false, access)
                                     : OpenResult{kInvalidHandle, kErrorFileNotFound};
        }
        return {kInvalidHandle, kErrorFileNotFound};  // no host controllers or hubs here
    }

    void Close(HostHandle handle) override {
        const auto it = open_.find(handle);
        if (it == open_.end()) {
            ForwardingHost::Close(handle);
            return;
        }
        Release(static_cast<int>(handle), it->second);
        open_.erase(it);
    }

    std::optional<std::size_t> ReadAt(HostHandle file, std::uint64_t offset,
                                      std::span<std::uint8_t> data) override {
        if (!open_.contains(file)) {
            return ForwardingHost::ReadAt(file, offset, data);
        }
        return ReadFullAt(static_cast<int>(file), offset, data);
    }

    bool WriteAt(HostHandle file, std::uint64_t offset,
                 std::span<const std::uint8_t> data) override {
        if (!open_.contains(file)) {
            return ForwardingHost::WriteAt(file, offset, data);
        }
        return WriteFullAt(static_cast<int>(file), offset, data);
    }

    std::optional<std::uint64_t> FileSize(HostHandle file) override {
        if (!open_.contains(file)) {
            return ForwardingHost::FileSize(file);
        }
        return UnitBytes(static_cast<int>(file));
    }

    ScsiOutcome ScsiPassThrough(HostHandle drive, const ScsiCommand& command) override {
        ScsiOutcome outcome;
        const auto it = open_.find(drive);
        if (it == open_.end()) {
            outcome.osError = kErrorInvalidHandle;
            return outcome;
        }
        if (command.cdb.empty() || command.cdb.size() > kMaxCdbBytes ||
            command.data.size() > UINT_MAX) {
            outcome.osError = kErrorInvalidParameter;
            return outcome;
        }
        std::uint8_t sense[kSenseLength] = {};
        sg_io_hdr_t request = BuildSgIoRequest(command, sense);
        const int result =
            transport_.Submit(it->second.unit.node, static_cast<int>(drive), request);
        const int error = result == 0 ? 0 : errno;
        if (error == EPERM || error == EACCES) {
            privilegeMissing_ = true;  // the kernel passes vendor opcodes to privileged callers
        }
        return SgIoOutcome(result, error, request, command);
    }

    std::optional<StorageBus> QueryBusType(HostHandle drive) override {
        const Entry* e = Find(drive);
        if (e == nullptr) {
            return std::nullopt;
        }
        return e->unit.usb ? kBusUsb : kBusScsi;
    }

    bool ControlVolume(HostHandle volume, VolumeOp op) override {
        Entry* e = Find(volume);
        if (e == nullptr) {
            return false;
        }
        switch (op) {
            case VolumeOp::kLock: {
                if (e->exclusive >= 0) {
                    return false;
                }
                // An exclusive open fails with EBUSY while the kernel holds the unit (mounted).
                e->exclusive =
                    ::open(e->unit.node.c_str(), O_RDONLY | O_EXCL | O_NONBLOCK | O_CLOEXEC);
                return e->exclusive >= 0;
            }
            case VolumeOp::kUnlock:
                if (e->exclusive < 0) {
                    return false;
                }
                ::close(std::exchange(e->exclusive, -1));
                return true;
            case VolumeOp::kDismount:
                return Unmount(e->unit);
        }
        return false;
    }

    std::optional<PartitionInfo> GetPartitionInfo(HostHandle drive) override {
        const Entry* e = Find(drive);
        if (e == nullptr) {
            return std::nullopt;
        }
        const auto bytes = UnitBytes(static_cast<int>(drive));
        if (!bytes || *bytes == 0) {
            return std::nullopt;  // a unit without medium (a closed secure unit) shows nothing
        }
        const PartitionInfo whole{0, *bytes, 0, 0, 0, false, e->volume};
        if (!e->volume || e->unit.cdRom()) {
            return whole;
        }
        return VolumePartition(Layout(static_cast<int>(drive)), whole);
    }

    std::optional<std::vector<PartitionInfo>> GetDriveLayout(HostHandle drive) override {
        return Find(drive) == nullptr ? std::nullopt : Layout(static_cast<int>(drive));
    }

    bool UpdateDiskProperties(HostHandle drive) override {
        return Find(drive) != nullptr && ::ioctl(static_cast<int>(drive), BLKRRPART) == 0;
    }

    std::uint32_t LogicalDriveMask() override {
        std::uint32_t mask = 0;
        for (const BlockUnit& unit : ScanBlockUnits(roots_)) {
            if (unit.letter != 0) {
                mask |= 1u << (unit.letter - 'A');
            }
        }
        return mask;
    }

    DriveType GetDriveType(char16_t letter) override {
        if (letter >= u'a' && letter <= u'z') {
            letter = static_cast<char16_t>(letter - u'a' + u'A');
        }
        for (const BlockUnit& unit : ScanBlockUnits(roots_)) {
            if (unit.letter != 0 && static_cast<char16_t>(unit.letter) == letter) {
                return unit.type;
            }
        }
        return kDriveNoRootDir;
    }

    std::vector<std::u16string> PartitionNodes(HostHandle drive) override {
        const Entry* e = Find(drive);
        if (e == nullptr) {
            return {};
        }
        // Read afresh: a re-read partition table shows in sysfs at once.
        const std::vector<BlockUnit> units = ScanBlockUnits(roots_);
        const auto it = std::find_if(units.begin(), units.end(),
                                     [&](const BlockUnit& u) { return u.name == e->unit.name; });
        if (it == units.end()) {
            return {};
        }
        std::vector<std::u16string> nodes;
        for (const BlockPartition& p : it->partitions) {
            nodes.push_back(FromUtf8(p.node.string()));
        }
        if (nodes.empty() && it->sectors != 0) {
            nodes.push_back(FromUtf8(it->node.string()));  // a file system on the whole unit
        }
        return nodes;
    }

    bool PassThroughPrivilegeMissing() override { return privilegeMissing_; }

    std::optional<RegistryValue> ReadRegistryValue(std::u16string_view keyPath,
                                                   std::u16string_view valueName) override {
        return Registry().Value(keyPath, valueName);
    }
    std::optional<std::vector<std::u16string>> RegistrySubkeys(
        std::u16string_view keyPath) override {
        return Registry().Subkeys(keyPath);
    }

    OsVersion GetVersion(bool extended) override {
        OsVersion v;
        v.ok = true;
        v.platformId = kPlatformNt;
        v.major = kShownMajorVersion;
        v.productType = extended ? kProductWorkstation : 0;
        return v;
    }

  private:
    static constexpr std::size_t kMaxCdbBytes = 16;

    static std::vector<const BlockUnit*> Disks(const std::vector<BlockUnit>& units) {
        std::vector<const BlockUnit*> disks;
        for (const BlockUnit& unit : units) {
            if (!unit.cdRom()) {
                disks.push_back(&unit);
            }
        }
        return disks;
    }

    Entry* Find(HostHandle handle) {
        const auto it = open_.find(handle);
        return it == open_.end() ? nullptr : &it->second;
    }

    OpenResult OpenUnit(const BlockUnit& unit, bool volume, std::uint32_t access) {
        // Without O_NONBLOCK a unit without medium (a closed secure unit, an empty CD drive)
        // could not be opened at all, and commands are what opens it.
        const int common = O_NONBLOCK | O_CLOEXEC;
        const bool write = (access & kAccessWrite) != 0;
        int fd = ::open(unit.node.c_str(), common | (write ? O_RDWR : O_RDONLY));
        if (fd < 0 && write && errno == EROFS) {
            fd = ::open(unit.node.c_str(), common | O_RDONLY);  // a CD unit opens read-only
        }
        if (fd < 0) {
            return {kInvalidHandle, DeviceErrorFromErrno(errno)};
        }
        open_[fd] = Entry{unit, volume};
        return {fd, kErrorNone};
    }

    static void Release(int fd, Entry& entry) {
        if (entry.exclusive >= 0) {
            ::close(entry.exclusive);
        }
        ::close(fd);
    }

    std::optional<std::uint64_t> UnitBytes(int fd) {
        std::uint64_t bytes = 0;
        if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0) {
            return bytes;
        }
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
            return static_cast<std::uint64_t>(info.st_size);  // an image standing in for a unit
        }
        return std::nullopt;
    }

    // The partition table in sector 0; nullopt when the sector cannot be read whole.
    static std::optional<std::vector<PartitionInfo>> Layout(int fd) {
        std::vector<std::uint8_t> sector(kSectorSize);
        const auto read = ReadFullAt(fd, 0, sector);
        if (!read || *read != sector.size()) {
            return std::nullopt;
        }
        return ParsePartitionTable(sector);
    }

    // Unmounts every mount of the unit or its partitions, the latest first.
    static bool Unmount(const BlockUnit& unit) {
        std::set<dev_t> devices;
        if (unit.device) {
            devices.insert(*unit.device);
        }
        struct stat info {};
        if (::stat(unit.node.c_str(), &info) == 0 && S_ISBLK(info.st_mode)) {
            devices.insert(info.st_rdev);
        }
        for (const BlockPartition& p : unit.partitions) {
            if (p.device) {
                devices.insert(*p.device);
            }
        }
        std::vector<Mount> mounts = CurrentMounts();
        bool ok = true;
        for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) {
            if (devices.contains(it->device) && ::umount2(it->mountPoint.c_str(), 0) != 0) {
                ok = false;  // busy: a process uses the file system
            }
        }
        return ok;
    }

    RegistryStore Registry() {
        RegistryStore store;
        store.Make(kMountedDevicesKey);
        store.Make(std::u16string(kEnumKey) + u"USB");
        store.Make(std::u16string(kEnumKey) + u"USBSTOR");
        const std::vector<BlockUnit> units = ScanBlockUnits(roots_);
        std::map<std::string, std::vector<const BlockUnit*>> devices;  // by USB path
        std::vector<std::string> disks;
        for (const BlockUnit& unit : units) {
            if (unit.usb) {
                devices[unit.usbPath].push_back(&unit);
            }
            if (!unit.cdRom()) {
                disks.push_back(unit.usb
                                    ? UsbStorInstance(StorageUnit(unit))
                                    : "SCSI\\Disk&Ven_" + StorageIdText(unit.vendor) + "&Prod_" +
                                          StorageIdText(unit.model) + "\\" + unit.name);
            }
        }
        for (const auto& [path, members] : devices) {
            std::vector<UsbStorageUnit> storage;
            for (const BlockUnit* unit : members) {
                storage.push_back(StorageUnit(*unit));
                if (unit->letter != 0) {
                    AddUsbStorageMount(store, unit->letter, storage.back());
                }
            }
            const BlockUnit& first = *members.front();
            AddUsbStorageDevice(store, first.vid, first.pid, storage.front().serial, storage);
        }
        SetDiskList(store, disks);
        return store;
    }

    static UsbStorageUnit StorageUnit(const BlockUnit& unit) {
        UsbStorageUnit storage;
        storage.cdRom = unit.cdRom();
        storage.vendor = unit.vendor;
        storage.product = unit.model;
        storage.revision = unit.revision;
        // A device without a serial number gets its USB path, as Windows makes up an instance.
        storage.serial = unit.serial.empty() ? unit.usbPath : unit.serial;
        storage.lun = unit.lun;
        return storage;
    }

    Roots roots_;
    SgIoTransport& transport_;
    std::map<HostHandle, Entry> open_;
    bool privilegeMissing_ = false;
};

}  // namespace

std::unique_ptr<Host> MakeLinuxHost(Host& inner, Roots roots, SgIoTransport& transport) {
    return std::make_unique<LinuxHost>(inner, std::move(roots), transport);
}

}  // namespace kvx::linux_host
