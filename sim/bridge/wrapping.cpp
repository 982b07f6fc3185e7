#include "sim/bridge/wrapping.h"

#include <algorithm>

#include "crypto/aes_reversed.h"
#include "crypto/byte_scramble.h"
#include "crypto/sha256.h"
#include "crypto/wipe.h"
#include "crypto/wrap_constant.h"
#include "sim/bridge/authentication.h"
#include "sim/bridge/command_log.h"

namespace kvx::sim {
namespace {

// ILLEGAL REQUEST, command sequence error: a half without its partner, a command or a key request
// out of turn.
constexpr Sense kSequenceError{0x05, 0x2C, 0x00};

constexpr std::size_t kSessionAnswer = 16;
using Block = std::array<std::uint8_t, 16>;

// The session-key request as the host enciphers it: 0x20 0xF8, byte 8 = 0x10, the rest zero.
Block KeyRequestBlock() {
    Block b{};
    b[0] = 0x20;
    b[1] = kSessionKeyRequest;
    b[8] = 0x10;
    return b;
}

bool IsKeyRequest(std::span<const std::uint8_t> plain) {
    const Block request = KeyRequestBlock();
    return std::equal(plain.begin(), plain.end(), request.begin());
}

// A vendor command in a deciphered AES block: the 0x20 envelope, nothing past its ten bytes.
bool IsVendorBlock(const Block& plain) {
    return plain[0] == 0x20 &&
           std::all_of(plain.begin() + 10, plain.end(), [](std::uint8_t b) { return b == 0; });
}

// The firmware's session-key derivation: one SHA-256 compression of the answer's padded block
// from the wrap constant, the same derivation the host runs.
std::array<std::uint8_t, 32> DeriveKey(const Block& answer) {
    std::array<std::uint8_t, 32> out{};
    DeriveSessionKey(answer.data(), kWrapConstant.data(), out.data());
    return out;
}

// The key that session `answer` gives in the device's form: 16 bytes for AES, the fold of all 32
// derived bytes in byte 0 for the scrambled form.
Block SessionKeyFor(Wrap wrap, const Block& answer) {
    auto derived = DeriveKey(answer);
    Block key{};
    if (wrap == Wrap::kAes) {
        std::copy_n(derived.begin(), key.size(), key.begin());
    } else {
        key[0] = FoldKey(derived);
    }
    SecureWipe(derived.data(), derived.size());
    return key;
}

// Hands out a new session key: 16 random bytes to the host, the derived key kept. An answer whose
// key would read as "no session" (all zero, or a zero scrambling byte) is drawn again.
Outcome HandOutSessionKey(BridgeState& state, std::span<std::uint8_t> hostData, bool renewal) {
    Block answer{};
    Block key{};
    do {
        FirmwareRandom(answer);
        key = SessionKeyFor(state.wrap, answer);
    } while (std::all_of(key.begin(), key.end(), [](std::uint8_t b) { return b == 0; }));
    std::copy(answer.begin(), answer.end(), hostData.begin());
    state.session.key = key;
    state.session.counter = 1;
    SecureWipe(answer.data(), answer.size());
    SecureWipe(key.data(), key.size());
    Outcome o = Outcome::Good(kSessionAnswer);
    o.note = renewal ? "session key renewed" : "new session key";
    return o;
}

// The first-half and key-request steps refuse on a planned fault like any command.
std::optional<Outcome> PlannedFailure(BridgeState& state, std::uint8_t opcode,
                                      std::optional<std::uint8_t> sub, bool& changed) {
    CommandTraits traits;
    traits.opcode = opcode;
    traits.vendorSub = sub;
    if (const auto fault = TakeFault(state.faults, FaultKind::kFail, &traits)) {
        changed = true;
        return Outcome::Check(Sense{fault->sense[0], fault->sense[1], fault->sense[2]}, "fault");
    }
    return std::nullopt;
}

WrapReceipt Settled(Outcome outcome) {
    WrapReceipt r;
    r.settled = std::move(outcome);
    return r;
}

// A deciphered block that asks for a session key: a new session under the constant, a renewal
// under the current key once four commands went out under it.
WrapReceipt KeyRequest(BridgeState& state, std::uint8_t opcode, bool renewal,
                       std::span<std::uint8_t> hostData, DataDirection direction, bool& changed) {
    if (hostData.size() != kSessionAnswer || direction != DataDirection::kIn) {
        return Settled(Outcome::Check(kInvalidField, "session key request expects in 16"));
    }
    if (auto failed = PlannedFailure(state, opcode, kSessionKeyRequest, changed)) {
        return Settled(*failed);
    }
    changed = true;
    return Settled(HandOutSessionKey(state, hostData, renewal));
}

// A deciphered vendor command under the current key: carried out while the session has room.
WrapReceipt Command(const BridgeState& state, std::span<const std::uint8_t> plain) {
    if (state.session.counter >= kWrappedPerSession) {
        return Settled(Outcome::Check(kSequenceError, "session key renewal due"));
    }
    WrapReceipt r;
    std::copy_n(plain.begin(), r.plain.size(), r.plain.begin());
    r.note = "wrapped " + HexBytes(std::vector<std::uint8_t>(r.plain.begin(), r.plain.end()));
    return r;
}

WrapReceipt ReceiveAes(BridgeState& state, std::span<const std::uint8_t> cdb,
                       std::span<std::uint8_t> hostData, DataDirection direction, bool& changed) {
    if (cdb[1] != 0) {
        return Settled(Outcome::Check(kInvalidField, "wrapped half with byte 1 set"));
    }
    if (cdb[0] == kWrapFirstHalf) {
        if (!hostData.empty()) {
            return Settled(Outcome::Check(kInvalidField, "first half has no data phase"));
        }
        if (auto failed = PlannedFailure(state, cdb[0], std::nullopt, changed)) {
            return Settled(*failed);
        }
        std::array<std::uint8_t, 8> half{};
        std::copy_n(cdb.begin() + 2, half.size(), half.begin());
        state.session.firstHalf = half;
        changed = true;
        Outcome o = Outcome::Good(0);
        o.note = "first half kept";
        return Settled(o);
    }
    if (!state.session.firstHalf) {
        return Settled(Outcome::Check(kSequenceError, "second half without a first half"));
    }
    Block enciphered{};
    std::copy(state.session.firstHalf->begin(), state.session.firstHalf->end(), enciphered.begin());
    std::copy_n(cdb.begin() + 2, 8, enciphered.begin() + 8);
    state.session.firstHalf.reset();
    changed = true;

    if (state.session.active()) {
        Block plain = enciphered;
        AesBlockReversed(state.session.key.data(), plain.data(), kAesDecrypt);
        if (IsKeyRequest(plain)) {
            if (state.session.counter != kWrappedPerSession) {
                return Settled(Outcome::Check(kSequenceError, "key renewal before it is due"));
            }
            return KeyRequest(state, cdb[0], true, hostData, direction, changed);
        }
        if (IsVendorBlock(plain)) {
            return Command(state, plain);
        }
    }
    Block plain = enciphered;
    AesBlockReversed(kWrapConstant.data(), plain.data(), kAesDecrypt);
    if (IsKeyRequest(plain)) {
        return KeyRequest(state, cdb[0], false, hostData, direction, changed);
    }
    return Settled(Outcome::Check(kInvalidField, state.session.active()
                                                     ? "not enciphered under the session key"
                                                     : "no session"));
}

WrapReceipt ReceiveScrambled(BridgeState& state, std::span<const std::uint8_t> cdb,
                             std::span<std::uint8_t> hostData, DataDirection direction,
                             bool& changed) {
    if (cdb[0] == kWrapFirstHalf) {
        return Settled(Outcome::Check(kInvalidOpcode, "no AES wrapping on this device"));
    }
    // The scrambled command's byte 0 stands for the envelope's 0x20.
    const auto unscramble = [&cdb](std::uint8_t key) {
        std::array<std::uint8_t, 10> plain{};
        plain[0] = 0x20;
        for (std::size_t i = 1; i < plain.size(); ++i) {
            plain[i] = UnscrambleByte(cdb[i], key);
        }
        return plain;
    };
    const std::uint8_t sessionKey = state.session.key[0];
    const auto underSession = unscramble(sessionKey);
    const bool active = state.session.active();
    if (active && IsKeyRequest(underSession) && state.session.counter == kWrappedPerSession) {
        return KeyRequest(state, cdb[0], true, hostData, direction, changed);
    }
    if (IsKeyRequest(unscramble(FoldKey(kWrapConstant)))) {
        return KeyRequest(state, cdb[0], false, hostData, direction, changed);
    }
    if (!active) {
        return Settled(Outcome::Check(kSequenceError, "no session"));
    }
    if (IsKeyRequest(underSession)) {
        return Settled(Outcome::Check(kSequenceError, "key renewal before it is due"));
    }
    // Byte 9 of every vendor command is zero: under a wrong key it is not.
    if (underSession[9] != 0) {
        return Settled(Outcome::Check(kInvalidField, "not scrambled under the session key"));
    }
    return Command(state, underSession);
}

}  // namespace

bool IsWrapperOpcode(std::uint8_t opcode) {
    return opcode == kWrapFirstHalf || opcode == kWrapSecondHalf;
}

std::uint8_t FoldKey(std::span<const std::uint8_t> bytes) {
    std::uint8_t fold = 0;
    for (std::uint8_t b : bytes) {
        if (b != 0 && b != fold) {
            fold ^= b;
        }
    }
    return fold;
}

WrapReceipt ReceiveWrapped(BridgeState& state, std::span<const std::uint8_t> cdb,
                           std::span<std::uint8_t> hostData, DataDirection direction,
                           bool& changed) {
    switch (state.wrap) {
        case Wrap::kAes:
            return ReceiveAes(state, cdb, hostData, direction, changed);
        case Wrap::kScramble:
            return ReceiveScrambled(state, cdb, hostData, direction, changed);
        case Wrap::kNone:
            break;
    }
    return Settled(Outcome::Check(kInvalidOpcode, "no wrapping on this device"));
}

void ForgetFirstHalf(BridgeState& state, std::uint8_t opcode, bool& changed) {
    if (opcode != kWrapSecondHalf && state.session.firstHalf) {
        state.session.firstHalf.reset();
        changed = true;
    }
}

bool PlainVendorRefused(const BridgeState& state, std::uint8_t opcode) {
    return opcode == 0x20 && state.wrapRequired && state.wrap != Wrap::kNone;
}

void CountWrapped(BridgeState& state) {
    if (state.session.active() && state.session.counter < kWrappedPerSession) {
        ++state.session.counter;
    }
}

void EndWrapSession(BridgeState& state) {
    state.session = {};
}

Shape EndSessionShape(const BridgeState&, std::span<const std::uint8_t, 10> cdb) {
    if (cdb[8] != 0x10 || !OthersZero(cdb, {8})) {
        return Shape::Refuse(kInvalidField, "end of session: byte 8 = 0x10, others zero");
    }
    return Shape::Of(DataDirection::kIn, kSessionAnswer);
}

Outcome EndSessionRun(CommandContext& context) {
    EndWrapSession(context.state);
    context.stateChanged = true;
    return Outcome::Good(kSessionAnswer);
}

}  // namespace kvx::sim
