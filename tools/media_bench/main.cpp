// Benchmark of the media writers on the emulated device: a 2 TB hard disk formatted, then its CD
// partition updated with a 700 MB image. Prints wall time, sectors moved, the time of dd and cmp
// moving the same bytes on this machine, the ratio, and the peak memory of this process.
//   kvx_media_bench [WORKDIR] [--image-mb N]   (works in WORKDIR/kvx-media-bench)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "frame/device_state.h"
#include "frame/qda.h"
#include "host/forwarding_host.h"
#include "host/host.h"
#include "sim/host/sim_host.h"
#include "host/text.h"
#include "sim/bridge/provision.h"
#include "sim/machine.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

long PeakKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The sim host with this program posing as the login program beside its configuration file.
class BenchHost : public kvx::ForwardingHost {
  public:
    BenchHost(kvx::Host& inner, std::u16string program)
        : ForwardingHost(inner), program_(std::move(program)) {}
    std::u16string ModuleFileName() override { return program_; }

  private:
    std::u16string program_;
};

double Shell(const std::string& line) {
    const auto start = Clock::now();
    if (std::system(line.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", line.c_str());
    }
    return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    fs::path parent = fs::temp_directory_path();
    std::uint64_t imageMb = 700;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--image-mb" && i + 1 < argc) {
            imageMb = std::strtoull(argv[++i], nullptr, 10);
        } else {
            parent = a;
        }
    }
    // Its own folder inside the one given: only that is removed, before and after.
    const fs::path work = parent / "kvx-media-bench";
    fs::remove_all(work);
    fs::create_directories(work / "prog");
    const fs::path machine = work / "machine";

    // A 2 TB hard disk without the engine (zero sectors stay holes), the CD area with room for
    // the image.
    const std::uint64_t total = 2ull * 1024 * 1024 * 1024 * 2 - 2048;  // just under 2 TiB
    kvx::sim::BridgeState s = kvx::sim::DefaultState(kvx::sim::Media::kHdd, total);
    s.cdSectors = 16 * 2048;
    s.secStart = s.cdStart + (imageMb + 32) * 2048;
    s.secSectors = (total - s.secStart - 4096) / 2048 * 2048;
    std::string error;
    if (!kvx::sim::SaveMachine(machine, kvx::sim::MachineConfig{}, &error) ||
        !kvx::sim::CreateDevice(machine, s, 0, &error)) {
        std::fprintf(stderr, "cannot create the device: %s\n", error.c_str());
        return 1;
    }
    if (const auto refused = kvx::sim::Provision(machine, 0, u"Bench-Pw1", u"")) {
        std::fprintf(stderr, "cannot provision: %s\n", refused->c_str());
        return 1;
    }
    {
        std::ofstream ini(work / "prog" / "BENCHKVX.INI", std::ios::binary);
        char ids[64];
        std::snprintf(ids, sizeof ids, "VID0=%04X\r\nPID0=%04X\r\n", s.vid, s.pid);
        ini << "[VENDOR]\r\nVENDORSTR0=" << s.vendor << "\r\nPRODUCTSTR0=" << s.product
            << "\r\nSECVENDORSTR0=" << s.secVendor << "\r\nSECPRODUCTSTR0=" << s.secProduct
            << "\r\n"
            << ids << "Secure Volume Label=BENCH\r\n";
    }
    // The new image: pseudo-random bytes, written in pieces.
    const fs::path image = work / "new.iso";
    {
        std::ofstream out(image, std::ios::binary);
        std::mt19937_64 gen(7);
        std::vector<std::uint64_t> chunk(1 << 17);
        for (std::uint64_t mb = 0; mb < imageMb; ++mb) {
            for (auto& w : chunk) {
                w = gen();
            }
            out.write(reinterpret_cast<const char*>(chunk.data()), 1 << 20);
        }
    }

    const auto platform = &kvx::PlatformHost();
    const auto sim = kvx::MakeSimHost(*platform, machine.string());
    BenchHost host(*sim, kvx::FromUtf8((work / "prog" / "BENCHLCK.EXE").string()));
    kvx::ScopedHostOverride active(host);

    QdaRequest request{};
    request.driveLetter = static_cast<std::uint8_t>(s.cdLetter);
    request.passwordSupported = 1;
    request.secureSizeMb = static_cast<std::uint32_t>(s.secSectors / 2048);
    request.changeOp = 3;
    const auto formatStart = Clock::now();
    const int formatted = QDAFormatHDD(&request);
    const double formatSeconds = Seconds(formatStart);
    // FAT32 at 64 sectors a cluster: the boot region, the FATs and the data area's first FAT's
    // worth, about 3 x N / 8192 sectors.
    const std::uint64_t formatSectors = 3 * (std::uint64_t{request.secureSizeMb} * 2048 / 8192);
    std::printf("format: result %d (error %d), %.2f s, about %llu sectors written (%llu MB)\n",
                formatted, request.errorCode, formatSeconds,
                static_cast<unsigned long long>(formatSectors),
                static_cast<unsigned long long>(formatSectors / 2048));

    QdaImageRequest images{};
    kvx::WriteFixedUtf16((work / "backup.iso").u16string(), images.backupPath,
                         std::extent_v<decltype(images.backupPath)>);
    kvx::WriteFixedUtf16(image.u16string(), images.imagePath,
                         std::extent_v<decltype(images.imagePath)>);
    QdaRequest cd{};
    cd.driveLetter = static_cast<std::uint8_t>(s.cdLetter);
    const auto updateStart = Clock::now();
    const int updated = QDAUpdateCDPart(&cd, &images);
    const double updateSeconds = Seconds(updateStart);
    // Saved, checked and put back: the old CD area three times; the image written and read back.
    const std::uint64_t oldSectors = s.cdSectors;
    const std::uint64_t imageSectors = imageMb * 2048;
    const std::uint64_t moved = 3 * oldSectors + 2 * imageSectors;
    std::printf("cd update: result %d (error %d), %.2f s, %llu sectors moved (%llu MB)\n", updated,
                cd.errorCode, updateSeconds, static_cast<unsigned long long>(moved),
                static_cast<unsigned long long>(moved / 2048));

    // The same bytes with dd and cmp: the image into a file at the CD area's place and back.
    const fs::path target = work / "dd-target.img";
    const std::string img = image.string();
    const std::string tgt = target.string();
    const double ddSeconds =
        Shell("dd if='" + img + "' of='" + tgt + "' bs=64K conv=notrunc,fsync status=none") +
        Shell("cmp '" + img + "' '" + tgt + "'");
    const double ddFormat =
        Shell("dd if=/dev/zero of='" + (work / "dd-format.img").string() +
              "' bs=64K count=" + std::to_string(formatSectors / 128) + " conv=fsync status=none");
    std::printf("dd+cmp of the image: %.2f s; CD update / dd+cmp = %.2f\n", ddSeconds,
                updateSeconds / ddSeconds);
    std::printf("dd of the format's bytes: %.2f s; format / dd = %.2f\n", ddFormat,
                formatSeconds / ddFormat);
    std::printf("peak memory: %ld KB\n", PeakKb());
    fs::remove_all(work);
    return formatted == 1 && updated == 1 ? 0 : 1;
}
