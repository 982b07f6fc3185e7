// The Linux host's volume and disk calls on the real kernel: a loop device with an ext4 file
// system stands in for the secure unit (the fixture tree points the unit's node at it).
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "host/linux/linux_host.h"
#include "host/linux/mountinfo.h"
#include "support/sim_machine.h"
#include "tests/host/linux/sysfs_fixture.h"

namespace kvx::test {
namespace {

constexpr std::uint64_t kImageBytes = 16u << 20;
constexpr char kLosetup[] = "/usr/sbin/losetup";
constexpr char kMkfs[] = "/usr/sbin/mkfs.ext4";
constexpr char kMount[] = "/usr/bin/mount";
constexpr char kUmount[] = "/usr/bin/umount";

bool Mounted(dev_t device) {
    const auto mounts = linux_host::CurrentMounts();
    return std::any_of(mounts.begin(), mounts.end(),
                       [device](const linux_host::Mount& m) { return m.device == device; });
}

class LinuxLoopDevice : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "loop devices need root";
        }
        for (const char* tool : {kLosetup, kMkfs, kMount, kUmount}) {
            if (!std::filesystem::exists(tool)) {
                GTEST_SKIP() << tool << " is not installed";
            }
        }
        const auto image = scratch.path() / "unit.img";
        std::filesystem::resize_file(
            [&] {
                std::ofstream(image).put('\0');
                return image;
            }(),
            kImageBytes);
        std::string out;
        if (RunProgram(kLosetup, {"--find", "--show", "--partscan", image.string()}, &out) != 0) {
            GTEST_SKIP() << "no loop device available: " << out;
        }
        loop = out.substr(0, out.find('\n'));
        if (RunProgram(kMkfs, {"-q", "-F", loop}, &out) != 0) {
            GTEST_SKIP() << "mkfs.ext4 failed: " << out;
        }
        struct stat info {};
        ASSERT_EQ(::stat(loop.c_str(), &info), 0);
        device = info.st_rdev;
        mountPoint = scratch.path() / "mnt";
        std::filesystem::create_directory(mountPoint);
        tree.Add({.name = "sdx",
                  .usbDevice = "2-1",
                  .lun = 1,
                  .vid = "1234",
                  .pid = "5678",
                  .serial = "LOOP0001",
                  .vendor = "KVX",
                  .model = "LOOP",
                  .sectors = kImageBytes / 512,
                  .dev = std::to_string(major(device)) + ":" + std::to_string(minor(device)),
                  .node = loop});
        host = linux_host::MakeLinuxHost(PlatformHost(), tree.roots(), linux_host::KernelSgIo());
    }
    void TearDown() override {
        if (!loop.empty()) {
            RunProgram(kUmount, {mountPoint.string()});
            RunProgram(kLosetup, {"-d", loop});
        }
    }
    void Mount() {
        std::string out;
        ASSERT_EQ(RunProgram(kMount, {loop, mountPoint.string()}, &out), 0) << out;
        ASSERT_TRUE(Mounted(device));
    }

    ScratchDir scratch;
    SysfsFixture tree;
    std::string loop;
    dev_t device = 0;
    std::filesystem::path mountPoint;
    std::unique_ptr<Host> host;
};

TEST_F(LinuxLoopDevice, LockFailsWhileMountedDismountFreesItAndTheLockHolds) {
    Mount();
    const OpenResult unit = host->Open(u"\\\\.\\C:", kAccessRead | kAccessWrite, kShareRead);
    ASSERT_NE(unit.handle, kInvalidHandle) << unit.osError;
    EXPECT_FALSE(host->ControlVolume(unit.handle, VolumeOp::kLock));  // EBUSY while mounted
    EXPECT_TRUE(host->ControlVolume(unit.handle, VolumeOp::kDismount));
    EXPECT_FALSE(Mounted(device));
    EXPECT_TRUE(host->ControlVolume(unit.handle, VolumeOp::kLock));
    EXPECT_FALSE(host->ControlVolume(unit.handle, VolumeOp::kLock));  // already held
    // While the lock holds, nobody can mount the unit.
    std::string out;
    EXPECT_NE(RunProgram(kMount, {loop, mountPoint.string()}, &out), 0);
    EXPECT_TRUE(host->ControlVolume(unit.handle, VolumeOp::kUnlock));
    EXPECT_FALSE(host->ControlVolume(unit.handle, VolumeOp::kUnlock));
    host->Close(unit.handle);
}

TEST_F(LinuxLoopDevice, ABusyFileSystemIsNotDismounted) {
    Mount();
    const OpenResult unit = host->Open(u"\\\\.\\C:", kAccessRead | kAccessWrite, kShareRead);
    ASSERT_NE(unit.handle, kInvalidHandle);
    const int busy = ::open((mountPoint / "held").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    ASSERT_GE(busy, 0);
    EXPECT_FALSE(host->ControlVolume(unit.handle, VolumeOp::kDismount));
    EXPECT_TRUE(Mounted(device));
    ::close(busy);
    EXPECT_TRUE(host->ControlVolume(unit.handle, VolumeOp::kDismount));
    EXPECT_FALSE(Mounted(device));
    host->Close(unit.handle);
}

TEST_F(LinuxLoopDevice, SizeAndRereadOfTheDisk) {
    const OpenResult disk =
        host->Open(u"\\\\.\\PhysicalDrive0", kAccessRead | kAccessWrite, kShareRead);
    ASSERT_NE(disk.handle, kInvalidHandle) << disk.osError;
    const auto info = host->GetPartitionInfo(disk.handle);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->length, kImageBytes);  // BLKGETSIZE64
    EXPECT_EQ(info->startingOffset, 0u);
    EXPECT_TRUE(host->UpdateDiskProperties(disk.handle));  // BLKRRPART
    const auto layout = host->GetDriveLayout(disk.handle);
    ASSERT_TRUE(layout);  // ext4 on the whole unit: no table
    EXPECT_TRUE(std::all_of(layout->begin(), layout->end(),
                            [](const PartitionInfo& p) { return p.partitionType == 0; }));
    host->Close(disk.handle);
}

}  // namespace
}  // namespace kvx::test
