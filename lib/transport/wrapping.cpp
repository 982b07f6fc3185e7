#include "transport/wrapping.h"

#include <algorithm>
#include <cstring>

#include "crypto/aes_reversed.h"
#include "crypto/sha256.h"
#include "crypto/wipe.h"
#include "crypto/wrap_constant.h"

namespace kvx {

std::uint8_t FoldBytes(std::span<const std::uint8_t> bytes) {
    std::uint8_t value = 0;
    for (std::uint8_t b : bytes) {
        if (b != 0 && b != value) {
            value = static_cast<std::uint8_t>(value ^ b);
        }
    }
    return value;
}

std::array<std::uint8_t, 16> SessionKeyRequestBlock() {
    std::array<std::uint8_t, 16> block{};
    block[0] = kVendorOpcode;
    block[1] = kSessionKeyRequest;
    block[8] = 0x10;
    return block;
}

namespace {

constexpr std::uint8_t kWrappedCdbLength = 10;
constexpr std::uint32_t kSessionAnswerLength = 16;

struct WrapStep {
    bool renewal = false;
    std::uint8_t counter = 0;  // the counter this command starts from
};

WrapStep StartStep(const DeviceState& state) {
    if (state.wrapCounter == kCommandsPerSession) {
        return {true, 0};
    }
    return {false, state.wrapCounter};
}

CommandOutcome SendPlain(const DeviceState& state, const CommandTarget& target,
                         const std::uint8_t* cdb, std::uint8_t* data, std::uint32_t dataLength,
                         DataDirection direction) {
    return ExecutePassThrough(state, target, cdb, kWrappedCdbLength, data, dataLength, 0,
                              direction);
}

// The two enciphered halves of one 16-byte block; the second carries the data phase and decides.
CommandOutcome SendAesHalves(const DeviceState& state, const CommandTarget& target,
                             const std::uint8_t key[16], std::array<std::uint8_t, 16> block,
                             std::uint8_t* data, std::uint32_t dataLength,
                             DataDirection direction) {
    AesBlockReversed(key, block.data(), kAesEncrypt);
    std::uint8_t first[kMaxCdbLength] = {kAesFirstHalfOpcode, 0};
    std::uint8_t second[kMaxCdbLength] = {kSecondHalfOpcode, 0};
    std::memcpy(first + 2, block.data(), 8);
    std::memcpy(second + 2, block.data() + 8, 8);
    CommandOutcome outcome = SendPlain(state, target, first, nullptr, 0, DataDirection::kNone);
    if (!outcome) {
        return outcome;
    }
    return SendPlain(state, target, second, data, dataLength, direction);
}

CommandOutcome SendAesWrapped(DeviceState& state, const CommandTarget& target,
                              const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint8_t* data,
                              std::uint32_t dataLength, DataDirection direction) {
    const WrapStep step = StartStep(state);
    const bool haveSession = std::any_of(std::begin(state.sessionKey), std::end(state.sessionKey),
                                         [](std::uint8_t b) { return b != 0; });
    if (haveSession && !step.renewal) {
        std::array<std::uint8_t, 16> block{};
        std::memcpy(block.data(), cdb, cdbLength);
        CommandOutcome outcome =
            SendAesHalves(state, target, state.sessionKey, block, data, dataLength, direction);
        if (outcome) {
            state.wrapCounter = static_cast<std::uint8_t>(step.counter + 1);
        }
        return outcome;
    }
    // Exchange: a new session key, under the old one when renewing, else under the constant.
    std::uint8_t key[16];
    std::memcpy(key, step.renewal ? state.sessionKey : kWrapConstant.data(), sizeof key);
    std::uint8_t answer[kSessionAnswerLength];
    CommandOutcome exchange = SendAesHalves(state, target, key, SessionKeyRequestBlock(), answer,
                                            sizeof answer, DataDirection::kIn);
    SecureWipe(key, sizeof key);
    if (!exchange) {
        SecureWipe(answer, sizeof answer);
        exchange.delivered = 0;  // the caller's buffer got nothing
        return exchange;
    }
    std::uint8_t derived[32];
    DeriveSessionKey(answer, kWrapConstant.data(), derived);
    std::memcpy(state.sessionKey, derived, sizeof state.sessionKey);
    state.wrapCounter = static_cast<std::uint8_t>(step.counter + 1);
    SecureWipe(derived, sizeof derived);
    SecureWipe(answer, sizeof answer);
    return DispatchCdb(state, target, cdb, cdbLength, data, dataLength, direction);
}

CommandOutcome SendScrambled(DeviceState& state, const CommandTarget& target,
                             const std::uint8_t* cdb, std::uint8_t cdbLength, std::uint8_t* data,
                             std::uint32_t dataLength, DataDirection direction) {
    const WrapStep step = StartStep(state);
    std::uint8_t key = state.sessionKey[0];
    const bool plain = key != 0 && !step.renewal;
    if (key == 0 && !step.renewal) {
        key = FoldBytes(kWrapConstant);
    }
    std::array<std::uint8_t, kMaxCdbLength> block{};
    if (plain) {
        std::memcpy(block.data(), cdb, cdbLength);
    } else {
        const auto request = SessionKeyRequestBlock();
        std::copy(request.begin(), request.end(), block.begin());
    }
    for (std::size_t i = 1; i < cdbLength; ++i) {
        block[i] = ScrambleByte(block[i], key);
    }
    block[0] = kSecondHalfOpcode;
    if (plain) {
        CommandOutcome outcome = ExecutePassThrough(state, target, block.data(), cdbLength, data,
                                                    dataLength, 0, direction);
        if (outcome) {
            state.wrapCounter = static_cast<std::uint8_t>(step.counter + 1);
        }
        return outcome;
    }
    std::uint8_t answer[kSessionAnswerLength];
    CommandOutcome exchange = ExecutePassThrough(state, target, block.data(), cdbLength, answer,
                                                 sizeof answer, 0, DataDirection::kIn);
    if (!exchange) {
        SecureWipe(answer, sizeof answer);
        exchange.delivered = 0;  // the caller's buffer got nothing
        return exchange;
    }
    std::uint8_t derived[32];
    DeriveSessionKey(answer, kWrapConstant.data(), derived);
    state.sessionKey[0] = FoldBytes(derived);
    state.wrapCounter = static_cast<std::uint8_t>(step.counter + 1);
    SecureWipe(derived, sizeof derived);
    SecureWipe(answer, sizeof answer);
    return DispatchCdb(state, target, cdb, cdbLength, data, dataLength, direction);
}

}  // namespace

CommandOutcome SendWrapped(DeviceState& state, const CommandTarget& target, const std::uint8_t* cdb,
                           std::uint8_t cdbLength, std::uint8_t* data, std::uint32_t dataLength,
                           DataDirection direction) {
    if (state.wrapMode == kWrapAes) {
        return SendAesWrapped(state, target, cdb, cdbLength, data, dataLength, direction);
    }
    return SendScrambled(state, target, cdb, cdbLength, data, dataLength, direction);
}

}  // namespace kvx
