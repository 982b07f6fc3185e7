// The emulated firmware's side of the secure wrapping, driven byte by byte from here (not through
// the library): session keys, counting, renewal and the refusals a wrong host earns.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "crypto/aes_reversed.h"
#include "crypto/byte_scramble.h"
#include "crypto/sha256.h"
#include "crypto/wrap_constant.h"
#include "sim/bridge/bridge.h"
#include "sim/bridge/device_dir.h"
#include "sim/bridge/identity.h"
#include "support/sim_machine.h"
#include "tests/sim/sim_test_util.h"
#include "transport/wrapping.h"

namespace kvx::test {
namespace {

using sim::Unit;
using Block = std::array<std::uint8_t, 16>;
using Sense3 = std::array<std::uint8_t, 3>;

constexpr Sense3 kIllegalField{0x05, 0x24, 0x00};
constexpr Sense3 kIllegalOpcode{0x05, 0x20, 0x00};
constexpr Sense3 kSequence{0x05, 0x2C, 0x00};

Block KeyRequest() {
    Block b{};
    b[0] = 0x20;
    b[1] = 0xF8;
    b[8] = 0x10;
    return b;
}

Block CapsRequest() {
    Block b{};
    b[0] = 0x20;
    b[1] = 0x80;
    return b;
}

Block ConstantKey() {
    Block k{};
    std::copy_n(kWrapConstant.begin(), 16, k.begin());
    return k;
}

struct Pair {
    Ran first;
    Ran second;
};

class WrapFirmwareTest : public ::testing::Test {
  protected:
    void Make(sim::Wrap wrap, bool required = false) {
        machine.AddDevice([wrap, required](sim::BridgeState& s) {
            s.wrap = wrap;
            s.wrapRequired = required;
        });
        bridge = machine.MakeBridge();
    }

    // Enciphers a block under `key` and sends it as 0x22 (no data) and 0x24 (the data phase).
    Pair SendAes(const Block& plain, const Block& key, DataDirection direction,
                 std::size_t length) {
        Block e = plain;
        AesBlockReversed(key.data(), e.data(), kAesEncrypt);
        std::vector<std::uint8_t> first{0x22, 0};
        std::vector<std::uint8_t> second{0x24, 0};
        first.insert(first.end(), e.begin(), e.begin() + 8);
        second.insert(second.end(), e.begin() + 8, e.end());
        Pair p;
        p.first = Exec(*bridge, Unit::kCd, first, DataDirection::kNone, 0);
        p.second = Exec(*bridge, Unit::kCd, second, direction, length);
        return p;
    }

    // A session key request under `key`; the session key the answer gives, or nullopt.
    std::optional<Block> AesSession(const Block& key) {
        const Pair p = SendAes(KeyRequest(), key, DataDirection::kIn, 16);
        if (!p.first.good() || !p.second.good() || p.second.reply.transferred != 16) {
            return std::nullopt;
        }
        std::uint8_t derived[32];
        DeriveSessionKey(p.second.data.data(), kWrapConstant.data(), derived);
        Block session{};
        std::copy_n(derived, 16, session.begin());
        return session;
    }

    bool AesCaps(const Block& key) {
        const Pair p = SendAes(CapsRequest(), key, DataDirection::kIn, 4);
        return p.first.good() && p.second.good() &&
               Le32(p.second.data, 0) == sim::CapabilityWord(machine.State());
    }

    // A scrambled command: bytes 1..9 of `plain` scrambled under k, byte 0 = 0x24.
    Ran SendScrambled(const Block& plain, std::uint8_t k, DataDirection direction,
                      std::size_t length) {
        std::vector<std::uint8_t> cdb(10);
        cdb[0] = 0x24;
        for (std::size_t i = 1; i < 10; ++i) {
            cdb[i] = ScrambleByte(plain[i], k);
        }
        return Exec(*bridge, Unit::kCd, cdb, direction, length);
    }

    std::optional<std::uint8_t> ScrambledSession(std::uint8_t k) {
        const Ran r = SendScrambled(KeyRequest(), k, DataDirection::kIn, 16);
        if (!r.good() || r.reply.transferred != 16) {
            return std::nullopt;
        }
        std::uint8_t derived[32];
        DeriveSessionKey(r.data.data(), kWrapConstant.data(), derived);
        return FoldBytes(derived);
    }

    bool ScrambledCaps(std::uint8_t k) {
        const Ran r = SendScrambled(CapsRequest(), k, DataDirection::kIn, 4);
        return r.good() && Le32(r.data, 0) == sim::CapabilityWord(machine.State());
    }

    SimMachine machine;
    std::unique_ptr<sim::Bridge> bridge;
};

TEST_F(WrapFirmwareTest, AesSessionKeyComesFromTheAnswerAndCarriesCommands) {
    Make(sim::Wrap::kAes);
    const auto key = AesSession(ConstantKey());
    ASSERT_TRUE(key);
    // The device keeps the key the host derives on its side, and counts the request.
    EXPECT_EQ(machine.State().session.key, *key);
    EXPECT_EQ(machine.State().session.counter, 1);
    EXPECT_TRUE(AesCaps(*key));
    EXPECT_EQ(machine.State().session.counter, 2);

    const auto log = machine.Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].note, "first half kept");
    EXPECT_EQ(log[1].note, "new session key");
    EXPECT_EQ(log[1].direction, DataDirection::kIn);
    EXPECT_EQ(log[1].transferred, 16u);
    EXPECT_EQ(log[3].note, "wrapped 20800000000000000000");
}

TEST_F(WrapFirmwareTest, AesSessionServesFourCommandsThenOnlyARenewalUnderTheOldKey) {
    Make(sim::Wrap::kAes);
    const auto key = AesSession(ConstantKey());
    ASSERT_TRUE(key);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(AesCaps(*key)) << i;
    }
    EXPECT_EQ(machine.State().session.counter, 4);
    // A fifth command under the same key is refused: the renewal is due.
    const Pair late = SendAes(CapsRequest(), *key, DataDirection::kIn, 4);
    EXPECT_EQ(late.second.sense(), kSequence);

    const auto renewed = AesSession(*key);
    ASSERT_TRUE(renewed);
    EXPECT_NE(*renewed, *key);
    EXPECT_EQ(machine.Log().back().note, "session key renewed");
    EXPECT_EQ(machine.State().session.counter, 1);
    // The old key is stale now.
    const Pair stale = SendAes(CapsRequest(), *key, DataDirection::kIn, 4);
    EXPECT_EQ(stale.second.sense(), kIllegalField);
    EXPECT_TRUE(AesCaps(*renewed));
}

TEST_F(WrapFirmwareTest, AesRefusalsLeaveTheSessionAsItWas) {
    Make(sim::Wrap::kAes);
    const auto key = AesSession(ConstantKey());
    ASSERT_TRUE(key);
    Block wrongKey = *key;
    wrongKey[5] ^= 0x01;
    Block trailing = CapsRequest();
    trailing[12] = 1;  // a vendor command has nothing past its ten bytes
    const std::vector<std::uint8_t> half{0x24, 0, 1, 2, 3, 4, 5, 6, 7, 8};

    struct Case {
        const char* what;
        std::function<Ran()> send;
        Sense3 sense;
    };
    const Case cases[] = {
        {"command under a wrong key",
         [&] { return SendAes(CapsRequest(), wrongKey, DataDirection::kIn, 4).second; },
         kIllegalField},
        {"key request under a wrong key",
         [&] { return SendAes(KeyRequest(), wrongKey, DataDirection::kIn, 16).second; },
         kIllegalField},
        {"renewal before it is due",
         [&] { return SendAes(KeyRequest(), *key, DataDirection::kIn, 16).second; }, kSequence},
        {"bytes past the command",
         [&] { return SendAes(trailing, *key, DataDirection::kIn, 4).second; }, kIllegalField},
        {"second half alone", [&] { return Exec(*bridge, Unit::kCd, half, DataDirection::kIn, 4); },
         kSequence},
        {"first half with a data phase",
         [&] {
             return Exec(*bridge, Unit::kCd, {0x22, 0, 1, 2, 3, 4, 5, 6, 7, 8}, DataDirection::kIn,
                         4);
         },
         kIllegalField},
        {"command with the wrong data length",
         [&] { return SendAes(CapsRequest(), *key, DataDirection::kIn, 8).second; }, kIllegalField},
        {"key request with the wrong data length",
         [&] { return SendAes(KeyRequest(), ConstantKey(), DataDirection::kIn, 8).second; },
         kIllegalField},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::uint8_t before = machine.State().session.counter;
        const Ran r = c.send();
        ASSERT_TRUE(r.reply.delivered);
        EXPECT_EQ(r.reply.status, sim::kStatusCheckCondition);
        EXPECT_EQ(r.sense(), c.sense);
        EXPECT_EQ(r.reply.transferred, 0u);
        EXPECT_EQ(machine.State().session.key, *key);
        EXPECT_EQ(machine.State().session.counter, before);
    }
    EXPECT_TRUE(AesCaps(*key));
}

TEST_F(WrapFirmwareTest, AFirstHalfWaitsOnlyForTheCommandRightAfterIt) {
    Make(sim::Wrap::kAes);
    const auto key = AesSession(ConstantKey());
    ASSERT_TRUE(key);
    Block e = CapsRequest();
    AesBlockReversed(key->data(), e.data(), kAesEncrypt);
    std::vector<std::uint8_t> first{0x22, 0};
    std::vector<std::uint8_t> second{0x24, 0};
    first.insert(first.end(), e.begin(), e.begin() + 8);
    second.insert(second.end(), e.begin() + 8, e.end());
    ASSERT_TRUE(Exec(*bridge, Unit::kCd, first, DataDirection::kNone, 0).good());
    EXPECT_TRUE(machine.State().session.firstHalf.has_value());
    ASSERT_TRUE(Exec(*bridge, Unit::kCd, Inquiry(36), DataDirection::kIn, 36).good());
    EXPECT_FALSE(machine.State().session.firstHalf.has_value());
    EXPECT_EQ(Exec(*bridge, Unit::kCd, second, DataDirection::kIn, 4).sense(), kSequence);
    // A second half is used once.
    ASSERT_TRUE(Exec(*bridge, Unit::kCd, first, DataDirection::kNone, 0).good());
    ASSERT_TRUE(Exec(*bridge, Unit::kCd, second, DataDirection::kIn, 4).good());
    EXPECT_EQ(Exec(*bridge, Unit::kCd, second, DataDirection::kIn, 4).sense(), kSequence);
}

TEST_F(WrapFirmwareTest, ANewKeyRequestUnderTheConstantStartsOverAndTheSessionOutlivesTheProcess) {
    Make(sim::Wrap::kAes);
    const auto key = AesSession(ConstantKey());
    ASSERT_TRUE(key);
    // Another process (another bridge object over the same device) continues the session.
    bridge = machine.MakeBridge();
    EXPECT_TRUE(AesCaps(*key));
    EXPECT_EQ(machine.State().session.counter, 2);
    // A host that starts afresh asks under the constant; the old key is gone with that.
    const auto fresh = AesSession(ConstantKey());
    ASSERT_TRUE(fresh);
    EXPECT_EQ(machine.Log().back().note, "new session key");
    EXPECT_EQ(SendAes(CapsRequest(), *key, DataDirection::kIn, 4).second.sense(), kIllegalField);
    EXPECT_TRUE(AesCaps(*fresh));
}

TEST_F(WrapFirmwareTest, EndOfSessionAndReplugForgetTheKey) {
    Make(sim::Wrap::kAes);
    auto key = AesSession(ConstantKey());
    ASSERT_TRUE(key);
    Block end{};
    end[0] = 0x20;
    end[1] = 0xF9;
    end[8] = 0x10;
    const Pair p = SendAes(end, *key, DataDirection::kIn, 16);
    ASSERT_TRUE(p.second.good());
    EXPECT_EQ(p.second.reply.transferred, 16u);
    EXPECT_FALSE(machine.State().session.active());
    EXPECT_EQ(machine.State().session.counter, 0);
    EXPECT_EQ(SendAes(CapsRequest(), *key, DataDirection::kIn, 4).second.sense(), kIllegalField);

    key = AesSession(ConstantKey());
    ASSERT_TRUE(key);
    machine.Update([](sim::BridgeState& s) { sim::Replug(s); });
    EXPECT_FALSE(machine.State().session.active());
    // The replug's unit attention goes to the first command; then the key is refused.
    EXPECT_EQ(Exec(*bridge, Unit::kCd, {0x00, 0, 0, 0, 0, 0}, DataDirection::kNone, 0).sense(),
              (Sense3{0x06, 0x29, 0x00}));
    EXPECT_EQ(SendAes(CapsRequest(), *key, DataDirection::kIn, 4).second.sense(), kIllegalField);
}

TEST_F(WrapFirmwareTest, PlainVendorCommandsAreRefusedOnlyWhereWrappingIsRequired) {
    struct Case {
        sim::Wrap wrap;
        bool required;
        bool accepted;
    };
    const Case cases[] = {
        {sim::Wrap::kNone, false, true},     {sim::Wrap::kNone, true, true},
        {sim::Wrap::kAes, false, true},      {sim::Wrap::kAes, true, false},
        {sim::Wrap::kScramble, false, true}, {sim::Wrap::kScramble, true, false},
    };
    Make(sim::Wrap::kNone);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(sim::WrapName(c.wrap)) + (c.required ? " required" : ""));
        machine.Update([&c](sim::BridgeState& s) {
            s.wrap = c.wrap;
            s.wrapRequired = c.required;
        });
        const Ran r = Exec(*bridge, Unit::kCd, Vendor(0x80), DataDirection::kIn, 4);
        EXPECT_EQ(r.good(), c.accepted);
        if (!c.accepted) {
            EXPECT_EQ(r.sense(), kIllegalField);
            EXPECT_EQ(machine.Log().back().note, "vendor commands must be wrapped");
        }
    }
}

TEST_F(WrapFirmwareTest, WrapperOpcodesOfAFormTheDeviceDoesNotSpeakAreInvalid) {
    Make(sim::Wrap::kNone);
    const std::vector<std::uint8_t> first{0x22, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<std::uint8_t> second{0x24, 0, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(Exec(*bridge, Unit::kCd, first, DataDirection::kNone, 0).sense(), kIllegalOpcode);
    EXPECT_EQ(Exec(*bridge, Unit::kCd, second, DataDirection::kIn, 16).sense(), kIllegalOpcode);
    machine.Update([](sim::BridgeState& s) { s.wrap = sim::Wrap::kScramble; });
    EXPECT_EQ(Exec(*bridge, Unit::kCd, first, DataDirection::kNone, 0).sense(), kIllegalOpcode);
    // A plain session-key request is no vendor command of its own.
    EXPECT_EQ(
        Exec(*bridge, Unit::kCd, Vendor(0xF8, {0, 0, 0, 0, 0, 0, 0x10, 0}), DataDirection::kIn, 16)
            .sense(),
        kIllegalField);
}

TEST_F(WrapFirmwareTest, ScrambledSessionUsesTheFoldOfTheDerivedKey) {
    Make(sim::Wrap::kScramble, true);
    // No session yet: a command under the constant's fold is refused, the key request is not.
    const std::uint8_t first = FoldBytes(kWrapConstant);
    EXPECT_EQ(SendScrambled(CapsRequest(), first, DataDirection::kIn, 4).sense(), kSequence);
    auto k = ScrambledSession(first);
    // A key that happens to equal the first one would make an early renewal a new session.
    for (int i = 0; i < 8 && k && *k == first; ++i) {
        k = ScrambledSession(first);
    }
    ASSERT_TRUE(k);
    ASSERT_NE(*k, 0);
    ASSERT_NE(*k, first);
    EXPECT_EQ(machine.State().session.key[0], *k);
    for (std::size_t i = 1; i < 16; ++i) {
        EXPECT_EQ(machine.State().session.key[i], 0) << i;
    }
    EXPECT_TRUE(ScrambledCaps(*k));
    EXPECT_TRUE(ScrambledCaps(*k));
    EXPECT_FALSE(ScrambledCaps(static_cast<std::uint8_t>(*k ^ 0x40)));  // wrong key
    EXPECT_EQ(SendScrambled(KeyRequest(), *k, DataDirection::kIn, 16).sense(), kSequence);
    EXPECT_TRUE(ScrambledCaps(*k));
    EXPECT_EQ(machine.State().session.counter, 4);
    EXPECT_EQ(SendScrambled(CapsRequest(), *k, DataDirection::kIn, 4).sense(), kSequence);
    const auto renewed = ScrambledSession(*k);
    ASSERT_TRUE(renewed);
    EXPECT_EQ(machine.Log().back().note, "session key renewed");
    EXPECT_TRUE(ScrambledCaps(*renewed));
    // A sector read in the scrambled form moves its data.
    const Ran read = SendScrambled(
        [] {
            Block b{};
            b[0] = 0x20;
            b[1] = 0xCF;
            b[5] = 7;
            b[6] = 1;
            b[8] = 2;
            return b;
        }(),
        *renewed, DataDirection::kIn, 1024);
    EXPECT_TRUE(read.good());
    EXPECT_EQ(read.reply.transferred, 1024u);
    EXPECT_EQ(machine.Log().back().note, "wrapped 20cf0000000701000200");
}

TEST_F(WrapFirmwareTest, PlannedFaultsReachEachStepOfTheWrapping) {
    Make(sim::Wrap::kAes);
    sim::Fault keyFault;
    keyFault.match = "sub:f8";
    keyFault.sense = {0x04, 0x44, 0x00};
    machine.Update([&](sim::BridgeState& s) { s.faults.push_back(keyFault); });
    const Pair refused = SendAes(KeyRequest(), ConstantKey(), DataDirection::kIn, 16);
    EXPECT_EQ(refused.second.sense(), (Sense3{0x04, 0x44, 0x00}));
    EXPECT_FALSE(machine.State().session.active());

    const auto key = AesSession(ConstantKey());
    ASSERT_TRUE(key);
    sim::Fault capsFault;
    capsFault.match = "sub:80";
    sim::Fault halfFault;
    halfFault.match = "op:22";
    machine.Update([&](sim::BridgeState& s) {
        s.faults.push_back(capsFault);
        s.faults.push_back(halfFault);
    });
    const Pair first = SendAes(CapsRequest(), *key, DataDirection::kIn, 4);
    EXPECT_FALSE(first.first.good());  // the first half met its fault
    EXPECT_EQ(first.second.sense(), kSequence);
    const Pair second = SendAes(CapsRequest(), *key, DataDirection::kIn, 4);
    EXPECT_TRUE(second.first.good());
    EXPECT_EQ(second.second.sense(), (Sense3{0x04, 0x44, 0x00}));
    EXPECT_EQ(machine.State().session.counter, 1);  // refused commands do not count
    EXPECT_TRUE(AesCaps(*key));
    EXPECT_EQ(machine.State().session.counter, 2);
}

TEST_F(WrapFirmwareTest, SessionAndWrapSettingsSurviveTheStateFile) {
    sim::BridgeState s = sim::DefaultState(sim::Media::kHdd, 131072);
    s.wrap = sim::Wrap::kAes;
    s.wrapRequired = true;
    s.inquiryCaps = 0x04000000;
    for (std::size_t i = 0; i < 16; ++i) {
        s.session.key[i] = static_cast<std::uint8_t>(0xF0 - 7 * i);
    }
    s.session.counter = 3;
    s.session.firstHalf = std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 0xFF};
    const std::string text = sim::FormatState(s);
    EXPECT_NE(text.find("inquiry_caps: 0x04000000\n"), std::string::npos);
    EXPECT_NE(text.find("session_first_half: 01020304050607ff\n"), std::string::npos);
    std::string error;
    const auto back = sim::ParseState(text, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_TRUE(back->wrapRequired);
    EXPECT_EQ(back->inquiryCaps, s.inquiryCaps);
    EXPECT_EQ(back->session.key, s.session.key);
    EXPECT_EQ(back->session.counter, 3);
    EXPECT_EQ(back->session.firstHalf, s.session.firstHalf);

    s.inquiryCaps.reset();
    s.session = {};
    const auto plain = sim::ParseState(sim::FormatState(s), &error);
    ASSERT_TRUE(plain) << error;
    EXPECT_FALSE(plain->inquiryCaps);
    EXPECT_FALSE(plain->session.firstHalf);
    EXPECT_FALSE(plain->session.active());

    for (const char* bad : {"session_key: 0011", "session_key: zz112233445566778899aabbccddeeff",
                            "session_counter: x", "session_first_half: 0102", "inquiry_caps: maybe",
                            "wrap_required: perhaps"}) {
        EXPECT_FALSE(sim::ParseState(std::string("format: 1\n") + bad + "\n", &error)) << bad;
    }
}

TEST_F(WrapFirmwareTest, InquiryAnnouncesTheCapabilityWordItWasGiven) {
    Make(sim::Wrap::kAes);
    machine.Update([](sim::BridgeState& s) { s.inquiryCaps = 0x04000001; });
    const Ran r = Exec(*bridge, Unit::kCd, Inquiry(58), DataDirection::kIn, 58);
    ASSERT_TRUE(r.good());
    EXPECT_EQ(Le32(r.data, 48), 0x04000001u);
}

}  // namespace
}  // namespace kvx::test
