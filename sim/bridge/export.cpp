#include "sim/bridge/export.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "sim/bridge/aes_engine.h"
#include "sim/bridge/block_region.h"
#include "sim/bridge/medium.h"

namespace kvx::sim {
namespace {

constexpr std::uint64_t kChunkSectors = 2048;  // 1 MiB a read
constexpr std::size_t kEntry = 446;

std::uint32_t Le32(const std::uint8_t* b) {
    return std::uint32_t{b[0]} | (std::uint32_t{b[1]} << 8) | (std::uint32_t{b[2]} << 16) |
           (std::uint32_t{b[3]} << 24);
}

// Copies medium sectors [start, start + count), deciphered, into a sparse file.
std::optional<std::string> CopyOut(const BridgeState& state, const DevicePaths& paths,
                                   std::uint64_t start, std::uint64_t count,
                                   const std::filesystem::path& out) {
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    if (!file) {
        return "cannot write " + out.string();
    }
    std::vector<std::uint8_t> chunk;
    for (std::uint64_t at = 0; at < count; at += kChunkSectors) {
        const std::uint64_t n = std::min(kChunkSectors, count - at);
        chunk.assign(n * kSectorSize, 0);
        if (!ReadSectors(paths.medium, start + at, chunk)) {
            return "cannot read the medium image";
        }
        EngineDecipher(state, start + at, chunk);
        if (std::any_of(chunk.begin(), chunk.end(), [](std::uint8_t b) { return b != 0; })) {
            file.seekp(static_cast<std::streamoff>(at * kSectorSize));
            file.write(reinterpret_cast<const char*>(chunk.data()),
                       static_cast<std::streamsize>(chunk.size()));
        }
    }
    file.close();
    if (!file) {
        return "cannot write " + out.string();
    }
    std::error_code ec;
    std::filesystem::resize_file(out, count * kSectorSize, ec);
    if (ec) {
        return "cannot size " + out.string();
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::uint64_t> SecurePartitionStart(const BridgeState& state,
                                                  const DevicePaths& paths) {
    const auto region = LoadBlockRegion(state, paths);
    if (!region || !region->index) {
        return std::nullopt;
    }
    const bool shifted = state.media == Media::kHdd && state.chip != "8A1C" && state.chip != "8a1c";
    return std::uint64_t{BlockBe32(region->Block(), datablock::kFirstStart)} + (shifted ? 16 : 0);
}

std::optional<std::string> ExportSecurePartition(const DevicePaths& paths,
                                                 const std::filesystem::path& out) {
    std::string error;
    const auto state = LoadDeviceState(paths, &error);
    if (!state) {
        return error;
    }
    const auto start = SecurePartitionStart(*state, paths);
    if (!start) {
        return "the device has no data block";
    }
    const std::uint64_t areaEnd = state->secStart + state->secSectors;
    if (*start >= areaEnd) {
        return "the data block's partition lies outside the secure area";
    }
    std::vector<std::uint8_t> table(kSectorSize);
    if (!ReadSectors(paths.medium, *start, table)) {
        return "cannot read the medium image";
    }
    EngineDecipher(*state, *start, table);
    std::uint64_t end = areaEnd;
    const std::uint8_t* entry = table.data() + kEntry;
    if (table[510] == 0x55 && table[511] == 0xAA && entry[4] != 0) {
        end = std::min(areaEnd, *start + Le32(entry + 8) + Le32(entry + 12));
    }
    return CopyOut(*state, paths, *start, end - *start, out);
}

std::optional<std::string> ExportCdArea(const DevicePaths& paths,
                                        const std::filesystem::path& out) {
    std::string error;
    const auto state = LoadDeviceState(paths, &error);
    if (!state) {
        return error;
    }
    std::uint64_t sectors = state->cdSectors;
    if (const auto region = LoadBlockRegion(*state, paths); region && region->index) {
        sectors = std::uint64_t{BlockBe32(region->Block(), datablock::kCdSectors)} *
                  (kCdBlockSize / kSectorSize);
    }
    return CopyOut(*state, paths, state->cdStart, sectors, out);
}

std::optional<std::string> LoadCdImage(const DevicePaths& paths,
                                       const std::filesystem::path& image) {
    std::ifstream in(image, std::ios::binary);
    if (!in) {
        return "cannot read " + image.string();
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    const std::uint64_t mb =
        (bytes.size() + kSectorsPerMb * kSectorSize - 1) / (kSectorsPerMb * kSectorSize);
    bytes.resize((bytes.size() + kSectorSize - 1) / kSectorSize * kSectorSize, 0);
    std::string error;
    auto session = DeviceSession::Begin(paths, &error);
    if (!session) {
        return error;
    }
    BridgeState& st = session->state();
    if (st.cdStart + mb * kSectorsPerMb > st.secStart) {
        return "the image does not fit the CD area";
    }
    if (!bytes.empty() && !WriteSectors(paths.medium, st.cdStart, bytes)) {
        return "cannot write the medium image";
    }
    st.cdSectors = mb * kSectorsPerMb;
    if (!session->Save()) {
        return "cannot write the device state";
    }
    return std::nullopt;
}

}  // namespace kvx::sim
