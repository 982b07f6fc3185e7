// The library's secure wrapping against the emulated bridge, which keeps its own session, derives
// its own keys and refuses what a wrong host sends: what went out is read back from the device's
// command log and deciphered here.
#include "transport/wrapping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "crypto/byte_scramble.h"
#include "crypto/wrap_constant.h"
#include "sim/bridge/identity.h"
#include "sim/bridge/medium.h"
#include "support/sim_library.h"
#include "transport/vendor.h"

namespace kvx {
namespace {

using test::DecipherHalves;
using test::Opcodes;
using test::VendorBlock;
using Block = std::array<std::uint8_t, 16>;
using Key = std::array<std::uint8_t, 16>;

const Block kKeyRequest = VendorBlock(0xF8, {0, 0, 0, 0, 0, 0, 0x10, 0});
const Block kCapsBlock = VendorBlock(0x80);

Key KeyOf(const std::uint8_t (&key)[16]) {
    Key k{};
    std::copy(std::begin(key), std::end(key), k.begin());
    return k;
}

Key ConstantKey() {
    Key k{};
    std::copy_n(kWrapConstant.begin(), 16, k.begin());
    return k;
}

class WrappingTest : public test::SimLibraryTest {
  protected:
    void Make(sim::Wrap wrap, WrapMode mode) {
        machine.AddDevice([wrap](sim::BridgeState& s) {
            s.wrap = wrap;
            s.wrapRequired = wrap != sim::Wrap::kNone;
            s.aesEngine = true;
        });
        Open(mode);
    }

    // The device's CD unit as the state's drive, as an identification would leave it.
    void Open(WrapMode mode) {
        state().drive =
            ActiveHost()
                .Open(u"\\\\.\\E:", kAccessRead | kAccessWrite, kShareRead | kShareWrite)
                .handle;
        ASSERT_NE(state().drive, kInvalidHandle);
        state().wrapMode = mode;
    }

    static DeviceState& state() { return GlobalDeviceState(); }

    // The capability word through the wrapping; checked against the device's own.
    bool Caps() {
        std::uint8_t word[4] = {};
        const bool ok = SendVendor(state(), VendorCdb(kVendorGetCaps), word, 4, kDirIn).accepted;
        const std::uint32_t got =
            word[0] | word[1] << 8 | word[2] << 16 | std::uint32_t{word[3]} << 24;
        return ok && got == sim::CapabilityWord(machine.State());
    }

    std::vector<sim::LogEntry> Sent(std::size_t from) const {
        return test::Via(machine.Log(from), "scsi");
    }

    Key DeviceKey() const { return machine.State().session.key; }
};

TEST_F(WrappingTest, FirstAesCommandTakesFourCommandsAndLeavesTheCounterAtTwo) {
    Make(sim::Wrap::kAes, kWrapAes);
    ASSERT_TRUE(Caps());
    EXPECT_EQ(state().wrapCounter, 2);
    // The library derived the key the device handed out.
    EXPECT_EQ(KeyOf(state().sessionKey), DeviceKey());
    EXPECT_EQ(machine.State().session.counter, 2);

    const auto sent = Sent(0);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(Opcodes(sent), (std::vector<std::uint8_t>{0x22, 0x24, 0x22, 0x24}));
    const std::pair<DataDirection, std::uint32_t> phases[] = {{DataDirection::kNone, 0},
                                                              {DataDirection::kIn, 16},
                                                              {DataDirection::kNone, 0},
                                                              {DataDirection::kIn, 4}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(sent[i].cdb[1], 0) << i;
        EXPECT_EQ(sent[i].length, phases[i].second) << i;
        if (phases[i].second != 0) {
            EXPECT_EQ(sent[i].direction, phases[i].first) << i;
        }
        EXPECT_EQ(sent[i].status, 0) << i << " " << sent[i].note;
    }
    EXPECT_EQ(DecipherHalves(sent[0], sent[1], ConstantKey().data()), kKeyRequest);
    EXPECT_EQ(DecipherHalves(sent[2], sent[3], state().sessionKey), kCapsBlock);
}

TEST_F(WrappingTest, FifthAesCommandRenewsTheSessionUnderTheOldKey) {
    Make(sim::Wrap::kAes, kWrapAes);
    ASSERT_TRUE(Caps());
    ASSERT_TRUE(Caps());
    ASSERT_TRUE(Caps());
    EXPECT_EQ(state().wrapCounter, 4);
    const Key old = KeyOf(state().sessionKey);
    const std::size_t mark = machine.LogSize();

    ASSERT_TRUE(Caps());
    EXPECT_EQ(state().wrapCounter, 2);
    EXPECT_NE(KeyOf(state().sessionKey), old);
    EXPECT_EQ(KeyOf(state().sessionKey), DeviceKey());
    const auto sent = Sent(mark);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(DecipherHalves(sent[0], sent[1], old.data()), kKeyRequest);
    EXPECT_EQ(sent[1].note, "session key renewed");
    EXPECT_EQ(DecipherHalves(sent[2], sent[3], state().sessionKey), kCapsBlock);
}

TEST_F(WrappingTest, EndSessionIsWrappedAndTheNextCommandStartsUnderTheConstant) {
    Make(sim::Wrap::kAes, kWrapAes);
    ASSERT_TRUE(Caps());
    const Key old = KeyOf(state().sessionKey);
    std::size_t mark = machine.LogSize();
    ASSERT_TRUE(EndSession(state()));
    EXPECT_EQ(KeyOf(state().sessionKey), Key{});
    EXPECT_EQ(state().wrapCounter, 0);
    EXPECT_FALSE(machine.State().session.active());
    auto sent = Sent(mark);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(DecipherHalves(sent[0], sent[1], old.data()),
              VendorBlock(0xF9, {0, 0, 0, 0, 0, 0, 0x10, 0}));
    EXPECT_EQ(sent[1].length, 16u);

    mark = machine.LogSize();
    ASSERT_TRUE(Caps());
    sent = Sent(mark);
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(DecipherHalves(sent[0], sent[1], ConstantKey().data()), kKeyRequest);
    EXPECT_EQ(sent[1].note, "new session key");
}

TEST_F(WrappingTest, ScrambledCommandsKeepByteZeroAndTransformTheOtherNine) {
    Make(sim::Wrap::kScramble, kWrapScrambled);
    ASSERT_TRUE(Caps());
    EXPECT_EQ(state().wrapCounter, 2);
    ASSERT_NE(state().sessionKey[0], 0);
    EXPECT_EQ(state().sessionKey[0], DeviceKey()[0]);
    for (std::size_t i = 1; i < 16; ++i) {
        EXPECT_EQ(state().sessionKey[i], 0) << i;
    }
    const auto sent = Sent(0);
    ASSERT_EQ(sent.size(), 2u);
    const std::uint8_t first = FoldBytes(kWrapConstant);
    for (std::size_t i = 0; i < 10; ++i) {
        // The key request under the constant's fold, then the command under the session's key.
        EXPECT_EQ(sent[0].cdb[i], i == 0 ? 0x24 : ScrambleByte(kKeyRequest[i], first)) << i;
        EXPECT_EQ(sent[1].cdb[i],
                  i == 0 ? 0x24 : ScrambleByte(kCapsBlock[i], state().sessionKey[0]))
            << i;
    }
    EXPECT_EQ(sent[0].length, 16u);
    EXPECT_EQ(sent[1].length, 4u);

    // Renewal after four, under the current key.
    ASSERT_TRUE(Caps());
    ASSERT_TRUE(Caps());
    const std::uint8_t old = state().sessionKey[0];
    const std::size_t mark = machine.LogSize();
    ASSERT_TRUE(Caps());
    const auto renewal = Sent(mark);
    ASSERT_EQ(renewal.size(), 2u);
    const auto request = test::Unscramble(renewal[0], old);
    EXPECT_TRUE(std::equal(request.begin(), request.end(), kKeyRequest.begin()));
    EXPECT_EQ(renewal[0].note, "session key renewed");
    EXPECT_EQ(state().wrapCounter, 2);
}

TEST_F(WrappingTest, ScrambleWorkedValues) {
    struct Case {
        std::uint8_t b;
        std::uint8_t k;
        std::uint8_t scrambled;
    };
    // b' = swap-nibbles(NOT(b XOR k)), worked by hand.
    const Case cases[] = {
        {0x00, 0x00, 0xFF}, {0x20, 0x00, 0xFD}, {0xF8, 0x5B, 0xC5},
        {0x10, 0x10, 0xFF}, {0xFF, 0x00, 0x00}, {0x12, 0x34, 0x9D},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ScrambleByte(c.b, c.k), c.scrambled) << int{c.b} << " " << int{c.k};
        EXPECT_EQ(UnscrambleByte(c.scrambled, c.k), c.b);
    }
    // The fold: each non-zero byte that differs from the running value is XORed in.
    const std::uint8_t repeated[] = {0x05, 0x05, 0x00, 0x03, 0x06};  // 5, 5 skipped, 6, 6 skipped
    EXPECT_EQ(FoldBytes(repeated), 0x06);
    const std::uint8_t twice[] = {0x07, 0x07};
    EXPECT_EQ(FoldBytes(twice), 0x07);
    const std::uint8_t plain[] = {0x01, 0x02, 0x04};
    EXPECT_EQ(FoldBytes(plain), 0x07);
}

TEST_F(WrappingTest, SectorCommandCarriesAddressFlagsAndCount) {
    Make(sim::Wrap::kNone, kWrapNone);
    for (const auto& [wrap, mode] :
         {std::pair{sim::Wrap::kNone, kWrapNone}, std::pair{sim::Wrap::kAes, kWrapAes},
          std::pair{sim::Wrap::kScramble, kWrapScrambled}}) {
        SCOPED_TRACE(std::string(sim::WrapName(wrap)));
        ResetDeviceState();
        machine.Update([wrap = wrap](sim::BridgeState& s) {
            s.wrap = wrap;
            s.wrapRequired = wrap != sim::Wrap::kNone;
        });
        Open(mode);
        std::vector<std::uint8_t> stored(2560);
        for (std::size_t i = 0; i < stored.size(); ++i) {
            stored[i] = static_cast<std::uint8_t>(i * 13 + mode);
        }
        ASSERT_TRUE(sim::WriteSectors(machine.Device().hidden, 258, stored));
        const std::size_t mark = machine.LogSize();
        std::vector<std::uint8_t> buffer(2560, 0xEE);
        ASSERT_TRUE(ReadWriteSectors(state(), 258, 5, true, true, buffer.data()));
        EXPECT_EQ(buffer, stored);
        const auto sent = Sent(mark);
        ASSERT_FALSE(sent.empty());
        const sim::LogEntry& last = sent.back();
        EXPECT_EQ(last.direction, DataDirection::kIn);
        EXPECT_EQ(last.length, 2560u);
        const std::vector<std::uint8_t> cdb{0x20, 0xCF, 0x00, 0x00, 0x01,
                                            0x02, 0x03, 0x00, 0x05, 0x00};
        if (mode == kWrapNone) {
            EXPECT_EQ(last.cdb, cdb);
        } else {
            EXPECT_EQ(last.cdb[0], 0x24);
            EXPECT_EQ(last.note, "wrapped 20cf0000010203000500");
        }
        // A count of 0 sends nothing.
        const std::size_t before = machine.LogSize();
        EXPECT_FALSE(ReadWriteSectors(state(), 258, 0, true, true, buffer.data()));
        EXPECT_EQ(machine.LogSize(), before);
    }
}

TEST_F(WrappingTest, FailedStepsLeaveKeyAndCounterAlone) {
    Make(sim::Wrap::kAes, kWrapAes);
    struct Case {
        const char* match;
        bool inSession;  // the fault hits a command of a running session
    };
    const Case cases[] = {{"op:22", false}, {"sub:f8", false}, {"op:22", true}, {"sub:80", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.match) + (c.inSession ? " in session" : " first"));
        if (!c.inSession && KeyOf(state().sessionKey) != Key{}) {
            ASSERT_TRUE(EndSession(state()));
        }
        if (c.inSession && (state().wrapCounter == 0 || state().wrapCounter == 4)) {
            ASSERT_TRUE(Caps());
        }
        const Key key = KeyOf(state().sessionKey);
        const std::uint8_t counter = state().wrapCounter;
        machine.Update([&c](sim::BridgeState& s) {
            sim::Fault f;
            f.match = c.match;
            s.faults.push_back(f);
        });
        EXPECT_FALSE(Caps());
        EXPECT_EQ(KeyOf(state().sessionKey), key);
        EXPECT_EQ(state().wrapCounter, counter);
        // The next command goes through with what is left.
        EXPECT_TRUE(Caps());
    }
}

TEST_F(WrappingTest, DeviceRefusesAHostThatMiscountsOrMisremembersItsKey) {
    Make(sim::Wrap::kAes, kWrapAes);
    ASSERT_TRUE(Caps());
    ASSERT_TRUE(Caps());
    ASSERT_TRUE(Caps());
    // A host that lost count sends a fifth command under the old key: refused.
    state().wrapCounter = 2;
    EXPECT_FALSE(Caps());
    EXPECT_EQ(machine.Log().back().note, "session key renewal due");
    state().wrapCounter = 4;
    ASSERT_TRUE(Caps());
    // A host whose key differs in one bit.
    state().sessionKey[7] ^= 0x10;
    EXPECT_FALSE(Caps());
    state().sessionKey[7] ^= 0x10;
    EXPECT_TRUE(Caps());
    // A scrambled host against an AES device.
    state().wrapMode = kWrapScrambled;
    std::fill(std::begin(state().sessionKey), std::end(state().sessionKey), 0);
    state().wrapCounter = 0;
    EXPECT_FALSE(Caps());
}

TEST_F(WrappingTest, OnlyVendorCommandsAreWrapped) {
    Make(sim::Wrap::kAes, kWrapAes);
    const std::uint8_t inquiry[16] = {0x12, 0, 0, 0, 36, 0};
    std::uint8_t data[36] = {};
    ASSERT_TRUE(SendCdb(state(), StateTarget(state()), inquiry, 10, data, 36, kDirIn));
    const auto sent = Sent(0);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].cdb[0], 0x12);
    EXPECT_EQ(state().wrapCounter, 0);
    EXPECT_EQ(KeyOf(state().sessionKey), Key{});
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data + 8), 6), "KVXSIM");
}

}  // namespace
}  // namespace kvx
