// The emulated machine's host. Device names resolve against the machine directory, read afresh
// on each use so that a replug or fault set by another process is seen at once:
//   "\\.\X:"               the machine's own drives, a device's CD unit (CD-ROM) and, while it
//                          is open, its secure unit (removable on flash, fixed on hard disks)
//   "\\.\PhysicalDrive0"   the machine's own disk; "\\.\PhysicalDrive<1+i>" device i's secure unit
//   "\\.\HCD0" and the host controller's interface path; hub names from the controls
//   the registry's mount texts and device keys (registry.h)
//   "X:\NAME" on device 0's CD letter  the file NAME in the machine's "cd" folder, read-only: a
//                          program started from that folder reports its module path there
// Everything else (plain files, profile strings, code page, shared blocks, clock) goes to the
// platform host. All handles are this host's own; platform handles are kept behind them.
#include "sim/host/sim_host.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <utility>

#include "host/partition_table.h"
#include "host/text.h"
#include "sim/bridge/bridge.h"
#include "sim/host/cd_folder.h"
#include "sim/host/foreign_drive.h"
#include "sim/host/hub_controls.h"
#include "sim/host/registry.h"
#include "sim/host/usb_tree.h"
#include "sim/machine.h"

namespace kvx {
namespace {

using sim::Bridge;
using sim::BridgeState;
using sim::Unit;

// Index into the device list; nullopt for the machine's own drives.
using DeviceIndex = std::optional<std::size_t>;

enum class Kind { kPlatformFile, kPlatformBlock, kVolume, kDisk, kController, kHub };

struct Entry {
    Kind kind = Kind::kPlatformFile;
    HostHandle platform = kInvalidHandle;
    DeviceIndex device = std::nullopt;
    Unit unit = Unit::kCd;
    char letter = 0;
    DriveType type = kDriveUnknown;
    unsigned hubDepth = 0;
    bool locked = false;
};

struct Letter {
    DriveType type = kDriveNoRootDir;
    DeviceIndex device = std::nullopt;
    Unit unit = Unit::kCd;
};

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    return s;
}

std::optional<unsigned> NumberAfter(std::string_view text, std::string_view prefix) {
    if (!text.starts_with(prefix) || text.size() == prefix.size()) {
        return std::nullopt;
    }
    unsigned n = 0;
    const auto rest = text.substr(prefix.size());
    const auto [ptr, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), n);
    if (ec != std::errc() || ptr != rest.data() + rest.size()) {
        return std::nullopt;
    }
    return n;
}

class SimHost final : public Host {
  public:
    SimHost(Host& platform, const std::string& machineDir)
        : platform_(platform), dir_(sim::MachinePath(machineDir)) {
        Refresh();
    }

    // --- Files, volumes and devices ----------------------------------------------------------
    OpenResult Open(std::u16string_view name, std::uint32_t access, std::uint32_t share,
                    Disposition disposition) override {
        const std::string text = Upper(ToUtf8(name));
        if (!text.starts_with("\\\\.\\") && !text.starts_with("\\\\?\\")) {
            const auto cd = CdFile(name);
            if (cd && (*cd).empty()) {
                return {kInvalidHandle, kErrorPathNotFound};
            }
            if (cd && ((access & kAccessWrite) != 0 || disposition != Disposition::kOpenExisting)) {
                return {kInvalidHandle, kErrorAccessDenied};  // a CD-ROM
            }
            const OpenResult r = platform_.Open(cd ? *cd : name, access, share, disposition);
            if (r.handle == kInvalidHandle) {
                return r;
            }
            return Opened(Entry{Kind::kPlatformFile, r.handle});
        }
        const std::string rest = text.substr(4);
        if (rest.size() == 2 && rest[1] == ':' && rest[0] >= 'A' && rest[0] <= 'Z') {
            return OpenVolume(rest[0], access);
        }
        if (const auto n = NumberAfter(rest, "PHYSICALDRIVE")) {
            return OpenDisk(*n, access);
        }
        if (NumberAfter(rest, "HCD") == 0u ||
            text == Upper(ToUtf8(sim::HostControllerInterfacePath()))) {
            return Opened(Entry{Kind::kController});
        }
        if (const auto hub = Tree().FindHub(rest)) {
            Entry e{Kind::kHub};
            e.hubDepth = *hub;
            return Opened(e);
        }
        return {kInvalidHandle, kErrorFileNotFound};
    }

    void Close(HostHandle handle) override {
        const auto it = handles_.find(handle);
        if (it == handles_.end()) {
            return;
        }
        if (it->second.kind == Kind::kPlatformFile || it->second.kind == Kind::kPlatformBlock) {
            platform_.Close(it->second.platform);
        }
        handles_.erase(it);
    }

    std::optional<std::size_t> ReadAt(HostHandle file, std::uint64_t offset,
                                      std::span<std::uint8_t> data) override {
        Entry* e = Find(file);
        if (e == nullptr) {
            return std::nullopt;
        }
        if (e->kind == Kind::kPlatformFile) {
            return platform_.ReadAt(e->platform, offset, data);
        }
        // Raw reads of a device's volume or disk: whole sectors only.
        if ((e->kind == Kind::kVolume || e->kind == Kind::kDisk) && e->device &&
            offset % kSectorSize == 0 && data.size() % kSectorSize == 0 &&
            devices_[*e->device]->ReadUnitSectors(e->unit, offset / kSectorSize, data)) {
            return data.size();
        }
        return std::nullopt;
    }

    bool WriteAt(HostHandle file, std::uint64_t offset,
                 std::span<const std::uint8_t> data) override {
        Entry* e = Find(file);
        return e != nullptr && e->kind == Kind::kPlatformFile &&
               platform_.WriteAt(e->platform, offset, data);
    }

    std::optional<std::uint64_t> FileSize(HostHandle file) override {
        Entry* e = Find(file);
        if (e == nullptr || e->kind != Kind::kPlatformFile) {
            return std::nullopt;
        }
        return platform_.FileSize(e->platform);
    }

    bool FileExists(std::u16string_view path) override {
        const auto cd = CdFile(path);
        return cd ? !cd->empty() && platform_.FileExists(*cd) : platform_.FileExists(path);
    }

    // --- Storage -------------------------------------------------------------------------------
    ScsiOutcome ScsiPassThrough(HostHandle drive, const ScsiCommand& command) override {
        ScsiOutcome outcome;
        Entry* e = Find(drive);
        if (e == nullptr) {
            outcome.osError = kErrorInvalidHandle;
            return outcome;
        }
        if (e->kind != Kind::kVolume && e->kind != Kind::kDisk) {
            outcome.osError = kErrorNotSupported;
            return outcome;
        }
        if (command.cdb.empty() || command.cdb.size() > 16) {
            outcome.osError = kErrorInvalidParameter;
            return outcome;
        }
        if (!e->device) {
            return sim::ForeignDriveCommand(e->type, command);
        }
        const std::span<std::uint8_t> data =
            command.direction == DataDirection::kNone ? std::span<std::uint8_t>{} : command.data;
        const sim::BridgeReply reply =
            devices_[*e->device]->Execute(e->unit, command.cdb, data, command.direction);
        if (!reply.delivered) {
            outcome.osError = kErrorDeviceNotConnected;
            return outcome;
        }
        outcome.sent = true;
        outcome.scsiStatus = reply.status;
        std::copy(reply.sense.begin(), reply.sense.end(), outcome.sense);
        outcome.transferred = reply.transferred;
        return outcome;
    }

    std::optional<StorageBus> QueryBusType(HostHandle drive) override {
        Entry* e = Find(drive);
        if (e == nullptr || (e->kind != Kind::kVolume && e->kind != Kind::kDisk)) {
            return std::nullopt;
        }
        if (!e->device) {
            return sim::ForeignDriveBus(e->type);
        }
        const auto st = State(*e->device);
        if (!st || !st->plugged) {
            return std::nullopt;
        }
        return st->bus == sim::Bus::kAtapi ? kBusAtapi : kBusUsb;
    }

    bool ControlVolume(HostHandle volume, VolumeOp op) override {
        Entry* e = Find(volume);
        if (e == nullptr || e->kind != Kind::kVolume) {
            return false;
        }
        if (!e->device) {
            return op == VolumeOp::kUnlock &&
                   std::exchange(e->locked, false);  // the system's own volumes stay in use
        }
        Bridge& bridge = *devices_[*e->device];
        const auto st = State(*e->device);
        bool ok = st && st->plugged;
        std::string_view what;
        switch (op) {
            case VolumeOp::kLock:
                what = "lock";
                ok = ok && !e->locked && !LockedElsewhere(*e) &&
                     !bridge.TakeHostFault(sim::FaultKind::kVolumeLock);
                if (ok) {
                    e->locked = true;
                }
                break;
            case VolumeOp::kUnlock:
                what = "unlock";
                ok = ok && std::exchange(e->locked, false);
                break;
            case VolumeOp::kDismount:
                what = "dismount";
                ok = ok && !bridge.TakeHostFault(sim::FaultKind::kVolumeDismount);
                break;
        }
        bridge.LogHostEvent(e->unit, what, ok);
        return ok;
    }

    std::optional<PartitionInfo> GetPartitionInfo(HostHandle drive) override {
        Entry* e = Find(drive);
        if (e == nullptr || (e->kind != Kind::kVolume && e->kind != Kind::kDisk)) {
            return std::nullopt;
        }
        if (!e->device) {
            return sim::ForeignDrivePartition();
        }
        const auto st = State(*e->device);
        if (!st || !st->plugged || (e->unit == Unit::kSecure && !sim::SecureLetterShown(*st))) {
            return std::nullopt;  // a closed secure unit is not ready: no partition to show
        }
        const std::uint64_t unitBytes =
            (e->unit == Unit::kCd ? st->cdSectors : st->secSectors) * kSectorSize;
        const PartitionInfo whole{0, unitBytes, 0, 0, 0, false, e->kind == Kind::kVolume};
        if (e->kind == Kind::kDisk || e->unit == Unit::kCd) {
            return whole;
        }
        return VolumePartition(Layout(*e->device, e->unit), whole);
    }

    std::optional<std::vector<PartitionInfo>> GetDriveLayout(HostHandle drive) override {
        Entry* e = Find(drive);
        if (e == nullptr || (e->kind != Kind::kVolume && e->kind != Kind::kDisk) || !e->device) {
            return std::nullopt;
        }
        return Layout(*e->device, e->unit);
    }

    bool UpdateDiskProperties(HostHandle drive) override {
        Entry* e = Find(drive);
        if (e == nullptr || (e->kind != Kind::kVolume && e->kind != Kind::kDisk)) {
            return false;
        }
        if (!e->device) {
            return true;
        }
        const auto st = State(*e->device);
        const bool ok = st && st->plugged;
        devices_[*e->device]->LogHostEvent(e->unit, "update-properties", ok);
        return ok;
    }

    std::uint32_t LogicalDriveMask() override {
        std::uint32_t mask = 0;
        for (const auto& [letter, info] : Letters()) {
            mask |= 1u << (letter - 'A');
        }
        return mask;
    }

    DriveType GetDriveType(char16_t letter) override {
        if (letter >= u'a' && letter <= u'z') {
            letter = static_cast<char16_t>(letter - u'a' + u'A');
        }
        const auto letters = Letters();
        const auto it = letter >= u'A' && letter <= u'Z' ? letters.find(static_cast<char>(letter))
                                                         : letters.end();
        return it == letters.end() ? kDriveNoRootDir : it->second.type;
    }

    // --- USB -------------------------------------------------------------------------------------
    std::vector<std::u16string> UsbHostControllerPaths() override {
        return {sim::HostControllerInterfacePath()};
    }

    std::optional<std::size_t> UsbHubControl(HostHandle hub, UsbControl code,
                                             std::span<const std::uint8_t> in,
                                             std::span<std::uint8_t> out) override {
        Entry* e = Find(hub);
        if (e == nullptr) {
            return std::nullopt;
        }
        if (e->kind == Kind::kController) {
            if (code != kUsbGetNodeInformation) {
                return std::nullopt;
            }
            return sim::WriteHubName(out, std::nullopt, FromUtf8(sim::UsbTree::HubName(0)),
                                     HubNameFault());
        }
        if (e->kind != Kind::kHub) {
            return std::nullopt;
        }
        Refresh();
        const auto states = States();
        const sim::UsbTree tree(machine_, states);
        if (e->hubDepth >= tree.HubCount()) {
            return std::nullopt;  // the hub went away
        }
        switch (code) {
            case kUsbGetNodeInformation:
                return sim::WriteNodeInformation(out, sim::kHubPorts, e->hubDepth > 0);
            case kUsbGetNodeConnectionInformation:
                return ConnectionInformation(tree, states, e->hubDepth, in, out);
            case kUsbGetDescriptorFromNodeConnection:
                return DescriptorFromConnection(tree, e->hubDepth, in, out);
            case kUsbGetNodeConnectionName: {
                const auto port = sim::RequestedPort(in);
                if (!port) {
                    return std::nullopt;
                }
                const sim::UsbPortNode node = tree.At(e->hubDepth, *port);
                const std::u16string name = node.kind == sim::UsbNodeKind::kHub
                                                ? FromUtf8(sim::UsbTree::HubName(node.hubDepth))
                                                : u"";
                return sim::WriteHubName(out, *port, name,
                                         name.empty() ? std::nullopt : HubNameFault());
            }
        }
        return std::nullopt;
    }

    // --- Registry: mount texts and device keys of the machine's drives and devices ------------
    std::optional<RegistryValue> ReadRegistryValue(std::u16string_view keyPath,
                                                   std::u16string_view valueName) override {
        return MachineRegistry().Value(keyPath, valueName);
    }
    std::optional<std::vector<std::u16string>> RegistrySubkeys(
        std::u16string_view keyPath) override {
        return MachineRegistry().Subkeys(keyPath);
    }

    // --- Process and system
    // ------------------------------------------------------------------------
    OsVersion GetVersion(bool extended) override {
        Refresh();
        OsVersion v = machine_.version;
        if (!extended) {
            v.productType = 0;  // the plain structure has no product type
        }
        return v;
    }
    std::u16string ModuleFileName() override {
        const std::u16string real = platform_.ModuleFileName();
        return CdModuleName(real).value_or(real);
    }
    std::u16string ReadProfileString(std::u16string_view section, std::u16string_view key,
                                     std::u16string_view defaultValue, std::u16string_view path,
                                     std::size_t maxChars) override {
        const auto cd = CdFile(path);
        return platform_.ReadProfileString(section, key, defaultValue, cd ? *cd : path, maxChars);
    }
    bool WriteProfileString(std::u16string_view section, std::u16string_view key,
                            std::u16string_view value, std::u16string_view path) override {
        return !CdFile(path) && platform_.WriteProfileString(section, key, value, path);
    }
    std::string ToAnsi(std::u16string_view text) override { return platform_.ToAnsi(text); }
    std::u16string FromAnsi(std::string_view text) override { return platform_.FromAnsi(text); }
    std::optional<SharedBlock> OpenOrCreateSharedBlock(std::u16string_view name) override {
        auto block = platform_.OpenOrCreateSharedBlock(name);
        if (!block) {
            return std::nullopt;
        }
        Entry e{Kind::kPlatformBlock, block->handle};
        block->handle = Opened(e).handle;
        return block;
    }
    bool SharedBlockExists(std::u16string_view name) override {
        return platform_.SharedBlockExists(name);
    }
    std::optional<std::uint32_t> ReadSharedBlock(HostHandle block) override {
        Entry* e = Find(block);
        if (e == nullptr || e->kind != Kind::kPlatformBlock) {
            return std::nullopt;
        }
        return platform_.ReadSharedBlock(e->platform);
    }
    bool WriteSharedBlock(HostHandle block, std::uint32_t value) override {
        Entry* e = Find(block);
        return e != nullptr && e->kind == Kind::kPlatformBlock &&
               platform_.WriteSharedBlock(e->platform, value);
    }
    void Sleep(std::uint32_t milliseconds) override { platform_.Sleep(milliseconds); }
    std::int64_t Time() override { return platform_.Time(); }
    void SeedRandom(std::uint32_t seed) override { platform_.SeedRandom(seed); }
    int Random() override { return platform_.Random(); }
    // The caller's controls are the platform's business, not the machine's.
    void SetControlText(std::uint32_t window, std::u16string_view text) override {
        platform_.SetControlText(window, text);
    }
    void SetProgressPosition(std::uint32_t window, int percent) override {
        platform_.SetProgressPosition(window, percent);
    }
    void PumpDialogMessages(std::uint32_t dialog) override { platform_.PumpDialogMessages(dialog); }

  private:
    OpenResult Opened(const Entry& entry) {
        const HostHandle h = next_++;
        handles_[h] = entry;
        return {h, kErrorNone};
    }

    Entry* Find(HostHandle handle) {
        const auto it = handles_.find(handle);
        return it == handles_.end() ? nullptr : &it->second;
    }

    std::optional<BridgeState> State(std::size_t device) const { return devices_[device]->State(); }

    std::vector<std::optional<BridgeState>> States() const {
        std::vector<std::optional<BridgeState>> states;
        for (const auto& d : devices_) {
            states.push_back(d->State());
        }
        return states;
    }

    sim::UsbTree Tree() {
        Refresh();
        return sim::UsbTree(machine_, States());
    }

    // Device 0's state as it is now.
    std::optional<BridgeState> FirstDevice() {
        Refresh();
        return devices_.empty() ? std::nullopt : State(0);
    }

    // Device 0's CD drive letter (the letter shows only while it is on the bus).
    std::optional<char> CdLetter(bool plugged) {
        const auto st = FirstDevice();
        if (!st || (plugged && !st->plugged)) {
            return std::nullopt;
        }
        return st->cdLetter;
    }

    // A path on device 0's CD letter: the native file in the "cd" folder, empty when the drive
    // is not there; nullopt for any other path.
    std::optional<std::u16string> CdFile(std::u16string_view path) {
        const auto onDrive = sim::ParseDrivePath(path);
        if (!onDrive) {
            return std::nullopt;
        }
        const auto st = FirstDevice();
        if (!st || onDrive->letter != static_cast<char16_t>(st->cdLetter)) {
            return std::nullopt;
        }
        if (!st->plugged) {
            return std::u16string();
        }
        return sim::FileInFolder(sim::CdFolder(dir_), onDrive->parts).u16string();
    }

    // "E:\NAME" for a program whose file lies in the machine's "cd" folder.
    std::optional<std::u16string> CdModuleName(const std::u16string& real) {
        const auto letter = CdLetter(false);
        if (!letter) {
            return std::nullopt;
        }
        return sim::DrivePathOf(sim::CdFolder(dir_), *letter, real);
    }

    sim::Registry MachineRegistry() {
        Refresh();
        return sim::Registry(machine_, States());
    }

    // Picks up what other processes changed in the machine directory: the machine's settings
    // (the last good ones stay when the file cannot be read) and devices created since.
    void Refresh() {
        machine_ = sim::LoadMachine(dir_).value_or(machine_);
        for (unsigned n : sim::DeviceNumbers(dir_)) {
            if (std::find(numbers_.begin(), numbers_.end(), n) == numbers_.end()) {
                numbers_.push_back(n);
                devices_.push_back(std::make_unique<Bridge>(sim::DeviceDirectory(dir_, n)));
            }
        }
    }

    // The machine's own drives, then each device's units; a device's letter wins a clash.
    std::map<char, Letter> Letters() {
        Refresh();
        std::map<char, Letter> letters;
        for (const auto& d : machine_.drives) {
            letters[d.letter] = Letter{d.type, std::nullopt, Unit::kCd};
        }
        const auto states = States();
        for (std::size_t i = 0; i < states.size(); ++i) {
            const auto& st = states[i];
            if (!st || !st->plugged) {
                continue;
            }
            letters[st->cdLetter] = Letter{kDriveCdRom, i, Unit::kCd};
            if (sim::SecureLetterShown(*st)) {
                letters[st->secLetter] =
                    Letter{st->media == sim::Media::kFlash ? kDriveRemovable : kDriveFixed, i,
                           Unit::kSecure};
            }
        }
        return letters;
    }

    OpenResult OpenVolume(char letter, std::uint32_t access) {
        const auto letters = Letters();
        const auto it = letters.find(letter);
        if (it == letters.end()) {
            return {kInvalidHandle, kErrorFileNotFound};
        }
        if (it->second.type == kDriveRemote) {
            return {kInvalidHandle, kErrorNotSupported};
        }
        if (!machine_.admin && access != 0) {
            return {kInvalidHandle, kErrorAccessDenied};
        }
        Entry e{Kind::kVolume};
        e.device = it->second.device;
        e.unit = it->second.unit;
        e.letter = letter;
        e.type = it->second.type;
        return Opened(e);
    }

    OpenResult OpenDisk(unsigned number, std::uint32_t access) {
        Refresh();
        Entry e{Kind::kDisk};
        e.unit = Unit::kSecure;
        e.type = kDriveFixed;
        if (number > 0) {
            const std::size_t device = number - 1;
            if (device >= devices_.size()) {
                return {kInvalidHandle, kErrorFileNotFound};
            }
            const auto st = State(device);
            if (!st || !st->plugged) {
                return {kInvalidHandle, kErrorFileNotFound};
            }
            e.device = device;
        }
        if (!machine_.admin && access != 0) {
            return {kInvalidHandle, kErrorAccessDenied};
        }
        return Opened(e);
    }

    bool LockedElsewhere(const Entry& self) const {
        return std::any_of(handles_.begin(), handles_.end(), [&self](const auto& kv) {
            const Entry& other = kv.second;
            return &other != &self && other.kind == Kind::kVolume && other.locked &&
                   other.device == self.device && other.unit == self.unit;
        });
    }

    // The partition table in sector 0 of a unit.
    std::optional<std::vector<PartitionInfo>> Layout(std::size_t device, Unit unit) {
        std::vector<std::uint8_t> sector(kSectorSize);
        if (!devices_[device]->ReadUnitSectors(unit, 0, sector)) {
            return std::nullopt;
        }
        return ParsePartitionTable(sector);
    }

    // A hub name fault of any device (the names belong to the machine's hubs).
    std::optional<std::uint32_t> HubNameFault() {
        for (auto& d : devices_) {
            if (const auto fault = d->TakeHostFault(sim::FaultKind::kHubNameLength)) {
                return fault->value;
            }
        }
        return std::nullopt;
    }

    std::optional<std::size_t> ConnectionInformation(
        const sim::UsbTree& tree, const std::vector<std::optional<BridgeState>>& states,
        unsigned hubDepth, std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
        const auto port = sim::RequestedPort(in);
        if (!port) {
            return std::nullopt;
        }
        return sim::WriteConnectionInformation(out,
                                               sim::ConnectionOf(tree, hubDepth, *port, states));
    }

    std::optional<std::size_t> DescriptorFromConnection(const sim::UsbTree& tree, unsigned hubDepth,
                                                        std::span<const std::uint8_t> in,
                                                        std::span<std::uint8_t> out) {
        const auto request = sim::ParseDescriptorRequest(in);
        const auto port = sim::RequestedPort(in);
        if (!request || !port) {
            return std::nullopt;
        }
        // The request header is read before the answer may overwrite it (in and out may share
        // memory).
        std::array<std::uint8_t, sim::kDescriptorRequestHeader> header{};
        std::copy_n(in.begin(), header.size(), header.begin());
        const sim::UsbPortNode node = tree.At(hubDepth, *port);
        const auto data =
            node.kind == sim::UsbNodeKind::kDevice
                ? devices_[node.device]->ControlIn(request->value, request->index, request->length)
                : sim::OwnDescriptor(node.kind, request->value);
        if (!data) {
            return std::nullopt;  // the device stalled the request
        }
        return sim::WriteDescriptorAnswer(out, header, *data);
    }

    Host& platform_;
    std::filesystem::path dir_;
    sim::MachineConfig machine_;
    std::vector<unsigned> numbers_;  // device number of each entry of devices_
    std::vector<std::unique_ptr<Bridge>> devices_;
    std::map<HostHandle, Entry> handles_;
    HostHandle next_ = 0x5100;
};

}  // namespace

std::unique_ptr<Host> MakeSimHost(Host& platform, const std::string& machineDir) {
    return std::make_unique<SimHost>(platform, machineDir);
}

}  // namespace kvx
