// The password change against the emulated device: new passwords log in and old ones do not,
// hints come back as stored, mode 1 clears exactly its bytes, the partition table survives every
// rewrite, failing writes are retried, and hostile blocks are handled without stray writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "crypto/sha256.h"
#include "frame/qda.h"
#include "host/codepage.h"
#include "host/forwarding_host.h"
#include "sim/bridge/authentication.h"
#include "sim/bridge/block_region.h"
#include "support/device_fixture.h"

namespace kvx::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::u16string_view kOld = u"Wolke7-Rot";

int Login(DeviceFixture& dev, std::u16string_view password, std::uint8_t* error = nullptr) {
    QdaRequest request = dev.Request();
    SetPassword(request, password);
    const int result = QDASHA2Auth(&request);
    if (error != nullptr) {
        *error = request.errorCode;
    }
    return result;
}

QdaRequest Change(DeviceFixture& dev, std::uint8_t mode, std::u16string_view password = u"",
                  std::u16string_view hint = u"") {
    QdaRequest request = dev.Request();
    request.changeOp = mode;
    SetPassword(request, password);
    SetHint(request, hint);
    request.errorCode = 0xEE;
    return request;
}

int Apply(QdaRequest& request) {
    return QDAChangePassWord(&request);
}

Bytes Slice(const Bytes& b, std::size_t from, std::size_t to) {
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
                 b.begin() + static_cast<std::ptrdiff_t>(to));
}

Bytes Digest(std::u16string_view password) {
    const std::string ansi = ToCp1252(password);
    Bytes d(32);
    EXPECT_TRUE(HashSecret({reinterpret_cast<const std::uint8_t*>(ansi.data()), ansi.size()},
                           d.data(), nullptr, false));
    return d;
}

// A sector-0..15 image whose partition table area (416-511) is recognisable.
Bytes BootPattern() {
    Bytes boot(16 * 512);
    for (std::size_t i = 0; i < boot.size(); ++i) {
        boot[i] = static_cast<std::uint8_t>(i * 13 + 5);
    }
    boot[510] = 0x55;
    boot[511] = 0xAA;
    return boot;
}

struct Medium {
    const char* name;
    sim::Media media;
    bool aes;
};

const Medium kMedia[] = {
    {"hdd", sim::Media::kHdd, false},
    {"hdd+aes", sim::Media::kHdd, true},
    {"flash", sim::Media::kFlash, false},
    {"flash+aes", sim::Media::kFlash, true},
};

DeviceSpec SpecOf(const Medium& m) {
    DeviceSpec spec;
    spec.media = m.media;
    spec.aesEngine = m.aes;
    spec.sizeMb = m.media == sim::Media::kHdd ? 64 : 32;
    return spec;
}

TEST(PasswordChange, ModesThreeAndFourStoreANewPasswordThatLogsIn) {
    for (const Medium& m : kMedia) {
        for (const std::uint8_t mode : {3, 4}) {
            SCOPED_TRACE(std::string(m.name) + " mode " + std::to_string(mode));
            DeviceFixture dev(SpecOf(m));
            const sim::StoredRegion before = dev.Region();
            const Bytes oldBlock = dev.Block();
            const std::u16string fresh = mode == 3 ? u"Neu\u00e9-333" : u"Four-4444";

            QdaRequest change = Change(dev, mode, fresh, u"new hint");
            ASSERT_EQ(Apply(change), 1) << int{change.errorCode};
            EXPECT_EQ(change.errorCode, 0);
            const sim::BridgeState state = dev.State();
            const sim::StoredRegion after = dev.Region();
            ASSERT_EQ(after.index, before.index);  // rewritten where it was found
            const Bytes block = dev.Block();

            EXPECT_EQ(Slice(block, 36, 68), Digest(fresh));
            const bool hdd = m.media == sim::Media::kHdd;
            if (hdd) {
                // The identifier digest is the one the provisioning stored for this disk.
                EXPECT_EQ(Slice(block, 68, 102), Slice(oldBlock, 68, 102));
            } else {
                EXPECT_EQ(Slice(block, 68, 102), Bytes(34, 0));
            }
            const bool unlockChanges = mode == 4 && (hdd || m.aes);
            if (unlockChanges) {
                // The bridge derives the same unlock value from its own challenge.
                ASSERT_TRUE(state.auth.challenge[0].has_value());
                const auto expected =
                    sim::UnlockValue(std::span<const std::uint8_t, 32>(block.data() + 36, 32),
                                     *state.auth.challenge[0]);
                EXPECT_EQ(Slice(block, 302, 318), Bytes(expected.begin(), expected.end()));
            } else {
                EXPECT_EQ(Slice(block, 302, 318), Slice(oldBlock, 302, 318));
            }
            // What the change does not own is kept.
            EXPECT_EQ(Slice(block, 0, 34), Slice(oldBlock, 0, 34));
            EXPECT_EQ(Slice(block, 102, 106), Slice(oldBlock, 102, 106));
            EXPECT_EQ(Slice(block, 258, 302), Slice(oldBlock, 258, 302));
            EXPECT_EQ(Slice(block, 318, 512), Slice(oldBlock, 318, 512));
            // The other sectors of the region are fresh filler.
            EXPECT_NE(after.plain, before.plain);

            std::uint8_t error = 0;
            EXPECT_EQ(Login(dev, kOld, &error), 0);
            EXPECT_EQ(error, 25);
            EXPECT_EQ(Login(dev, fresh), 1);
            EXPECT_EQ(dev.State().verifyCount, sim::kVerifyCountStart);
        }
    }
}

TEST(PasswordChange, ModeTwoReadsBackTheHintInTheAnsiCodePage) {
    const std::u16string hints[] = {
        u"plain ascii hint",
        u"Gr\u00fc\u00dfe, \u00e9t\u00e9 \u20ac5 \u2013 \u00bfd\u00f3nde?",  // all in Windows-1252
        std::u16string(150, u'\u00fe'),                                      // the limit
        u"",
    };
    for (const Medium& m : {kMedia[0], kMedia[3]}) {
        for (const auto& hint : hints) {
            SCOPED_TRACE(std::string(m.name) + " hint of " + std::to_string(hint.size()));
            DeviceFixture dev(SpecOf(m));
            QdaRequest store = Change(dev, 3, u"Pass-1234", hint);
            ASSERT_EQ(Apply(store), 1) << int{store.errorCode};
            QdaRequest read = Change(dev, 2);
            const std::size_t writes = dev.LogSize();
            ASSERT_EQ(Apply(read), 1) << int{read.errorCode};
            EXPECT_EQ(HintOf(read), hint);
            EXPECT_TRUE(SectorWrites(dev, writes).empty());
        }
    }
    // The hint the factory stored reads back the same way.
    DeviceFixture dev(DeviceSpec{.hint = u"caf\u00e9 at the corner"});
    QdaRequest read = Change(dev, 2);
    ASSERT_EQ(Apply(read), 1);
    EXPECT_EQ(HintOf(read), u"caf\u00e9 at the corner");
    EXPECT_EQ(Value(read.cdSizeMb), dev.State().cdSectors / 2048);
    EXPECT_EQ(Value(read.secureSizeMb), dev.State().secSectors / 2048);
}

TEST(PasswordChange, ModeOneClearsExactlyThePasswordDigestAndHint) {
    for (const Medium& m : kMedia) {
        SCOPED_TRACE(m.name);
        DeviceFixture dev(SpecOf(m));
        const Bytes before = dev.Block();
        QdaRequest clear = Change(dev, 1);
        ASSERT_EQ(Apply(clear), 1) << int{clear.errorCode};
        const Bytes after = dev.Block();
        for (std::size_t i = 0; i < 512; ++i) {
            const bool cleared = (i >= 34 && i < 68) || (i >= 106 && i < 258);
            if (cleared) {
                EXPECT_EQ(after[i], 0) << "byte " << i;
            } else {
                EXPECT_EQ(after[i], before[i]) << "byte " << i;
            }
        }
        // No password: protection is off from the next power-on, no login needed.
        EXPECT_FALSE(dev.State().passwordSet);
        dev.Replug();
        QdaRequest status = dev.Request();
        ASSERT_EQ(QDAGetPasswordStatus(&status), 1);
        EXPECT_EQ(Value(status.passwordSupported), 0u);
        EXPECT_EQ(Value(status.deviceDisabled), 1u);
    }
}

TEST(PasswordChange, BytesOfThePartitionTableSurviveEveryRewrite) {
    struct Case {
        const char* name;
        DeviceSpec spec;
        bool scrubbed;
    };
    DeviceSpec listedFlash = SpecOf(kMedia[2]);
    listedFlash.extraConfig = "[Inq_ChipNum]\r\nChipNum0=3B11\r\n";
    const Case cases[] = {
        {"hdd", SpecOf(kMedia[0]), true},
        {"flash, chip listed", listedFlash, true},
        {"flash, chip not listed", SpecOf(kMedia[2]), false},
    };
    const Bytes pattern = BootPattern();
    for (const auto& c : cases) {
        DeviceFixture dev(c.spec);
        for (const std::uint8_t mode : {3, 4, 1, 3}) {
            SCOPED_TRACE(std::string(c.name) + " mode " + std::to_string(mode));
            dev.WriteImage(0, pattern, false);
            QdaRequest change = Change(dev, mode, u"Pass-9876", u"h");
            ASSERT_EQ(Apply(change), 1) << int{change.errorCode};
            const Bytes boot = dev.ReadImage(0, 16, false);
            EXPECT_EQ(Slice(boot, 416, 512), Slice(pattern, 416, 512));
            EXPECT_EQ(Slice(boot, 0, 416) != Slice(pattern, 0, 416), c.scrubbed);
            EXPECT_EQ(Slice(boot, 512, boot.size()) != Slice(pattern, 512, pattern.size()),
                      c.scrubbed);
        }
    }
}

TEST(PasswordChange, EmptyPasswordsAndLongHintsAreRefusedBeforeAnyWrite) {
    struct Case {
        const char* what;
        std::u16string password;
        bool fullHintField;  // all 151 units of the hint field used, no terminator
        std::uint8_t code;
    };
    const Case cases[] = {
        {"empty password", u"", false, 51},
        {"hint of 151 bytes", u"Pass", true, 50},
    };
    for (const std::uint8_t mode : {3, 4}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + " mode " + std::to_string(mode));
            DeviceFixture dev;
            const sim::StoredRegion before = dev.Region();
            const std::size_t mark = dev.LogSize();
            QdaRequest change = Change(dev, mode, c.password, u"hint");
            if (c.fullHintField) {
                for (std::size_t i = 0; i < std::extent_v<decltype(change.hint)>; ++i) {
                    const std::uint16_t unit = 'a';
                    std::memcpy(reinterpret_cast<unsigned char*>(change.hint) + 2 * i, &unit, 2);
                }
            }
            EXPECT_EQ(Apply(change), 0);
            EXPECT_EQ(change.errorCode, c.code);
            EXPECT_TRUE(SectorWrites(dev, mark).empty());
            EXPECT_EQ(dev.Region().plain, before.plain);
            EXPECT_EQ(Login(dev, kOld), 1);
        }
    }
    // 150 bytes is the limit: a full field with its terminator is stored.
    DeviceFixture dev;
    QdaRequest change = Change(dev, 3, u"Pass", std::u16string(150, u'\u00e9'));
    EXPECT_EQ(Apply(change), 1) << int{change.errorCode};
}

TEST(PasswordChange, OtherModesChangeNothingAndFillTheSizes) {
    DeviceFixture dev;
    const sim::StoredRegion before = dev.Region();
    const std::size_t mark = dev.LogSize();
    QdaRequest change = Change(dev, 9, u"Pass-1111", u"x");
    ASSERT_EQ(Apply(change), 1);
    EXPECT_EQ(change.errorCode, 0);
    EXPECT_TRUE(SectorWrites(dev, mark).empty());
    EXPECT_EQ(dev.Region().plain, before.plain);
    EXPECT_EQ(Value(change.cdSizeMb), dev.State().cdSectors / 2048);
    EXPECT_EQ(Value(change.secureSizeMb), dev.State().secSectors / 2048);
}

TEST(PasswordChange, ARegionWriteIsTriedFourTimes) {
    // Flash without a listed chip: the region write is the change's only write.
    for (const std::uint32_t failures : {3u, 4u}) {
        SCOPED_TRACE(failures);
        DeviceFixture dev(SpecOf(kMedia[2]));
        const sim::StoredRegion before = dev.Region();
        dev.Update([failures](sim::BridgeState& s) {
            s.faults.push_back(*sim::ParseFault("fail write count=" + std::to_string(failures)));
        });
        const std::size_t mark = dev.LogSize();
        QdaRequest change = Change(dev, 3, u"Retry-55", u"r");
        const int result = Apply(change);
        const auto writes = SectorWrites(dev, mark);
        const sim::RegionSpan span = sim::BlockRegionOf(dev.State());
        if (failures == 3) {
            EXPECT_EQ(result, 1);
            EXPECT_EQ(change.errorCode, 0);
            EXPECT_EQ(writes.size(), 4u);
            EXPECT_EQ(Login(dev, u"Retry-55"), 1);
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(change.errorCode, 27);
            EXPECT_EQ(writes.size(), 4u);
            EXPECT_EQ(dev.Region().plain, before.plain);  // the device keeps its previous block
            EXPECT_EQ(Login(dev, kOld), 1);
        }
        for (const auto& w : writes) {
            EXPECT_EQ(w, (SectorCommand{true, false, static_cast<std::uint32_t>(span.start), 10}));
        }
    }
}

TEST(PasswordChange, ABootAreaWriteThatFailsFourTimesLeavesEverythingAsItWas) {
    for (const std::uint32_t failures : {3u, 4u}) {
        SCOPED_TRACE(failures);
        DeviceFixture dev;
        const Bytes pattern = BootPattern();
        dev.WriteImage(0, pattern, false);
        const sim::StoredRegion before = dev.Region();
        dev.Update([failures](sim::BridgeState& s) {
            s.faults.push_back(*sim::ParseFault("fail write count=" + std::to_string(failures)));
        });
        QdaRequest change = Change(dev, 4, u"Retry-66", u"r");
        const int result = Apply(change);
        if (failures == 3) {
            EXPECT_EQ(result, 1) << int{change.errorCode};
            EXPECT_EQ(Login(dev, u"Retry-66"), 1);
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(change.errorCode, 27);
            EXPECT_EQ(dev.ReadImage(0, 16, false), pattern);
            EXPECT_EQ(dev.Region().plain, before.plain);
            EXPECT_EQ(Login(dev, kOld), 1);
        }
    }
}

TEST(PasswordChange, AMissingBlockFailsWith32AndWritesNothing) {
    for (const std::uint8_t mode : {1, 2, 3, 4, 9}) {
        SCOPED_TRACE(int{mode});
        DeviceFixture dev(DeviceSpec{.password = std::nullopt});
        const std::size_t mark = dev.LogSize();
        QdaRequest change = Change(dev, mode, u"Pass-1", u"h");
        EXPECT_EQ(Apply(change), 0);
        EXPECT_EQ(change.errorCode, 32);
        EXPECT_TRUE(SectorWrites(dev, mark).empty());
        EXPECT_FALSE(dev.Region().index.has_value());
    }
}

TEST(PasswordChange, AFailedDeviceQueryFailsWithItsCodeAndWritesNothing) {
    struct Case {
        const char* fault;
        std::uint8_t code;
    };
    const Case cases[] = {{"fail sub:80", 23}, {"fail sub:bb", 24}, {"fail sub:d0", 31}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        DeviceFixture dev;
        dev.Update([&c](sim::BridgeState& s) {
            // The drive check's own commands come first; the fault waits for the medium query.
            s.faults.push_back(*sim::ParseFault(c.fault));
        });
        const std::size_t mark = dev.LogSize();
        QdaRequest change = Change(dev, 3, u"Pass-2", u"h");
        EXPECT_EQ(Apply(change), 0);
        EXPECT_EQ(change.errorCode, c.code);
        EXPECT_TRUE(SectorWrites(dev, mark).empty());
    }
}

// --- Hostile blocks
// -------------------------------------------------------------------------------

TEST(PasswordChange, AHintLengthOf255ReadsAtMost150BytesAndTerminates) {
    DeviceFixture dev;
    sim::StoredRegion region = dev.Region();
    auto block = region.Block();
    block[sim::datablock::kHintLength] = 255;
    const std::uint8_t key = block[sim::datablock::kHintKey];
    for (std::size_t i = 0; i < 150; ++i) {
        // 'A' scrambled under the key; the byte after the field is the flash identifier.
        const auto v = static_cast<std::uint8_t>(~('A' ^ key));
        block[sim::datablock::kHint + i] = static_cast<std::uint8_t>((v << 4) | (v >> 4));
    }
    dev.StoreRegion(region.plain);
    QdaRequest read = Change(dev, 2);
    std::memset(read.hint, 0xFF, sizeof read.hint);
    ASSERT_EQ(Apply(read), 1);
    EXPECT_EQ(HintOf(read), std::u16string(150, u'A'));
    EXPECT_EQ(Value(read.hint[150]), 0);
}

// A C runtime generator that gives the bytes B6, C3, B6, C3 ... from each seed on. The change
// draws one key byte first, so every filler sector of a flash region then reads C3 B6 at 4-5.
class SignatureRandomHost : public ForwardingHost {
  public:
    using ForwardingHost::ForwardingHost;
    void SeedRandom(std::uint32_t) override { drawn_ = 0; }
    int Random() override { return drawn_++ % 2 == 0 ? 0xB6 : 0xC3; }

  private:
    unsigned drawn_ = 0;
};

TEST(PasswordChange, FillerNeverLooksLikeTheBlock) {
    DeviceFixture dev(SpecOf(kMedia[2]));
    // The block in the region's last sector, everything before it plain zeros.
    sim::StoredRegion region = dev.Region();
    const Bytes block = dev.Block();
    std::fill(region.plain.begin(), region.plain.end(), std::uint8_t{0});
    std::copy(block.begin(), block.end(), region.plain.end() - 512);
    dev.StoreRegion(region.plain);
    ASSERT_EQ(dev.Region().index, 9u);

    SignatureRandomHost host(dev.host());
    {
        const ScopedHostOverride scope(host);
        QdaRequest change = Change(dev, 3, u"Filler-77", u"f");
        ASSERT_EQ(Apply(change), 1) << int{change.errorCode};
    }
    const sim::StoredRegion after = dev.Region();
    EXPECT_EQ(after.index, 9u);
    EXPECT_EQ(after.plain[4], 0xC3);  // the filler came out as drawn, all but its byte 5
    EXPECT_EQ(after.plain[5], 0x00);
    EXPECT_EQ(after.plain[6], 0xC3);
    EXPECT_EQ(Login(dev, u"Filler-77"), 1);
}

TEST(PasswordChange, WithTwoSignaturesTheFirstBlockIsTheOneEveryoneUses) {
    DeviceFixture dev({.password = std::u16string(u"First-111")});
    sim::StoredRegion region = dev.Region();
    const std::size_t first = *region.index;
    // A second block later in the region, with another password and other sizes (or, when the
    // first block is the last sector, an earlier one is made the first).
    const std::size_t second = first + 1 < region.span.sectors ? first + 1 : first - 1;
    const std::size_t used = std::min(first, second);
    const std::size_t other = std::max(first, second);
    std::copy_n(region.plain.begin() + static_cast<std::ptrdiff_t>(first * 512), 512,
                region.plain.begin() + static_cast<std::ptrdiff_t>(second * 512));
    const Bytes secondDigest = Digest(u"Second-22");
    std::copy(secondDigest.begin(), secondDigest.end(),
              region.plain.begin() + static_cast<std::ptrdiff_t>(other * 512 + 36));
    region.plain[other * 512 + 18] ^= 0x40;  // another secure size
    const Bytes firstDigest = Digest(u"First-111");
    std::copy(firstDigest.begin(), firstDigest.end(),
              region.plain.begin() + static_cast<std::ptrdiff_t>(used * 512 + 36));
    dev.StoreRegion(region.plain);

    QdaRequest capacity = dev.Request();
    ASSERT_EQ(QDAGetDeviceCapacity(&capacity), 1);
    EXPECT_EQ(Value(capacity.secureSizeMb), dev.State().secSectors / 2048);
    EXPECT_EQ(Login(dev, u"Second-22"), 0);
    EXPECT_EQ(Login(dev, u"First-111"), 1);

    const std::size_t mark = dev.LogSize();
    QdaRequest change = Change(dev, 3, u"Third-333", u"t");
    ASSERT_EQ(Apply(change), 1);
    EXPECT_EQ(dev.Region().index, used);
    EXPECT_EQ(Slice(dev.Block(), 36, 68), Digest(u"Third-333"));
    // Only the boot area and the region were written.
    const sim::RegionSpan span = sim::BlockRegionOf(dev.State());
    const std::vector<SectorCommand> expected = {
        {true, false, 0, 16}, {true, false, static_cast<std::uint32_t>(span.start), 6}};
    EXPECT_EQ(SectorWrites(dev, mark), expected);
    EXPECT_EQ(Login(dev, u"Third-333"), 1);
}

}  // namespace
}  // namespace kvx::test
