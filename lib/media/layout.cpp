#include "media/layout.h"

#include <algorithm>
#include <cstring>

#include "media/boot_code.h"

namespace kvx::media {
namespace {

constexpr std::size_t kPartitionEntry = 446;
constexpr std::uint8_t kActive = 0x80;
constexpr std::uint8_t kMediaFixed = 0xF8;
constexpr std::uint8_t kExtendedBootSignature = 0x29;
constexpr std::uint8_t kLabelAttribute = 0x08;
constexpr char kElevenSpaces[] = "           ";

void Le16(std::uint8_t* at, std::uint32_t v) {
    at[0] = static_cast<std::uint8_t>(v);
    at[1] = static_cast<std::uint8_t>(v >> 8);
}

void Le32(std::uint8_t* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// The boot sector repeats the root directory's label, so that checkers find the two equal.
void PutLabel(std::uint8_t* at, const std::optional<LabelName>& label) {
    if (label) {
        std::copy(label->begin(), label->end(), at);
    } else {
        std::memcpy(at, kElevenSpaces, 11);
    }
}

void BootSignature(SectorImage& s) {
    s[510] = 0x55;
    s[511] = 0xAA;
}

}  // namespace

SectorImage Fat32MasterBootRecord(const Fat32Layout& g) {
    SectorImage s{};
    std::copy(kMbrCode.begin(), kMbrCode.end(), s.begin());
    std::uint8_t* e = s.data() + kPartitionEntry;
    e[0] = kActive;
    e[1] = 1;  // start: head 1, sector 1, cylinder 0
    e[2] = 1;
    e[3] = 0;
    e[4] = g.partitionType;
    e[5] = static_cast<std::uint8_t>(g.heads == 0 ? 255 : g.heads - 1);
    e[6] = static_cast<std::uint8_t>(g.sectorsPerTrack | (((g.endCylinder >> 8) & 3) << 6));
    e[7] = static_cast<std::uint8_t>(g.endCylinder);
    Le32(e + 8, g.hiddenSectors);
    Le32(e + 12, g.partitionSectors - g.hiddenSectors);
    BootSignature(s);
    return s;
}

SectorImage Fat32BootSector(const Fat32Layout& g, const VolumeSerial& serial,
                            const std::optional<LabelName>& label) {
    SectorImage s{};
    std::copy(kFat32BootSector.begin(), kFat32BootSector.end(), s.begin());
    std::uint8_t* b = s.data();
    Le16(b + 11, kSectorSize);
    b[13] = static_cast<std::uint8_t>(g.sectorsPerCluster);
    Le16(b + 14, Fat32Layout::kReservedSectors);
    b[16] = 2;
    Le16(b + 17, 0);
    Le16(b + 19, 0);
    b[21] = kMediaFixed;
    Le16(b + 22, 0);
    Le16(b + 24, g.sectorsPerTrack);
    Le16(b + 26, g.heads);
    Le32(b + 28, g.hiddenSectors);
    Le32(b + 32, g.partitionSectors - g.hiddenSectors);
    Le32(b + 36, g.fatSectors);
    Le16(b + 40, 0);
    Le16(b + 42, 0);
    Le32(b + 44, 2);  // root directory cluster
    Le16(b + 48, 1);  // FSInfo sector
    Le16(b + 50, 6);  // backup boot sector
    b[66] = kExtendedBootSignature;
    std::copy(serial.begin(), serial.end(), b + 67);
    PutLabel(b + 71, label);
    BootSignature(s);
    return s;
}

SectorImage Fat32FsInfo() {
    SectorImage s{};
    Le32(s.data(), 0x41615252);
    Le32(s.data() + 484, 0x61417272);
    Le32(s.data() + 488, 0xFFFFFFFF);  // free count not known
    // The root directory holds cluster 2, so the search for a free one starts after it.
    Le32(s.data() + 492, 3);
    BootSignature(s);
    return s;
}

SectorImage Fat32ThirdSector() {
    SectorImage s{};
    std::copy(kFat32ThirdSector.begin(), kFat32ThirdSector.end(), s.begin());
    return s;
}

SectorImage FirstFatSector(FatKind kind) {
    SectorImage s{};
    static constexpr std::uint8_t kFat12[] = {0xF8, 0xFF, 0xFF};
    static constexpr std::uint8_t kFat16[] = {0xF8, 0xFF, 0xFF, 0xFF};
    static constexpr std::uint8_t kFat32[] = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF,
                                              0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
    switch (kind) {
        case FatKind::kFat12:
            std::copy(std::begin(kFat12), std::end(kFat12), s.begin());
            break;
        case FatKind::kFat16:
            std::copy(std::begin(kFat16), std::end(kFat16), s.begin());
            break;
        case FatKind::kFat32:
            std::copy(std::begin(kFat32), std::end(kFat32), s.begin());
            break;
    }
    return s;
}

SectorImage RootDirectorySector(const std::optional<LabelName>& label) {
    SectorImage s{};
    if (label) {
        std::copy(label->begin(), label->end(), s.begin());
        s[11] = kLabelAttribute;
    }
    return s;
}

SectorImage Fat16PartitionTable(const Fat16Layout& g) {
    SectorImage s{};
    const std::uint32_t perCylinder = g.heads * g.sectorsPerTrack;
    const std::uint32_t n = g.partitionSectors;
    const std::uint32_t hidden = g.hiddenSectors;
    const std::uint32_t startCylinder = hidden / perCylinder;
    std::uint8_t* e = s.data() + kPartitionEntry;
    e[0] = kActive;
    e[1] = static_cast<std::uint8_t>((hidden % perCylinder) / g.sectorsPerTrack);
    e[2] = static_cast<std::uint8_t>(((hidden % g.sectorsPerTrack) + 1) |
                                     (((startCylinder >> 8) & 3) << 6));
    e[3] = static_cast<std::uint8_t>(startCylinder);
    e[4] = g.partitionType;
    e[5] = static_cast<std::uint8_t>(((n - 1) % perCylinder) / g.sectorsPerTrack);
    e[6] = static_cast<std::uint8_t>((((n - 1) % g.sectorsPerTrack) + 1) |
                                     (((g.cylinders >> 8) & 3) << 6));
    e[7] = static_cast<std::uint8_t>((n - 1) / perCylinder);
    Le32(e + 8, hidden);
    Le32(e + 12, n - hidden);
    BootSignature(s);
    return s;
}

SectorImage Fat16BootSector(const Fat16Layout& g, const VolumeSerial& serial,
                            const std::optional<LabelName>& label) {
    SectorImage s{};
    std::uint8_t* b = s.data();
    b[0] = 0xEB;
    b[1] = 0x3E;
    b[2] = 0x90;
    const std::uint32_t size = g.partitionSectors - g.hiddenSectors;
    // The 16-bit total sector field serves partitions below 32 MB.
    const bool small = g.sizeMb < 32;
    Le16(b + 11, kSectorSize);
    b[13] = static_cast<std::uint8_t>(g.sectorsPerCluster);
    Le16(b + 14, Fat16Layout::kReservedSectors);
    b[16] = 2;
    Le16(b + 17, Fat16Layout::kRootEntries);
    Le16(b + 19, small ? size : 0);
    b[21] = kMediaFixed;
    Le16(b + 22, g.fatSectors);
    Le16(b + 24, g.sectorsPerTrack);
    Le16(b + 26, g.heads);
    Le32(b + 28, g.hiddenSectors);
    Le32(b + 32, small ? 0 : size);
    b[36] = 0x80;
    b[37] = 0;
    b[38] = kExtendedBootSignature;
    std::copy(serial.begin(), serial.end(), b + 39);
    PutLabel(b + 43, label);
    std::memcpy(b + 54, g.fat12 ? "FAT12   " : "FAT16   ", 8);
    BootSignature(s);
    return s;
}

std::vector<std::uint8_t> Fat16SystemArea(const Fat16Layout& g, const VolumeSerial& serial,
                                          const std::optional<LabelName>& label) {
    std::vector<std::uint8_t> image(std::size_t{g.ImageSectors()} * kSectorSize, 0);
    const auto put = [&image](std::uint32_t sector, const SectorImage& s) {
        std::copy(s.begin(), s.end(),
                  image.begin() + static_cast<std::ptrdiff_t>(sector * kSectorSize));
    };
    const std::uint32_t boot = g.hiddenSectors;
    const FatKind kind = g.fat12 ? FatKind::kFat12 : FatKind::kFat16;
    put(0, Fat16PartitionTable(g));
    put(boot, Fat16BootSector(g, serial, label));
    put(boot + 1, FirstFatSector(kind));
    put(boot + 1 + g.fatSectors, FirstFatSector(kind));
    put(boot + 1 + 2 * g.fatSectors, RootDirectorySector(label));
    return image;
}

}  // namespace kvx::media
