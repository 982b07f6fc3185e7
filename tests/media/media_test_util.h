// Shared pieces of the media writer tests: devices laid out for a secure partition of a given
// size, sector reads through the library's direct access, the exported plaintext, and the
// outside tools (fsck.fat, mtools, sfdisk, xorriso) that judge it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "frame/qda.h"
#include "sim/bridge/export.h"
#include "support/device_fixture.h"
#include "support/outside_tools.h"

namespace kvx::test {

// A device whose CD area is `cdSectors` (from sector 16), then a secure partition of
// `secureMb`, then `tailSectors` sectors for the block region and hidden-area space.
inline DeviceSpec SecureLayout(sim::Media media, std::uint32_t secureMb, bool aesEngine,
                               std::uint64_t cdSectors = 2048, std::uint64_t tailSectors = 4096) {
    DeviceSpec spec;
    spec.media = media;
    spec.aesEngine = aesEngine;
    const std::uint64_t secStart = 16 + cdSectors;
    const std::uint64_t total = secStart + std::uint64_t{secureMb} * 2048 + tailSectors;
    spec.sizeMb = (total + 2047) / 2048;
    spec.change = [=](sim::BridgeState& s) {
        s.sectors = total;
        s.cdStart = 16;
        s.cdSectors = cdSectors;
        s.secStart = secStart;
        s.secSectors = std::uint64_t{secureMb} * 2048;
    };
    spec.vendorLines = {"Secure Volume Label=KVX Secure", "Public Volume Label=KVXPUBLIC"};
    return spec;
}

// The device behind a hub, for a user who may not open drives, with a configuration that lets
// the library fall back to the hub side channel.
inline DeviceSpec BehindHub(DeviceSpec spec) {
    const auto inner = spec.change;
    spec.change = [inner](sim::BridgeState& s) {
        if (inner) {
            inner(s);
        }
        s.usbHubDepth = 1;
    };
    spec.vendorLines.push_back("NONADMIN=YES");
    return spec;
}

// Takes the administrator rights away and lets QDACheckCD switch the library to hub mode.
inline void EnterHubMode(DeviceFixture& fx) {
    fx.machine().SetMachine([](sim::MachineConfig& m) { m.admin = false; });
    QdaRequest request = fx.Request();
    ASSERT_EQ(QDACheckCD(&request), 1);
    ASSERT_EQ(request.errorCode, '1');
}

// Sectors read through QDARdWrDirect.
inline std::vector<std::uint8_t> ReadDirect(const DeviceFixture& fx, std::uint32_t lba,
                                            std::uint16_t count) {
    QdaRequest request = fx.Request();
    request.startSector = lba;
    request.sectorCount = count;
    std::vector<std::uint8_t> data(std::size_t{count} * 512);
    EXPECT_EQ(QDARdWrDirect(&request, data.data()), 1) << "error " << int(request.errorCode);
    return data;
}

// Formats with the record's size set to `secureMb`; the export's result.
inline int Format(DeviceFixture& fx, std::uint32_t secureMb, std::uint8_t changeOp = 3,
                  QdaRequest* used = nullptr) {
    QdaRequest request = fx.Request();
    request.passwordSupported = 1;
    request.secureSizeMb = secureMb;
    request.changeOp = changeOp;
    const int result = QDAFormatHDD(&request);
    if (used != nullptr) {
        *used = request;
    }
    return result;
}

// Where the library puts the partition's first sector on this device.
inline std::uint64_t PartitionBase(const DeviceFixture& fx) {
    const auto base = sim::SecurePartitionStart(fx.State(), fx.Paths());
    if (!base) {
        ADD_FAILURE() << "no data block";
        return 0;
    }
    return *base;
}

inline std::uint32_t Le32At(const std::vector<std::uint8_t>& s, std::size_t at) {
    return std::uint32_t{s[at]} | std::uint32_t{s[at + 1]} << 8 | std::uint32_t{s[at + 2]} << 16 |
           std::uint32_t{s[at + 3]} << 24;
}

inline std::uint16_t Le16At(const std::vector<std::uint8_t>& s, std::size_t at) {
    return static_cast<std::uint16_t>(s[at] | s[at + 1] << 8);
}

// The partition alone (from its boot sector on) of an exported secure partition.
inline std::filesystem::path PartitionFile(const std::filesystem::path& exported,
                                           const std::filesystem::path& out) {
    std::ifstream in(exported, std::ios::binary);
    std::vector<std::uint8_t> mbr(512);
    in.read(reinterpret_cast<char*>(mbr.data()), 512);
    const std::uint64_t start = Le32At(mbr, 446 + 8);
    const std::uint64_t count = Le32At(mbr, 446 + 12);
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    in.seekg(static_cast<std::streamoff>(start * 512));
    std::vector<char> chunk(1 << 20);
    std::uint64_t left = count * 512;
    while (left > 0 && in) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
        in.read(chunk.data(), static_cast<std::streamsize>(n));
        file.write(chunk.data(), in.gcount());
        left -= static_cast<std::uint64_t>(in.gcount());
    }
    return out;
}

// Whether `bytes` occur in a (small) file.
inline bool FileContains(const std::filesystem::path& file,
                         const std::vector<std::uint8_t>& bytes) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::uint8_t> chunk(1 << 20);
    std::vector<std::uint8_t> window;  // the tail of the last chunk, for matches across chunks
    while (in) {
        in.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        window.insert(window.end(), chunk.begin(),
                      chunk.begin() + static_cast<std::ptrdiff_t>(got));
        if (std::search(window.begin(), window.end(), bytes.begin(), bytes.end()) != window.end()) {
            return true;
        }
        const std::size_t keep = std::min(window.size(), bytes.size());
        window.erase(window.begin(), window.end() - static_cast<std::ptrdiff_t>(keep));
    }
    return false;
}

}  // namespace kvx::test
