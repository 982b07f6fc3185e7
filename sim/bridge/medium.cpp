#include "sim/bridge/medium.h"

#include <algorithm>

#include "sim/bridge/bridge_state.h"
#include "sim/bridge/os_file.h"

namespace kvx::sim {
namespace {

bool IsZero(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace

bool ReadSectors(const std::filesystem::path& image, std::uint64_t lba,
                 std::span<std::uint8_t> out) {
    auto file = OsFile::Open(image, false);
    if (!file) {
        return false;
    }
    const auto got = file->ReadAt(lba * kSectorSize, out);
    if (!got) {
        return false;
    }
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(*got), out.end(), std::uint8_t{0});
    return true;
}

bool WriteSectors(const std::filesystem::path& image, std::uint64_t lba,
                  std::span<const std::uint8_t> in) {
    auto file = OsFile::Open(image, false);
    if (!file) {
        return false;
    }
    const std::size_t sectors = in.size() / kSectorSize;
    std::size_t i = 0;
    while (i < sectors) {
        const bool zero = IsZero(in.subspan(i * kSectorSize, kSectorSize));
        std::size_t j = i + 1;
        while (j < sectors && IsZero(in.subspan(j * kSectorSize, kSectorSize)) == zero) {
            ++j;
        }
        const std::uint64_t offset = (lba + i) * kSectorSize;
        const auto run = in.subspan(i * kSectorSize, (j - i) * kSectorSize);
        if (!(zero ? file->ZeroRange(offset, run.size()) : file->WriteAt(offset, run))) {
            return false;
        }
        i = j;
    }
    return true;
}

}  // namespace kvx::sim
