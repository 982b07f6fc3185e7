// The POSIX services without the emulator: real files, profile strings, clock and shared blocks,
// and no device (the Linux host adds those). Windows-form names are mapped to native paths: '\'
// counts as '/', and device names ("\\.\X:", "\\.\PhysicalDrive0", "\\.\HCD0") are never found.
//
// Shared blocks are POSIX shared-memory objects "/kvx-<name>" of 4 bytes. Each holder keeps a
// shared flock on its descriptor of the object, so a block exists exactly while some process
// holds such a lock; the kernel drops the lock when a holder dies, so a crashed process leaves
// no block behind (its object is reset by the next creator). Opening, closing and the existence
// test run under an exclusive flock on one guard file, which makes "am I the first holder?"
// and the creator's lock downgrade atomic with respect to other processes.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "host/codepage.h"
#include "host/host.h"
#include "host/posix/full_io.h"
#include "host/posix/posix_host.h"
#include "host/profile_ini.h"
#include "host/progress_sink.h"
#include "host/text.h"

namespace kvx {
namespace {

// Native path of a Windows-form name; nullopt for device names.
std::optional<std::string> NativePath(std::u16string_view name) {
    std::string path = ToUtf8(name);
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    if (path.starts_with("//./") || path.starts_with("//?/")) {
        return std::nullopt;
    }
    return path;
}

std::uint32_t ErrorFromErrno(int error, const std::string& path) {
    switch (error) {
        case ENOENT: {
            // Windows tells a missing folder apart from a missing file.
            const std::filesystem::path parent = std::filesystem::path(path).parent_path();
            std::error_code ec;
            if (!parent.empty() && !std::filesystem::is_directory(parent, ec)) {
                return kErrorPathNotFound;
            }
            return kErrorFileNotFound;
        }
        case ENOTDIR:
            return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
            return kErrorAccessDenied;
        case EEXIST:
            return kErrorAlreadyExists;
        case EWOULDBLOCK:
            return kErrorSharingViolation;
        case EINVAL:
        case ENAMETOOLONG:
            return kErrorInvalidParameter;
        default:
            return kErrorIoDevice;
    }
}

// Shared-memory object name: letters, digits, '-' and '.' kept, anything else escaped as _XXXX so
// that distinct block names never meet.
std::string SharedObjectName(std::u16string_view name) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "/kvx-";
    for (const char16_t c : name) {
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
            c == u'-' || c == u'.') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('_');
            for (int shift = 12; shift >= 0; shift -= 4) {
                out.push_back(kHex[(c >> shift) & 0xF]);
            }
        }
    }
    return out;
}

std::string GuardPath() {
    std::error_code ec;
    const char* dir = std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/kvx-shared-blocks.guard";
}

// Holds the exclusive guard lock for its lifetime; ok() is false when it could not be taken.
class GuardLock {
  public:
    GuardLock() : fd_(::open(GuardPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~GuardLock() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    GuardLock(const GuardLock&) = delete;
    GuardLock& operator=(const GuardLock&) = delete;
    bool ok() const { return fd_ >= 0; }

  private:
    int fd_;
};

struct Block {
    void* mapping = nullptr;
    std::string objectName;
};

class PosixHost final : public Host {
  public:
    ~PosixHost() override {
        for (const int fd : files_) {
            ::close(fd);
        }
        for (auto& [fd, block] : blocks_) {
            ReleaseBlock(static_cast<int>(fd), block);
        }
    }

    OpenResult Open(std::u16string_view name, std::uint32_t access, std::uint32_t share,
                    Disposition disposition) override {
        const std::optional<std::string> path = NativePath(name);
        if (!path) {
            return {kInvalidHandle, kErrorFileNotFound};
        }
        if (path->empty() || (access & (kAccessRead | kAccessWrite)) == 0) {
            return {kInvalidHandle, kErrorInvalidParameter};
        }
        int flags = O_CLOEXEC;
        if ((access & kAccessRead) != 0 && (access & kAccessWrite) != 0) {
            flags |= O_RDWR;
        } else {
            flags |= (access & kAccessWrite) != 0 ? O_WRONLY : O_RDONLY;
        }
        if (disposition == Disposition::kCreateAlways) {
            flags |= O_CREAT;
        }
        const int fd = ::open(path->c_str(), flags, 0666);
        if (fd < 0) {
            return {kInvalidHandle, ErrorFromErrno(errno, *path)};
        }
        struct stat info {};
        if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
            ::close(fd);
            return {kInvalidHandle, kErrorAccessDenied};
        }
        // Sharing, roughly: an exclusive open excludes every other open and vice versa.
        if (::flock(fd, (share == kShareNone ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
            ::close(fd);
            return {kInvalidHandle, kErrorSharingViolation};
        }
        // Truncate only once the sharing check passed, as CREATE_ALWAYS does.
        if (disposition == Disposition::kCreateAlways && ::ftruncate(fd, 0) != 0) {
            const int error = errno;
            ::close(fd);
            return {kInvalidHandle, ErrorFromErrno(error, *path)};
        }
        std::lock_guard lock(mutex_);
        files_.insert(fd);
        return {fd, kErrorNone};
    }

    void Close(HostHandle handle) override {
        std::lock_guard lock(mutex_);
        if (files_.erase(handle) != 0) {
            ::close(static_cast<int>(handle));
            return;
        }
        if (const auto it = blocks_.find(handle); it != blocks_.end()) {
            GuardLock guard;
            ReleaseBlock(static_cast<int>(handle), it->second);
            blocks_.erase(it);
        }
    }

    std::optional<std::size_t> ReadAt(HostHandle file, std::uint64_t offset,
                                      std::span<std::uint8_t> data) override {
        if (!IsFile(file)) {
            return std::nullopt;
        }
        return ReadFullAt(static_cast<int>(file), offset, data);
    }

    bool WriteAt(HostHandle file, std::uint64_t offset,
                 std::span<const std::uint8_t> data) override {
        return IsFile(file) && WriteFullAt(static_cast<int>(file), offset, data);
    }

    std::optional<std::uint64_t> FileSize(HostHandle file) override {
        struct stat info {};
        if (!IsFile(file) || ::fstat(static_cast<int>(file), &info) != 0) {
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(info.st_size);
    }

    bool FileExists(std::u16string_view path) override {
        const std::optional<std::string> native = NativePath(path);
        struct stat info {};
        return native && !native->empty() && ::stat(native->c_str(), &info) == 0 &&
               S_ISREG(info.st_mode);
    }

    ScsiOutcome ScsiPassThrough(HostHandle, const ScsiCommand&) override {
        ScsiOutcome outcome;
        outcome.sent = false;
        outcome.osError = kErrorInvalidHandle;
        return outcome;
    }
    std::optional<StorageBus> QueryBusType(HostHandle) override { return std::nullopt; }
    bool ControlVolume(HostHandle, VolumeOp) override { return false; }
    std::optional<PartitionInfo> GetPartitionInfo(HostHandle) override { return std::nullopt; }
    std::optional<std::vector<PartitionInfo>> GetDriveLayout(HostHandle) override {
        return std::nullopt;
    }
    bool UpdateDiskProperties(HostHandle) override { return false; }
    std::uint32_t LogicalDriveMask() override { return 0; }
    DriveType GetDriveType(char16_t) override { return kDriveNoRootDir; }

    std::vector<std::u16string> UsbHostControllerPaths() override { return {}; }
    std::optional<std::size_t> UsbHubControl(HostHandle, UsbControl, std::span<const std::uint8_t>,
                                             std::span<std::uint8_t>) override {
        return std::nullopt;
    }

    std::optional<RegistryValue> ReadRegistryValue(std::u16string_view,
                                                   std::u16string_view) override {
        return std::nullopt;
    }
    std::optional<std::vector<std::u16string>> RegistrySubkeys(std::u16string_view) override {
        return std::nullopt;
    }

    OsVersion GetVersion(bool) override { return OsVersion{}; }  // not Windows: ok = false

    std::u16string ModuleFileName() override {
        std::error_code ec;
        const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
        return ec ? std::u16string() : FromUtf8(self.string());
    }

    std::u16string ReadProfileString(std::u16string_view section, std::u16string_view key,
                                     std::u16string_view defaultValue, std::u16string_view path,
                                     std::size_t maxChars) override {
        const std::optional<std::string> native = NativePath(path);
        if (!native) {
            return profile::Read(section, key, defaultValue, std::filesystem::path(), maxChars);
        }
        return profile::Read(section, key, defaultValue, *native, maxChars);
    }

    bool WriteProfileString(std::u16string_view section, std::u16string_view key,
                            std::u16string_view value, std::u16string_view path) override {
        const std::optional<std::string> native = NativePath(path);
        return native && !native->empty() && profile::Write(section, key, value, *native);
    }

    std::string ToAnsi(std::u16string_view text) override { return ToCp1252(text); }
    std::u16string FromAnsi(std::string_view text) override { return FromCp1252(text); }

    std::optional<SharedBlock> OpenOrCreateSharedBlock(std::u16string_view name) override {
        const std::string objectName = SharedObjectName(name);
        std::lock_guard lock(mutex_);
        GuardLock guard;
        if (!guard.ok()) {
            return std::nullopt;
        }
        const int fd = ::shm_open(objectName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            return std::nullopt;
        }
        // No other holder means the block did not exist: (re)initialise it, then hold it shared.
        const bool created = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (created && ::ftruncate(fd, 0) != 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (::ftruncate(fd, sizeof(std::uint32_t)) != 0 || ::flock(fd, LOCK_SH) != 0) {
            ::close(fd);
            return std::nullopt;
        }
        void* mapping =
            ::mmap(nullptr, sizeof(std::uint32_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (mapping == MAP_FAILED) {
            ::close(fd);
            return std::nullopt;
        }
        blocks_[fd] = Block{mapping, objectName};
        return SharedBlock{fd, created};
    }

    bool SharedBlockExists(std::u16string_view name) override {
        GuardLock guard;
        const int fd = ::shm_open(SharedObjectName(name).c_str(), O_RDWR | O_CLOEXEC, 0);
        if (fd < 0) {
            return false;
        }
        const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        ::close(fd);
        return held;
    }

    std::optional<std::uint32_t> ReadSharedBlock(HostHandle block) override {
        std::lock_guard lock(mutex_);
        const auto it = blocks_.find(block);
        if (it == blocks_.end()) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        std::memcpy(&value, it->second.mapping, sizeof value);
        return value;
    }

    bool WriteSharedBlock(HostHandle block, std::uint32_t value) override {
        std::lock_guard lock(mutex_);
        const auto it = blocks_.find(block);
        if (it == blocks_.end()) {
            return false;
        }
        std::memcpy(it->second.mapping, &value, sizeof value);
        return true;
    }

    void Sleep(std::uint32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    std::int64_t Time() override { return static_cast<std::int64_t>(std::time(nullptr)); }
    void SeedRandom(std::uint32_t seed) override { seed_ = seed; }
    int Random() override {
        // The Microsoft C runtime's generator, so that every host draws the same numbers.
        seed_ = seed_ * 214013u + 2531011u;
        return static_cast<int>((seed_ >> 16) & 0x7FFF);
    }
    // No windows here: the handles name the controls of the program's own view.
    void SetControlText(std::uint32_t window, std::u16string_view text) override {
        SinkSetText(window, text);
    }
    void SetProgressPosition(std::uint32_t window, int percent) override {
        SinkSetPosition(window, percent);
    }
    void PumpDialogMessages(std::uint32_t dialog) override { SinkPump(dialog); }

  private:
    bool IsFile(HostHandle handle) {
        std::lock_guard lock(mutex_);
        return files_.count(handle) != 0;
    }

    // Drops this process's hold; the last holder removes the object (callers hold the guard).
    static void ReleaseBlock(int fd, const Block& block) {
        ::munmap(block.mapping, sizeof(std::uint32_t));
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            ::shm_unlink(block.objectName.c_str());
        }
        ::close(fd);
    }

    std::mutex mutex_;
    std::set<HostHandle> files_;
    std::map<HostHandle, Block> blocks_;
    std::uint32_t seed_ = 1;  // the C runtime's seed before srand
};

}  // namespace

std::unique_ptr<Host> MakePosixHost() {
    return std::make_unique<PosixHost>();
}

}  // namespace kvx
