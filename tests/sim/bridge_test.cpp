// The emulated bridge answers exactly the command bytes, lengths and directions it knows.
#include "sim/bridge/bridge.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/bridge/identity.h"
#include "support/sim_machine.h"
#include "tests/sim/sim_test_util.h"

namespace kvx::test {
namespace {

using sim::Unit;
using Sense3 = std::array<std::uint8_t, 3>;

constexpr Sense3 kIllegalField{0x05, 0x24, 0x00};
constexpr Sense3 kIllegalOpcode{0x05, 0x20, 0x00};
constexpr Sense3 kOutOfRange{0x05, 0x21, 0x00};
constexpr Sense3 kNotReady{0x02, 0x04, 0x00};
constexpr Sense3 kAttention{0x06, 0x29, 0x00};

class BridgeTest : public ::testing::Test {
  protected:
    void Make(const std::function<void(sim::BridgeState&)>& change = {},
              sim::Media media = sim::Media::kHdd) {
        machine.AddDevice(change, media, 64);
        bridge = machine.MakeBridge();
    }

    SimMachine machine;
    std::unique_ptr<sim::Bridge> bridge;
};

std::string Text(const std::vector<std::uint8_t>& d, std::size_t at, std::size_t n) {
    return std::string(d.begin() + static_cast<std::ptrdiff_t>(at),
                       d.begin() + static_cast<std::ptrdiff_t>(at + n));
}

TEST_F(BridgeTest, InquiryAnswersEachLengthWithTheVendorFields) {
    Make([](sim::BridgeState& s) {
        s.vendor = "ACME";
        s.product = "SECURE CD";
        s.secVendor = "ACMESEC";
        s.secProduct = "SECURE DISK";
        s.revision = "2.10";
        s.vid = 0x1A2B;
        s.pid = 0x3C4D;
        s.chip = "8A1C";
        s.wrap = sim::Wrap::kAes;
    });
    for (const Unit unit : {Unit::kCd, Unit::kSecure}) {
        for (const std::uint8_t length : {36, 46, 58, 77}) {
            SCOPED_TRACE(std::to_string(length) + (unit == Unit::kCd ? " cd" : " sec"));
            const Ran r = Exec(*bridge, unit, Inquiry(length), DataDirection::kIn, length);
            ASSERT_TRUE(r.good());
            EXPECT_EQ(r.reply.transferred, length);
            EXPECT_EQ(r.data[0], unit == Unit::kCd ? 0x05 : 0x00);
            EXPECT_EQ(r.data[4], 72);  // 77 bytes in all
            EXPECT_EQ(Text(r.data, 8, 8), unit == Unit::kCd ? "ACME    " : "ACMESEC ");
            EXPECT_EQ(Text(r.data, 16, 16),
                      unit == Unit::kCd ? "SECURE CD       " : "SECURE DISK     ");
            EXPECT_EQ(Text(r.data, 32, 4), "2.10");
            if (length >= 46) {
                EXPECT_EQ(r.data[42], 0x2B);
                EXPECT_EQ(r.data[43], 0x1A);
                EXPECT_EQ(r.data[44], 0x4D);
                EXPECT_EQ(r.data[45], 0x3C);
            }
            if (length >= 58) {
                EXPECT_EQ(Le32(r.data, 48), (1u << 26) | (1u << 22));
                EXPECT_EQ(Text(r.data, 54, 4), "8A1C");
            }
        }
    }
}

TEST_F(BridgeTest, InquiryCapabilityBitsFollowTheWrapping) {
    const std::pair<sim::Wrap, std::uint32_t> cases[] = {
        {sim::Wrap::kNone, 0},
        {sim::Wrap::kScramble, 1u << 26},
        {sim::Wrap::kAes, (1u << 26) | (1u << 22)}};
    Make();
    for (const auto& [wrap, word] : cases) {
        machine.Update([wrap = wrap](sim::BridgeState& s) { s.wrap = wrap; });
        const Ran r = Exec(*bridge, Unit::kCd, Inquiry(58), DataDirection::kIn, 58);
        ASSERT_TRUE(r.good());
        EXPECT_EQ(Le32(r.data, 48), word);
    }
}

TEST_F(BridgeTest, InquiryLongerThanTheDataMovesWhatThereIs) {
    Make();
    const Ran r = Exec(*bridge, Unit::kCd, Inquiry(100), DataDirection::kIn, 100);
    ASSERT_TRUE(r.good());
    EXPECT_EQ(r.reply.transferred, 77u);
    EXPECT_EQ(r.data[77], 0xEE);  // past the data, the host's buffer is untouched
}

TEST_F(BridgeTest, InquiryRefusesWrongLengthsAndForms) {
    Make();
    struct Case {
        std::vector<std::uint8_t> cdb;
        DataDirection direction;
        std::size_t length;
    };
    const Case cases[] = {
        {Inquiry(58), DataDirection::kIn, 36},   // buffer shorter than the allocation
        {Inquiry(36), DataDirection::kOut, 36},  // wrong direction
        {{0x12, 1, 0x80, 0, 36, 0, 0, 0, 0, 0}, DataDirection::kIn, 36},  // vital product data page
        {{0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 0}, DataDirection::kIn, 36},  // twelve-byte CDB
        {{0x12, 0, 0, 0, 36, 0, 0, 0, 1, 0}, DataDirection::kIn, 36},        // padding not zero
    };
    for (const auto& c : cases) {
        const Ran r = Exec(*bridge, Unit::kCd, c.cdb, c.direction, c.length);
        ASSERT_TRUE(r.reply.delivered);
        EXPECT_EQ(r.reply.status, sim::kStatusCheckCondition);
        EXPECT_EQ(r.sense(), kIllegalField);
        EXPECT_EQ(r.reply.transferred, 0u);
    }
    // The six-byte form is as good as the ten-byte one.
    EXPECT_TRUE(Exec(*bridge, Unit::kCd, {0x12, 0, 0, 0, 36, 0}, DataDirection::kIn, 36).good());
}

TEST_F(BridgeTest, AtapiFormMovesSixBytesForFourByteCommands) {
    Make([](sim::BridgeState& s) { s.bus = sim::Bus::kAtapi; });
    // 0x21, byte 1 = 0, byte 9 = the sub-command.
    const Ran r =
        Exec(*bridge, Unit::kCd, {0x21, 0, 0, 0, 0, 0, 0, 0, 0, 0x80}, DataDirection::kIn, 6);
    ASSERT_TRUE(r.good());
    EXPECT_EQ(r.reply.transferred, 6u);
    EXPECT_EQ(Le32(r.data, 0), sim::CapabilityWord(machine.State()));
    EXPECT_EQ(r.data[4], 0);
    EXPECT_EQ(r.data[5], 0);

    // The four-byte transfer of the plain form is wrong here, and so is the plain opcode.
    EXPECT_EQ(Exec(*bridge, Unit::kCd, {0x21, 0, 0, 0, 0, 0, 0, 0, 0, 0x80}, DataDirection::kIn, 4)
                  .sense(),
              kIllegalField);
    EXPECT_EQ(Exec(*bridge, Unit::kCd, Vendor(0x80), DataDirection::kIn, 4).sense(),
              kIllegalOpcode);
    EXPECT_EQ(
        Exec(*bridge, Unit::kCd, {0x21, 0x80, 0, 0, 0, 0, 0, 0, 0, 0x80}, DataDirection::kIn, 6)
            .sense(),
        kIllegalField);
    // Long transfers keep their length.
    const Ran read =
        Exec(*bridge, Unit::kSecure, {0x21, 0, 0, 0, 0, 9, 1, 0, 1, 0xCF}, DataDirection::kIn, 512);
    EXPECT_TRUE(read.good());
    EXPECT_EQ(read.reply.transferred, 512u);
}

TEST_F(BridgeTest, UsbBusRefusesTheAtapiForm) {
    Make();
    EXPECT_EQ(Exec(*bridge, Unit::kCd, {0x21, 0, 0, 0, 0, 0, 0, 0, 0, 0x80}, DataDirection::kIn, 6)
                  .sense(),
              kIllegalOpcode);
    const Ran r = Exec(*bridge, Unit::kCd, Vendor(0x80), DataDirection::kIn, 4);
    ASSERT_TRUE(r.good());
    EXPECT_EQ(r.reply.transferred, 4u);
}

TEST_F(BridgeTest, CapabilityWordsReportTheDevice) {
    struct Case {
        sim::Media media;
        bool passwordSet;
        bool open;
        bool aes;
        std::uint32_t caps;
        std::uint32_t extended;
    };
    const Case cases[] = {
        {sim::Media::kHdd, false, true, false, 0x80020000, 0},
        {sim::Media::kFlash, false, true, false, 0x80020200, 0},
        {sim::Media::kHdd, true, false, true, 0x80010000, 0x00400000},
        {sim::Media::kFlash, true, true, true, 0x80030200, 0x00400000},
    };
    Make();
    for (const auto& c : cases) {
        machine.Update([&c](sim::BridgeState& s) {
            s.media = c.media;
            s.passwordSet = c.passwordSet;
            s.secureOpen = c.open;
            s.aesEngine = c.aes;
        });
        const Ran caps = Exec(*bridge, Unit::kCd, Vendor(0x80), DataDirection::kIn, 4);
        const Ran ext = Exec(*bridge, Unit::kSecure, Vendor(0xBB), DataDirection::kIn, 4);
        ASSERT_TRUE(caps.good());
        ASSERT_TRUE(ext.good());
        EXPECT_EQ(Le32(caps.data, 0), c.caps);
        EXPECT_EQ(Le32(ext.data, 0), c.extended);
    }
    // Unused CDB bytes must be zero.
    EXPECT_EQ(
        Exec(*bridge, Unit::kCd, Vendor(0x80, {0, 0, 0, 1, 0, 0, 0, 0}), DataDirection::kIn, 4)
            .sense(),
        kIllegalField);
}

TEST_F(BridgeTest, UnknownCommandsAreRefused) {
    Make();
    EXPECT_EQ(Exec(*bridge, Unit::kCd, {0x5A, 0, 0, 0, 0, 0, 0, 0, 0, 0}, DataDirection::kNone, 0)
                  .sense(),
              kIllegalOpcode);
    EXPECT_EQ(Exec(*bridge, Unit::kCd, Vendor(0x77), DataDirection::kNone, 0).sense(),
              kIllegalField);
}

TEST_F(BridgeTest, SectorsRoundTripOnTheMediumAndTheHiddenArea) {
    Make([](sim::BridgeState& s) { s.aesEngine = true; });
    const auto data = Pattern(1024, 3);
    ASSERT_TRUE(
        Exec(*bridge, Unit::kCd, SectorCdb(1000, 2, 0), DataDirection::kOut, 1024, data).good());
    const Ran medium =
        Exec(*bridge, Unit::kSecure, SectorCdb(1000, 2, 1), DataDirection::kIn, 1024);
    ASSERT_TRUE(medium.good());
    EXPECT_EQ(medium.data, data);
    // The hidden area is separate storage at the same addresses.
    const Ran hiddenBefore =
        Exec(*bridge, Unit::kCd, SectorCdb(1000, 2, 3), DataDirection::kIn, 1024);
    ASSERT_TRUE(hiddenBefore.good());
    EXPECT_EQ(hiddenBefore.data, std::vector<std::uint8_t>(1024, 0));
    const auto secret = Pattern(512, 99);
    ASSERT_TRUE(
        Exec(*bridge, Unit::kCd, SectorCdb(1001, 1, 2), DataDirection::kOut, 512, secret).good());
    EXPECT_EQ(Exec(*bridge, Unit::kCd, SectorCdb(1001, 1, 3), DataDirection::kIn, 512).data,
              secret);
    EXPECT_EQ(Exec(*bridge, Unit::kCd, SectorCdb(1000, 2, 1), DataDirection::kIn, 1024).data, data);
}

TEST_F(BridgeTest, SectorCommandChecksItsFields) {
    Make();
    const std::uint32_t total = 64 * 2048;
    struct Case {
        std::uint32_t lba;
        std::uint16_t count;
        std::uint8_t flags;
        DataDirection direction;
        std::size_t length;
        std::optional<Sense3> refusal;
    };
    const Case cases[] = {
        {total - 1, 1, 1, DataDirection::kIn, 512, std::nullopt},
        {total - 1, 1, 0, DataDirection::kOut, 512, std::nullopt},
        {total - 1, 2, 1, DataDirection::kIn, 1024, kOutOfRange},
        {total, 1, 1, DataDirection::kIn, 512, kOutOfRange},
        {0xFFFFFFFF, 0xFFFF, 1, DataDirection::kIn, 512, kOutOfRange},
        {0, 0, 1, DataDirection::kIn, 0, kIllegalField},       // count never 0
        {0, 1, 0x05, DataDirection::kIn, 512, kIllegalField},  // unknown flag bit
        {0, 1, 0x03, DataDirection::kIn, 512, kIllegalField},  // hidden area without the engine
        {0, 2, 1, DataDirection::kIn, 512, kIllegalField},     // buffer for one sector of two
        {0, 1, 1, DataDirection::kOut, 512, kIllegalField},    // read flag, data out
        {0, 1, 0, DataDirection::kIn, 512, kIllegalField},     // write flag, data in
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.lba) + "+" + std::to_string(c.count) + " flags " +
                     std::to_string(c.flags));
        const Ran r = Exec(*bridge, Unit::kCd, SectorCdb(c.lba, c.count, c.flags), c.direction,
                           c.length, Pattern(c.length, 1));
        ASSERT_TRUE(r.reply.delivered);
        if (c.refusal) {
            EXPECT_EQ(r.reply.status, sim::kStatusCheckCondition);
            EXPECT_EQ(r.sense(), *c.refusal);
            EXPECT_EQ(r.reply.transferred, 0u);
        } else {
            EXPECT_TRUE(r.good());
            EXPECT_EQ(r.reply.transferred, c.length);
        }
    }
}

TEST_F(BridgeTest, IdentifyAnswersByMedium) {
    Make([](sim::BridgeState& s) { s.serial = "WD-AB12"; });
    const auto ata = Vendor(0xD0, {0, 0, 0, 0, 0xEC, 0, 1, 0});
    const auto flash = Vendor(0xD0, {0, 0, 0, 0, 0, 1, 0, 0});
    const Ran r = Exec(*bridge, Unit::kCd, ata, DataDirection::kIn, 512);
    ASSERT_TRUE(r.good());
    // ATA strings keep two characters per word, the first in the high byte.
    EXPECT_EQ(Text(r.data, 20, 20), "DWA-1B 2            ");  // "WD-AB12"
    const std::uint32_t sectors = 64 * 2048;
    EXPECT_EQ(r.data[120] | r.data[121] << 8 | r.data[122] << 16 | r.data[123] << 24,
              static_cast<int>(sectors));
    EXPECT_NE(r.data[167] & 0x04, 0);  // word 83 bit 10
    EXPECT_EQ(Le32(r.data, 200), sectors);
    EXPECT_EQ(Le32(r.data, 204), 0u);
    EXPECT_EQ(Exec(*bridge, Unit::kCd, flash, DataDirection::kIn, 4).sense(), kIllegalField);

    machine.Update([](sim::BridgeState& s) { s.media = sim::Media::kFlash; });
    const Ran f = Exec(*bridge, Unit::kCd, flash, DataDirection::kIn, 4);
    ASSERT_TRUE(f.good());
    EXPECT_EQ(Le32(f.data, 0), sectors);
    EXPECT_EQ(Exec(*bridge, Unit::kCd, ata, DataDirection::kIn, 512).sense(), kIllegalField);
}

TEST(BridgeIdentity, AtaIdentifyOfAMediumOverTwoTerabytesFillsTheHighWords) {
    sim::BridgeState s =
        sim::DefaultState(sim::Media::kHdd, (std::uint64_t{3} << 31) + 5);  // 3 TiB + 5
    const auto d = sim::AtaIdentifyData(s);
    const auto word = [&d](std::size_t w) { return d[2 * w] | d[2 * w + 1] << 8; };
    EXPECT_EQ(word(60), 0xFFFF);
    EXPECT_EQ(word(61), 0x0FFF);
    EXPECT_EQ(word(100), 5);
    EXPECT_EQ(word(101), 0x8000);
    EXPECT_EQ(word(102), 1);  // non-zero above 2^32 sectors
    EXPECT_EQ(word(103), 0);
}

TEST_F(BridgeTest, SecureUnitIsNotReadyUntilOpen) {
    Make([](sim::BridgeState& s) {
        s.passwordSet = true;
        s.secureOpen = false;
    });
    const std::vector<std::uint8_t> tur{0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Exec(*bridge, Unit::kSecure, tur, DataDirection::kNone, 0).sense(), kNotReady);
    EXPECT_EQ(Exec(*bridge, Unit::kSecure, Rw10(0x28, 0, 1), DataDirection::kIn, 512).sense(),
              kNotReady);
    EXPECT_EQ(Exec(*bridge, Unit::kSecure, Rw10(0x2A, 0, 1), DataDirection::kOut, 512).sense(),
              kNotReady);
    // INQUIRY, vendor commands and the CD unit answer all the same.
    EXPECT_TRUE(Exec(*bridge, Unit::kSecure, Inquiry(36), DataDirection::kIn, 36).good());
    EXPECT_TRUE(Exec(*bridge, Unit::kSecure, Vendor(0x80), DataDirection::kIn, 4).good());
    EXPECT_TRUE(Exec(*bridge, Unit::kCd, tur, DataDirection::kNone, 0).good());
    machine.Update([](sim::BridgeState& s) { s.secureOpen = true; });
    EXPECT_TRUE(Exec(*bridge, Unit::kSecure, tur, DataDirection::kNone, 0).good());
}

TEST_F(BridgeTest, UnitAttentionComesOnceOnEachUnitAfterAReplug) {
    Make([](sim::BridgeState& s) { s.passwordSet = true; });
    machine.Update([](sim::BridgeState& s) { sim::Replug(s); });
    EXPECT_FALSE(machine.State().secureOpen);
    const std::vector<std::uint8_t> tur{0, 0, 0, 0, 0, 0};
    // INQUIRY neither reports it nor clears it.
    EXPECT_TRUE(Exec(*bridge, Unit::kCd, Inquiry(36), DataDirection::kIn, 36).good());
    EXPECT_EQ(Exec(*bridge, Unit::kCd, tur, DataDirection::kNone, 0).sense(), kAttention);
    EXPECT_TRUE(Exec(*bridge, Unit::kCd, tur, DataDirection::kNone, 0).good());
    const Ran vendor = Exec(*bridge, Unit::kSecure, Vendor(0x80), DataDirection::kIn, 4);
    EXPECT_EQ(vendor.sense(), kAttention);
    EXPECT_EQ(vendor.reply.transferred, 0u);
    EXPECT_TRUE(Exec(*bridge, Unit::kSecure, Vendor(0x80), DataDirection::kIn, 4).good());
    EXPECT_EQ(Exec(*bridge, Unit::kSecure, tur, DataDirection::kNone, 0).sense(), kNotReady);
}

TEST_F(BridgeTest, EjectClosesTheSecureUnit) {
    Make();
    ASSERT_TRUE(sim::SecureLetterShown(machine.State()));
    EXPECT_TRUE(
        Exec(*bridge, Unit::kSecure, {0x1B, 0, 0, 0, 2, 0}, DataDirection::kNone, 0).good());
    EXPECT_FALSE(machine.State().secureOpen);
    EXPECT_FALSE(sim::SecureLetterShown(machine.State()));
    EXPECT_EQ(Exec(*bridge, Unit::kSecure, {0, 0, 0, 0, 0, 0}, DataDirection::kNone, 0).sense(),
              kNotReady);
    EXPECT_EQ(
        Exec(*bridge, Unit::kSecure, {0x1B, 0, 0, 0, 0x10, 0}, DataDirection::kNone, 0).sense(),
        kIllegalField);
}

TEST_F(BridgeTest, UnitsPresentTheirAreasOfTheMedium) {
    Make();
    const sim::BridgeState s = machine.State();
    // CD unit: 2048-byte blocks from the CD area, read-only.
    const auto cdData = Pattern(512, 5);
    ASSERT_TRUE(Exec(*bridge, Unit::kCd, SectorCdb(static_cast<std::uint32_t>(s.cdStart + 8), 1, 0),
                     DataDirection::kOut, 512, cdData)
                    .good());
    const Ran cd = Exec(*bridge, Unit::kCd, Rw10(0x28, 2, 1), DataDirection::kIn, 2048);
    ASSERT_TRUE(cd.good());
    EXPECT_TRUE(std::equal(cdData.begin(), cdData.end(), cd.data.begin()));
    EXPECT_EQ(Exec(*bridge, Unit::kCd, Rw10(0x2A, 2, 1), DataDirection::kOut, 2048).sense(),
              (Sense3{0x07, 0x27, 0x00}));
    EXPECT_EQ(Exec(*bridge, Unit::kCd, Rw10(0x28, static_cast<std::uint32_t>(s.cdSectors / 4), 1),
                   DataDirection::kIn, 2048)
                  .sense(),
              kOutOfRange);
    // Secure unit: 512-byte blocks from the secure area.
    const auto secData = Pattern(1024, 9);
    ASSERT_TRUE(
        Exec(*bridge, Unit::kSecure, Rw10(0x2A, 5, 2), DataDirection::kOut, 1024, secData).good());
    EXPECT_EQ(Exec(*bridge, Unit::kCd, SectorCdb(static_cast<std::uint32_t>(s.secStart + 5), 2, 1),
                   DataDirection::kIn, 1024)
                  .data,
              secData);
    const Ran cap =
        Exec(*bridge, Unit::kSecure, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, DataDirection::kIn, 8);
    ASSERT_TRUE(cap.good());
    EXPECT_EQ(static_cast<std::uint64_t>(cap.data[0] << 24 | cap.data[1] << 16 | cap.data[2] << 8 |
                                         cap.data[3]),
              s.secSectors - 1);
    EXPECT_EQ(cap.data[6], 0x02);  // 512
}

struct FaultCase {
    const char* match;
    std::vector<std::uint8_t> hit;
    DataDirection direction;
    std::size_t length;
    std::vector<std::uint8_t> miss;  // a command the fault leaves alone ({} = none)
    DataDirection missDirection;
    std::size_t missLength;
};

TEST_F(BridgeTest, FailFaultsFireExactlyTheirCount) {
    Make();
    const FaultCase cases[] = {
        {"sub:80", Vendor(0x80), DataDirection::kIn, 4, Vendor(0xBB), DataDirection::kIn, 4},
        {"op:12", Inquiry(36), DataDirection::kIn, 36, Vendor(0x80), DataDirection::kIn, 4},
        {"read", SectorCdb(0, 1, 1), DataDirection::kIn, 512, SectorCdb(0, 1, 0),
         DataDirection::kOut, 512},
        {"write", Rw10(0x2A, 0, 1), DataDirection::kOut, 512, Rw10(0x28, 0, 1), DataDirection::kIn,
         512},
        {"any", Vendor(0xBB), DataDirection::kIn, 4, {}, DataDirection::kNone, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.match);
        machine.Update([&c](sim::BridgeState& s) {
            s.faults.push_back(
                *sim::ParseFault(std::string("fail ") + c.match + " count=2 sense=25/24/00"));
        });
        for (int i = 0; i < 2; ++i) {
            if (!c.miss.empty()) {
                EXPECT_TRUE(
                    Exec(*bridge, Unit::kSecure, c.miss, c.missDirection, c.missLength).good());
            }
            const Ran r = Exec(*bridge, Unit::kSecure, c.hit, c.direction, c.length);
            EXPECT_EQ(r.reply.status, sim::kStatusCheckCondition);
            EXPECT_EQ(r.sense(),
                      (Sense3{0x25, 0x24, 0x00}));  // ILI with ILLEGAL REQUEST, as planned
        }
        EXPECT_TRUE(Exec(*bridge, Unit::kSecure, c.hit, c.direction, c.length).good());
        EXPECT_TRUE(machine.State().faults.empty());
    }
}

TEST_F(BridgeTest, ShortFaultMovesOnlyTheGivenBytes) {
    Make();
    machine.Update([](sim::BridgeState& s) {
        s.faults.push_back(*sim::ParseFault("short op:12 count=1 value=20"));
    });
    const Ran r = Exec(*bridge, Unit::kCd, Inquiry(58), DataDirection::kIn, 58);
    ASSERT_TRUE(r.good());
    EXPECT_EQ(r.reply.transferred, 20u);
    EXPECT_EQ(Text(r.data, 8, 6), "KVXSIM");
    EXPECT_EQ(std::count(r.data.begin() + 20, r.data.end(), 0xEE), 38);
    EXPECT_EQ(Exec(*bridge, Unit::kCd, Inquiry(58), DataDirection::kIn, 58).reply.transferred, 58u);
}

TEST_F(BridgeTest, UnplugFaultTakesTheDeviceOffTheBus) {
    Make();
    machine.Update(
        [](sim::BridgeState& s) { s.faults.push_back(*sim::ParseFault("unplug-after count=3")); });
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(Exec(*bridge, Unit::kCd, Inquiry(36), DataDirection::kIn, 36).good());
    }
    const std::size_t logged = machine.LogSize();
    EXPECT_FALSE(Exec(*bridge, Unit::kCd, Inquiry(36), DataDirection::kIn, 36).reply.delivered);
    EXPECT_EQ(machine.LogSize(), logged);  // nothing reached the device
    EXPECT_FALSE(machine.State().plugged);
    machine.Update([](sim::BridgeState& s) { sim::Replug(s); });
    EXPECT_EQ(Exec(*bridge, Unit::kCd, Vendor(0x80), DataDirection::kIn, 4).sense(), kAttention);
}

TEST_F(BridgeTest, LogHoldsEveryCommandAsReceived) {
    Make();
    const std::size_t mark = machine.LogSize();
    Exec(*bridge, Unit::kCd, Inquiry(58), DataDirection::kIn, 58);
    Exec(*bridge, Unit::kSecure, SectorCdb(258, 5, 3), DataDirection::kIn, 2560);
    const auto log = machine.Log(mark);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].unit, "cd");
    EXPECT_EQ(log[0].via, "scsi");
    EXPECT_EQ(log[0].cdb, Inquiry(58));
    EXPECT_EQ(log[0].direction, DataDirection::kIn);
    EXPECT_EQ(log[0].length, 58u);
    EXPECT_EQ(log[0].status, 0);
    EXPECT_EQ(log[0].transferred, 58u);
    EXPECT_EQ(log[1].unit, "sec");
    EXPECT_EQ(log[1].cdb, (std::vector<std::uint8_t>{0x20, 0xCF, 0x00, 0x00, 0x01, 0x02, 0x03, 0x00,
                                                     0x05, 0x00}));
    EXPECT_EQ(log[1].length, 2560u);
    EXPECT_EQ(log[1].status, sim::kStatusCheckCondition);  // no AES engine, no hidden area
    EXPECT_EQ(log[1].sense[0], 0x05);
    EXPECT_EQ(log[1].sense[1], 0x24);
    EXPECT_EQ(log[1].note, "hidden area needs the AES engine");
}

TEST_F(BridgeTest, TwoBridgesOnOneDeviceSeeTheSameState) {
    Make();
    auto other = machine.MakeBridge();
    ASSERT_TRUE(
        Exec(*bridge, Unit::kSecure, {0x1B, 0, 0, 0, 2, 0}, DataDirection::kNone, 0).good());
    EXPECT_EQ(Exec(*other, Unit::kSecure, {0, 0, 0, 0, 0, 0}, DataDirection::kNone, 0).sense(),
              kNotReady);
    const auto data = Pattern(512, 77);
    ASSERT_TRUE(
        Exec(*other, Unit::kCd, SectorCdb(4242, 1, 0), DataDirection::kOut, 512, data).good());
    EXPECT_EQ(Exec(*bridge, Unit::kCd, SectorCdb(4242, 1, 1), DataDirection::kIn, 512).data, data);
}

}  // namespace
}  // namespace kvx::test
