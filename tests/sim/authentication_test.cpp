// The emulated firmware's login command (0xC8) at the byte level: the shapes it accepts, fresh
// challenges, the response check from the stored digests, the order of the exchanges, the verify
// count and the launch.
#include "sim/bridge/authentication.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>

#include "crypto/sha256.h"
#include "host/codepage.h"
#include "sim/bridge/block_region.h"
#include "sim/bridge/device_dir.h"
#include "sim/bridge/provision.h"
#include "support/sim_machine.h"
#include "tests/sim/sim_test_util.h"

namespace kvx::test {
namespace {

using sim::Unit;
using Sense3 = std::array<std::uint8_t, 3>;

constexpr Sense3 kIllegalField{0x05, 0x24, 0x00};
constexpr Sense3 kSequence{0x05, 0x2C, 0x00};
constexpr Sense3 kRefused{0x05, 0x26, 0x00};
constexpr Sense3 kNotAuthorized{0x07, 0x74, 0x71};

constexpr char16_t kPassword[] = u"Kl\u00e4ger-9";  // a non-ASCII letter, as Windows-1252 byte E4

std::vector<std::uint8_t> Auth(std::uint8_t step, std::uint8_t variant, std::uint8_t length) {
    return Vendor(0xC8, {step, variant, 0, 0, 0, 0, length, 0});
}

class FirmwareLogin : public ::testing::Test {
  protected:
    void Make(sim::Media media, const std::u16string& password = kPassword) {
        machine.AddDevice({}, media, 32);
        ASSERT_FALSE(sim::Provision(machine.dir(), 0, password, u"").has_value());
        bridge = machine.MakeBridge();
    }

    sim::Challenge Challenge(std::uint8_t variant) {
        const Ran r = Exec(*bridge, Unit::kCd, Auth(1, variant, 0x10), DataDirection::kIn, 16);
        EXPECT_TRUE(r.good()) << r.sense()[0];
        sim::Challenge c{};
        std::copy_n(r.data.begin(), 16, c.begin());
        return c;
    }

    Ran Respond(std::uint8_t variant, const std::array<std::uint8_t, 32>& response) {
        return Exec(*bridge, Unit::kCd, Auth(2, variant, 0x20), DataDirection::kOut, 32,
                    std::vector<std::uint8_t>(response.begin(), response.end()));
    }

    Ran Check(std::uint8_t variant) {
        return Exec(*bridge, Unit::kCd, Auth(3, variant, 0), DataDirection::kNone, 0);
    }

    std::uint8_t VerifyCount() {
        const Ran r = Exec(*bridge, Unit::kCd, Auth(4, 0, 1), DataDirection::kIn, 1);
        EXPECT_TRUE(r.good());
        return r.data[0];
    }

    // What a host that knows the secret answers.
    static std::array<std::uint8_t, 32> Answer(std::span<const std::uint8_t> secret,
                                               const sim::Challenge& challenge) {
        std::array<std::uint8_t, 32> out{};
        EXPECT_TRUE(HashSecret(secret, out.data(), challenge.data(), true));
        return out;
    }
    static std::array<std::uint8_t, 32> PasswordAnswer(std::u16string_view password,
                                                       const sim::Challenge& challenge) {
        const std::string ansi = ToCp1252(password);
        return Answer({reinterpret_cast<const std::uint8_t*>(ansi.data()), ansi.size()}, challenge);
    }
    std::array<std::uint8_t, 32> IdentifierAnswer(const sim::Challenge& challenge) {
        const auto id = sim::UniqueIdentifier(machine.State());
        return Answer(id, challenge);
    }

    // A full exchange; the result of the check.
    Ran Exchange(std::uint8_t variant, const std::array<std::uint8_t, 32>& response) {
        EXPECT_TRUE(Respond(variant, response).good());
        return Check(variant);
    }

    // Power cycle; the unit attention it leaves on the CD unit is taken.
    void Replug() {
        machine.Update([](sim::BridgeState& s) { sim::Replug(s); });
        EXPECT_EQ(Exec(*bridge, Unit::kCd, {0, 0, 0, 0, 0, 0}, DataDirection::kNone, 0).sense()[0],
                  0x06);
    }

    SimMachine machine;
    std::unique_ptr<sim::Bridge> bridge;
};

TEST_F(FirmwareLogin, RefusesStepsWithOtherBytesLengthsOrDirections) {
    Make(sim::Media::kFlash);
    struct Case {
        std::vector<std::uint8_t> cdb;
        DataDirection direction;
        std::size_t length;
    };
    const Case cases[] = {
        {Auth(1, 0, 0x20), DataDirection::kIn, 16},   // step 1 announces 16 bytes
        {Auth(1, 0, 0x10), DataDirection::kIn, 32},   // buffer of another length
        {Auth(1, 0, 0x10), DataDirection::kOut, 16},  // wrong direction
        {Auth(1, 2, 0x10), DataDirection::kIn, 16},   // byte 3 is 0 or 1
        {Auth(1, 1, 0x10), DataDirection::kIn, 16},   // no identifier exchange on flash
        {Auth(2, 0, 0x10), DataDirection::kOut, 32},  // step 2 announces 32 bytes
        {Auth(3, 0, 0x01), DataDirection::kNone, 0},  // step 3 has no length
        {Auth(4, 1, 0x01), DataDirection::kIn, 1},    // step 4 has no variant
        {Auth(4, 0, 0x02), DataDirection::kIn, 2},    // one byte only
        {Auth(5, 0, 0x01), DataDirection::kNone, 0},  // launch has no length
        {Auth(6, 0, 0x00), DataDirection::kNone, 0},  // no such step
        {Auth(0, 0, 0x00), DataDirection::kNone, 0},  // no such step
        {Vendor(0xC8, {1, 0, 1, 0, 0, 0, 0x10, 0}), DataDirection::kIn, 16},  // byte 4 not zero
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(sim::HexBytes(c.cdb));
        const Ran r = Exec(*bridge, Unit::kCd, c.cdb, c.direction, c.length);
        ASSERT_TRUE(r.reply.delivered);
        EXPECT_EQ(r.reply.status, sim::kStatusCheckCondition);
        EXPECT_EQ(r.sense(), kIllegalField);
    }
    EXPECT_EQ(machine.State().verifyCount, sim::kVerifyCountStart);
}

TEST_F(FirmwareLogin, EveryChallengeIsFreshAndRememberedForItsExchange) {
    Make(sim::Media::kHdd);
    std::set<sim::Challenge> seen;
    for (int i = 0; i < 64; ++i) {
        const std::uint8_t variant = static_cast<std::uint8_t>(i & 1);
        const sim::Challenge c = Challenge(variant);
        EXPECT_TRUE(seen.insert(c).second) << "challenge repeated";
        EXPECT_EQ(machine.State().auth.challenge[variant], c);
    }
    // The step-1 answer moves exactly 16 bytes on the side channel's CD unit too.
    const Ran r = Exec(*bridge, Unit::kSecure, Auth(1, 0, 0x10), DataDirection::kIn, 16);
    EXPECT_TRUE(r.good());
    EXPECT_EQ(r.reply.transferred, 16u);
}

TEST_F(FirmwareLogin, AcceptsExactlyTheChainedHashOfTheSecretWithItsOwnChallenge) {
    Make(sim::Media::kFlash);
    // Wrong answers to a fresh challenge: another password (the same letters without the
    // umlaut), the right password to the previous challenge, the right one with a bit changed.
    using Answerer = std::function<std::array<std::uint8_t, 32>(const sim::Challenge& previous,
                                                                const sim::Challenge& fresh)>;
    const Answerer wrong[] = {
        [](const sim::Challenge&, const sim::Challenge& fresh) {
            return PasswordAnswer(u"Klager-9", fresh);
        },
        [](const sim::Challenge& previous, const sim::Challenge&) {
            return PasswordAnswer(kPassword, previous);
        },
        [](const sim::Challenge&, const sim::Challenge& fresh) {
            auto a = PasswordAnswer(kPassword, fresh);
            a[31] ^= 0x01;
            return a;
        },
    };
    std::uint8_t count = sim::kVerifyCountStart;
    sim::Challenge previous = Challenge(0);
    for (const auto& answer : wrong) {
        const sim::Challenge fresh = Challenge(0);
        EXPECT_EQ(Exchange(0, answer(previous, fresh)).sense(), kRefused);
        EXPECT_EQ(VerifyCount(), --count);
        EXPECT_FALSE(machine.State().secureOpen);
        previous = fresh;
    }
    const sim::Challenge c = Challenge(0);
    EXPECT_TRUE(Exchange(0, PasswordAnswer(kPassword, c)).good());
    EXPECT_TRUE(machine.State().secureOpen);
    EXPECT_TRUE(machine.State().auth.unlocked);
    EXPECT_EQ(VerifyCount(), sim::kVerifyCountStart);
}

TEST_F(FirmwareLogin, AChallengeServesOneCheckAndStepsComeInOrder) {
    Make(sim::Media::kFlash);
    // A response without a challenge, a check without a response.
    EXPECT_EQ(Respond(0, {}).sense(), kSequence);
    Challenge(0);
    EXPECT_EQ(Check(0).sense(), kSequence);
    // The check above used the challenge up: the right answer to it is now refused.
    const sim::Challenge c = Challenge(0);
    const auto answer = PasswordAnswer(kPassword, c);
    EXPECT_TRUE(Exchange(0, answer).good());
    EXPECT_EQ(Check(0).sense(), kSequence);
    EXPECT_EQ(Respond(0, answer).sense(), kSequence);
    // Sequence errors never cost a try.
    EXPECT_EQ(VerifyCount(), sim::kVerifyCountStart);
}

TEST_F(FirmwareLogin, HardDisksNeedTheIdentifierExchangeBeforeThePassword) {
    Make(sim::Media::kHdd);
    sim::Challenge c = Challenge(0);
    EXPECT_EQ(Exchange(0, PasswordAnswer(kPassword, c)).sense(), kSequence);
    EXPECT_FALSE(machine.State().secureOpen);
    EXPECT_EQ(VerifyCount(), sim::kVerifyCountStart);

    // A wrong identifier answer neither opens nor costs a try.
    c = Challenge(1);
    EXPECT_EQ(Exchange(1, PasswordAnswer(kPassword, c)).sense(), kRefused);
    EXPECT_FALSE(machine.State().auth.identifierVerified);
    EXPECT_EQ(VerifyCount(), sim::kVerifyCountStart);

    c = Challenge(1);
    EXPECT_TRUE(Exchange(1, IdentifierAnswer(c)).good());
    EXPECT_TRUE(machine.State().auth.identifierVerified);
    EXPECT_FALSE(machine.State().secureOpen);
    c = Challenge(0);
    EXPECT_TRUE(Exchange(0, PasswordAnswer(kPassword, c)).good());
    EXPECT_TRUE(machine.State().secureOpen);

    // A power cycle forgets both.
    Replug();
    const sim::BridgeState s = machine.State();
    EXPECT_FALSE(s.secureOpen);
    EXPECT_FALSE(s.auth.identifierVerified);
    EXPECT_FALSE(s.auth.unlocked);
    EXPECT_FALSE(s.auth.challenge[0].has_value());
}

TEST_F(FirmwareLogin, AtZeroEveryLoginIsRefusedUntilTheBlockRegionIsRewritten) {
    Make(sim::Media::kFlash);
    machine.Update([](sim::BridgeState& s) { s.verifyCount = 1; });
    sim::Challenge c = Challenge(0);
    EXPECT_EQ(Exchange(0, PasswordAnswer(u"nope", c)).sense(), kRefused);
    EXPECT_EQ(VerifyCount(), 0);
    c = Challenge(0);
    EXPECT_EQ(Exchange(0, PasswordAnswer(kPassword, c)).sense(), kNotAuthorized);
    EXPECT_EQ(VerifyCount(), 0);
    EXPECT_FALSE(machine.State().secureOpen);
    Replug();
    EXPECT_EQ(VerifyCount(), 0);

    // Rewrite the region as it stands: the count starts again.
    const sim::BridgeState s = machine.State();
    const sim::RegionSpan span = sim::BlockRegionOf(s);
    Ran read = Exec(*bridge, Unit::kCd, SectorCdb(static_cast<std::uint32_t>(span.start), 10, 1),
                    DataDirection::kIn, 5120);
    ASSERT_TRUE(read.good());
    EXPECT_EQ(VerifyCount(), 0);  // reading changes nothing
    ASSERT_TRUE(Exec(*bridge, Unit::kCd, SectorCdb(static_cast<std::uint32_t>(span.start), 10, 0),
                     DataDirection::kOut, 5120, read.data)
                    .good());
    EXPECT_EQ(VerifyCount(), sim::kVerifyCountStart);
    c = Challenge(0);
    EXPECT_TRUE(Exchange(0, PasswordAnswer(kPassword, c)).good());
}

TEST_F(FirmwareLogin, ABlockWithoutAPasswordTurnsProtectionOffAtTheNextPowerOn) {
    Make(sim::Media::kHdd);
    ASSERT_TRUE(machine.State().passwordSet);
    sim::BridgeState s = machine.State();
    auto region = sim::LoadBlockRegion(s, machine.Device());
    ASSERT_TRUE(region && region->index);
    std::fill_n(region->Block().begin() + sim::datablock::kPasswordMarker, 34, std::uint8_t{0});
    std::vector<std::uint8_t> stored(region->plain.begin(), region->plain.end());
    sim::EncipherRegion(stored, sim::BlockRegionKey(s));
    ASSERT_TRUE(Exec(*bridge, Unit::kCd,
                     SectorCdb(static_cast<std::uint32_t>(region->span.start), 6, 0),
                     DataDirection::kOut, stored.size(), stored)
                    .good());
    s = machine.State();
    EXPECT_FALSE(s.passwordSet);
    EXPECT_FALSE(s.secureOpen);  // until the next power-on
    const sim::Challenge c = Challenge(0);
    EXPECT_EQ(Exchange(0, PasswordAnswer(kPassword, c)).sense(), kSequence);
    Replug();
    EXPECT_TRUE(machine.State().secureOpen);
    // Capability word: bit 16 clear, bit 17 set.
    const Ran caps = Exec(*bridge, Unit::kCd, Vendor(0x80), DataDirection::kIn, 4);
    ASSERT_TRUE(caps.good());
    EXPECT_EQ(Le32(caps.data, 0) & 0x30000u, 0x20000u);
}

TEST_F(FirmwareLogin, LaunchIsRefusedBeforeALoginAndReopensAfterAnEject) {
    Make(sim::Media::kHdd);
    const auto launch = [&] {
        return Exec(*bridge, Unit::kCd, Auth(5, 0, 0), DataDirection::kNone, 0);
    };
    EXPECT_EQ(launch().sense(), kNotAuthorized);
    sim::Challenge c = Challenge(1);
    ASSERT_TRUE(Exchange(1, IdentifierAnswer(c)).good());
    c = Challenge(0);
    ASSERT_TRUE(Exchange(0, PasswordAnswer(kPassword, c)).good());
    machine.Update([](sim::BridgeState& s) { s.secureOpen = false; });  // ejected
    EXPECT_TRUE(launch().good());
    EXPECT_TRUE(machine.State().secureOpen);
}

TEST(FirmwareDigest, GoingOnFromTheStoredDigestEqualsHashingTheSecret) {
    std::mt19937 rng(4711);
    for (int i = 0; i < 200; ++i) {
        std::vector<std::uint8_t> secret(rng() % 56);
        for (auto& b : secret) {
            b = static_cast<std::uint8_t>(rng() % 255 + 1);
        }
        sim::Challenge challenge{};
        for (auto& b : challenge) {
            b = static_cast<std::uint8_t>(rng());
        }
        std::uint8_t stored[32];
        std::uint8_t expected[32];
        ASSERT_TRUE(HashSecret(secret, stored, nullptr, false));
        ASSERT_TRUE(HashSecret(secret, expected, challenge.data(), true));
        const sim::Response got =
            sim::ExpectedResponse(std::span<const std::uint8_t, 32>(stored), challenge);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), expected))
            << "secret length " << secret.size();
    }
}

}  // namespace
}  // namespace kvx::test
