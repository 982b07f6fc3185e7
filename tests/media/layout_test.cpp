// Sector images and the image stamp: the loaders carry their messages and names within their
// room, the bytes held are what binutils makes of the loader sources, and the stamp writer finds
// its marker wherever the stream is cut.
#include "media/layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "media/boot_code.h"
#include "media/image_stamp.h"
#include "security/data_block.h"
#include "tests/media/media_test_util.h"

namespace kvx::media {
namespace {

bool Holds(std::span<const std::uint8_t> bytes, const std::string& text) {
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

// Bytes from `from` on that are not zero, up to the signature.
std::size_t UsedUpTo(std::span<const std::uint8_t> s, std::size_t limit) {
    std::size_t last = 0;
    for (std::size_t i = 0; i < limit; ++i) {
        if (s[i] != 0) {
            last = i + 1;
        }
    }
    return last;
}

TEST(BootTemplates, MessagesNamesAndRoom) {
    const SectorImage mbr = Fat32MasterBootRecord(*Fat32Geometry(100, 100 * 2048 - 56));
    for (const char* m : {"Invalid partition table", "Error loading operating system",
                          "Missing operating system"}) {
        EXPECT_TRUE(Holds(std::span(mbr).first(218), m)) << m;
    }
    const SectorImage boot = Fat32BootSector(*Fat32Geometry(100, 100 * 2048), {1, 2, 3, 4}, {});
    const auto code = std::span(boot).subspan(90, 420);
    for (const char* m :
         {"Invalid system disk", "Disk I/O error", "Replace the disk, and then press any key",
          "IO      SYS", "MSDOS   SYS", "WINBOOT SYS"}) {
        EXPECT_TRUE(Holds(code, m)) << m;
    }
    EXPECT_EQ(std::string(boot.begin() + 3, boot.begin() + 11), "MSDOS5.0");
    // The jump reaches the code after the parameter block.
    EXPECT_EQ(boot[0], 0xEB);
    EXPECT_EQ(2 + boot[1], 90);
    const SectorImage third = Fat32ThirdSector();
    EXPECT_LE(UsedUpTo(third, 510), 390u);
    EXPECT_EQ(third[510], 0x55);
    EXPECT_EQ(third[511], 0xAA);
    const SectorImage info = Fat32FsInfo();
    EXPECT_EQ(std::string(info.begin(), info.begin() + 4), "RRaA");
    EXPECT_EQ(std::string(info.begin() + 484, info.begin() + 488), "rrAa");
}

TEST(BootTemplates, HeldBytesAreTheAssembledSources) {
    std::string out;
    if (!test::HaveTool("as") || !test::HaveTool("ld")) {
        GTEST_SKIP() << "binutils are not installed";
    }
    const std::string script =
        test::ToolPath(std::filesystem::path(KVX_SOURCE_DIR) / "lib/media/boot/build.sh");
    ASSERT_EQ(test::Shell("sh '" + script + "'", &out), 0) << out;
    std::ifstream held(std::string(KVX_SOURCE_DIR) + "/lib/media/boot_code.cpp");
    std::string text((std::istreambuf_iterator<char>(held)), std::istreambuf_iterator<char>());
    // The file is the generator's output as clang-format lays it out: compare the bytes only.
    const auto bytes = [](const std::string& t) {
        std::string only;
        for (std::size_t i = t.find("0x"); i != std::string::npos; i = t.find("0x", i + 4)) {
            only += t.substr(i + 2, 2);
        }
        return only;
    };
    EXPECT_EQ(bytes(text), bytes(out));
    EXPECT_FALSE(bytes(out).empty());
}

TEST(StampWriter, FindsTheMarkerWhereverTheStreamIsCut) {
    ImageStamp stamp;
    for (std::size_t i = 0; i < stamp.size(); ++i) {
        stamp[i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    std::vector<std::uint8_t> image(300, '.');
    const std::string decoy = "C3B655AC3B655AA";  // a false start right before the marker
    std::copy(decoy.begin(), decoy.end(), image.begin() + 100);
    const std::string second = "C3B655AA";
    std::copy(second.begin(), second.end(), image.begin() + 200);
    std::vector<std::uint8_t> expected = image;
    std::copy(stamp.begin(), stamp.end(), expected.begin() + 115);
    for (std::size_t cut1 = 0; cut1 < 160; cut1 += 3) {
        for (const std::size_t cut2 : {cut1, cut1 + 1, cut1 + 7, std::size_t{150}}) {
            std::vector<std::uint8_t> s = image;
            StampWriter writer(stamp);
            const std::size_t a = std::min(cut1, cut2);
            const std::size_t b = std::max(cut1, cut2);
            writer.Apply(std::span(s).first(a));
            writer.Apply(std::span(s).subspan(a, b - a));
            writer.Apply(std::span(s).subspan(b));
            EXPECT_TRUE(writer.found());
            EXPECT_EQ(s, expected) << cut1 << " " << cut2;
        }
    }
}

// A well-formed record, enciphered the way the block region is.
std::vector<std::uint8_t> Record(const std::array<std::uint8_t, 16>& key, std::size_t length,
                                 std::size_t offset) {
    std::vector<std::uint8_t> r((length + 511) / 512 * 512 + 512, 0);
    r[0] = 0xB6;
    r[1] = 0xC3;
    r[2] = 0xAA;
    r[3] = 0x55;
    r[10] = 2;
    r[12] = static_cast<std::uint8_t>(length);
    r[13] = static_cast<std::uint8_t>(length >> 8);
    for (std::size_t i = 0; i < 32; ++i) {
        r[offset + i] = static_cast<std::uint8_t>(i + 1);
    }
    r[length + 12] = 0xB6;
    r[length + 13] = 0xC3;
    r[length + 16] = 0x80;
    r[length + 18] = 1;
    r[length + 50] = 32;
    r[length + 52] = static_cast<std::uint8_t>(offset);
    r[length + 53] = static_cast<std::uint8_t>(offset >> 8);
    ProtectRegion(std::span(r).subspan(16, stamp_record::Pieces(length) * 16), key, 0);
    return r;
}

TEST(StampRecord, ParsedWhenWellFormedRefusedOtherwise) {
    const std::array<std::uint8_t, 16> key{'K', 'V', 'X', 'S', 'I', 'M', '0', '0', '0', '0'};
    auto good = Record(key, 64, 32);
    const auto stamp = ParseStampRecord(good, key);
    ASSERT_TRUE(stamp);
    EXPECT_EQ((*stamp)[0], 1);
    EXPECT_EQ((*stamp)[31], 32);

    struct Case {
        const char* why;
        std::size_t at;
        std::uint8_t value;
    };
    const Case cases[] = {
        {"magic", 2, 0},
        {"length beyond the record", 13, 0x7F},
        {"stamp offset beyond the record", 64 + 53, 0x40},
        {"no trailer marker", 64 + 12, 0},
    };
    for (const Case& c : cases) {
        auto bad = Record(key, 64, 32);
        // Fields inside the enciphered body are changed in the plaintext, then enciphered again.
        ProtectRegion(std::span(bad).subspan(16, stamp_record::Pieces(64) * 16), key, 1);
        bad[c.at] = c.value;
        ProtectRegion(std::span(bad).subspan(16, stamp_record::Pieces(64) * 16), key, 0);
        EXPECT_FALSE(ParseStampRecord(bad, key)) << c.why;
    }
    auto wrongKey = Record(key, 64, 32);
    std::array<std::uint8_t, 16> other = key;
    other[0] ^= 1;
    EXPECT_FALSE(ParseStampRecord(wrongKey, other));
}

}  // namespace
}  // namespace kvx::media
