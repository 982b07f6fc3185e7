#include "sim/bridge/authentication.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <random>
#include <utility>

#include "crypto/sha256.h"
#include "crypto/wipe.h"
#include "sim/bridge/block_region.h"

namespace kvx::sim {
namespace {

using Cdb = std::span<const std::uint8_t, 10>;

constexpr std::uint8_t kStepChallenge = 1;
constexpr std::uint8_t kStepResponse = 2;
constexpr std::uint8_t kStepCheck = 3;
constexpr std::uint8_t kStepVerifyCount = 4;
constexpr std::uint8_t kStepLaunch = 5;

// A step that came out of order, or a check with nothing to check against.
constexpr Sense kSequenceError{0x05, 0x2C, 0x00};
// The response did not match.
constexpr Sense kResponseRefused{0x05, 0x26, 0x00};
// No login allowed (verify count used up), or no login yet for the launch.
constexpr Sense kNotAuthorized{0x07, 0x74, 0x71};

std::uint32_t Le32(const std::uint8_t* b) {
    return std::uint32_t{b[0]} | (std::uint32_t{b[1]} << 8) | (std::uint32_t{b[2]} << 16) |
           (std::uint32_t{b[3]} << 24);
}

// Constant-time comparison of the response.
bool SameResponse(const Response& a, const Response& b) {
    std::uint8_t diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        diff = static_cast<std::uint8_t>(diff | (a[i] ^ b[i]));
    }
    return diff == 0;
}

Exchange ExchangeOf(Cdb cdb) {
    return cdb[3] == 1 ? Exchange::kIdentifier : Exchange::kPassword;
}

Outcome IssueChallenge(CommandContext& c, Exchange e) {
    Challenge challenge{};
    FirmwareRandom(challenge);
    c.state.auth.ChallengeOf(e) = challenge;
    c.state.auth.ResponseOf(e).reset();
    c.stateChanged = true;
    std::copy(challenge.begin(), challenge.end(), c.data.begin());
    return Outcome::Good(static_cast<std::uint32_t>(challenge.size()));
}

Outcome TakeResponse(CommandContext& c, Exchange e) {
    if (!c.state.auth.ChallengeOf(e)) {
        return Outcome::Check(kSequenceError, "response without a challenge");
    }
    Response response{};
    std::copy_n(c.data.begin(), response.size(), response.begin());
    c.state.auth.ResponseOf(e) = response;
    c.stateChanged = true;
    return Outcome::Good(static_cast<std::uint32_t>(response.size()));
}

Outcome Check(CommandContext& c, Exchange e) {
    BridgeState& st = c.state;
    AuthSession& auth = st.auth;
    // A challenge serves one check, whatever its outcome.
    const std::optional<Challenge> challenge = std::exchange(auth.ChallengeOf(e), std::nullopt);
    const std::optional<Response> response = std::exchange(auth.ResponseOf(e), std::nullopt);
    c.stateChanged = true;
    if (!challenge || !response) {
        return Outcome::Check(kSequenceError, "check without challenge and response");
    }
    if (e == Exchange::kPassword) {
        if (st.verifyCount == 0) {
            return Outcome::Check(kNotAuthorized, "verify count used up");
        }
        if (st.media == Media::kHdd && !auth.identifierVerified) {
            return Outcome::Check(kSequenceError, "identifier exchange first");
        }
    }
    const auto region = LoadBlockRegion(st, c.paths);
    if (!region) {
        return Outcome::Check(kMediumError, "block region unreadable");
    }
    if (!region->index) {
        return Outcome::Check(kSequenceError, "no data block");
    }
    const auto block = region->Block();
    const bool password = e == Exchange::kPassword;
    if (!HasMarker(block, password ? datablock::kPasswordMarker : datablock::kIdMarker)) {
        return Outcome::Check(kSequenceError,
                              password ? "no password stored" : "no identifier digest stored");
    }
    const std::span<const std::uint8_t, 32> digest(
        block.data() + (password ? datablock::kPasswordDigest : datablock::kIdDigest), 32);
    const bool good = SameResponse(ExpectedResponse(digest, *challenge), *response);
    if (!password) {
        auth.identifierVerified = good;
        return good ? Outcome::Good(0) : Outcome::Check(kResponseRefused, "identifier refused");
    }
    if (!good) {
        --st.verifyCount;
        return Outcome::Check(kResponseRefused, "password refused");
    }
    st.verifyCount = kVerifyCountStart;
    auth.unlocked = true;
    st.secureOpen = true;
    return Outcome::Good(0);
}

Outcome Launch(CommandContext& c) {
    if (c.state.passwordSet && !c.state.auth.unlocked) {
        return Outcome::Check(kNotAuthorized, "launch without a login");
    }
    if (!c.state.secureOpen) {
        c.state.secureOpen = true;
        c.stateChanged = true;
    }
    return Outcome::Good(0);
}

}  // namespace

Shape AuthenticateShape(const BridgeState& state, Cdb cdb) {
    const std::uint8_t step = cdb[2];
    const bool variantOk = cdb[3] <= 1;
    if (step >= kStepChallenge && step <= kStepCheck) {
        if (!variantOk) {
            return Shape::Refuse(kInvalidField, "byte 3 neither 0 nor 1");
        }
        if (cdb[3] == 1 && state.media == Media::kFlash) {
            return Shape::Refuse(kInvalidField, "no identifier exchange on flash media");
        }
    }
    switch (step) {
        case kStepChallenge:
            if (cdb[8] == 0x10 && OthersZero(cdb, {2, 3, 8})) {
                return Shape::Of(DataDirection::kIn, 16);
            }
            break;
        case kStepResponse:
            if (cdb[8] == 0x20 && OthersZero(cdb, {2, 3, 8})) {
                return Shape::Of(DataDirection::kOut, 32);
            }
            break;
        case kStepCheck:
            if (OthersZero(cdb, {2, 3})) {
                return Shape::None();
            }
            break;
        case kStepVerifyCount:
            if (cdb[8] == 1 && OthersZero(cdb, {2, 8})) {
                return Shape::Of(DataDirection::kIn, 1);
            }
            break;
        case kStepLaunch:
            if (OthersZero(cdb, {2})) {
                return Shape::None();
            }
            break;
        default:
            return Shape::Refuse(kInvalidField, "unknown authentication step");
    }
    return Shape::Refuse(kInvalidField, "bad bytes for authentication step " +
                                            std::to_string(static_cast<unsigned>(step)));
}

Outcome AuthenticateRun(CommandContext& c) {
    const Exchange e = ExchangeOf(c.cdb.first<10>());
    switch (c.cdb[2]) {
        case kStepChallenge:
            return IssueChallenge(c, e);
        case kStepResponse:
            return TakeResponse(c, e);
        case kStepCheck:
            return Check(c, e);
        case kStepVerifyCount:
            c.data[0] = c.state.verifyCount;
            return Outcome::Good(1);
        case kStepLaunch:
            return Launch(c);
        default:
            return Outcome::Check(kInvalidField, "unknown authentication step");
    }
}

Response ExpectedResponse(std::span<const std::uint8_t, 32> storedDigest,
                          const Challenge& challenge) {
    std::uint32_t state[8];
    for (std::size_t i = 0; i < 8; ++i) {
        state[i] = Le32(storedDigest.data() + 4 * i);
    }
    std::uint32_t block[16];
    BuildChainedBlock(challenge.data(), block);
    Sha256Compress(state, block);
    Response out{};
    for (std::size_t i = 0; i < 8; ++i) {
        for (std::size_t j = 0; j < 4; ++j) {
            out[4 * i + j] = static_cast<std::uint8_t>(state[i] >> (8 * j));
        }
    }
    SecureWipe(state, sizeof state);
    SecureWipe(block, sizeof block);
    return out;
}

std::array<std::uint8_t, 16> UnlockValue(std::span<const std::uint8_t, 32> passwordDigest,
                                         const Challenge& challenge) {
    std::uint8_t hash[32];
    (void)HashSecret(passwordDigest.first<16>(), hash, challenge.data(), true);
    std::array<std::uint8_t, 16> value{};
    for (std::size_t i = 0; i < value.size(); ++i) {
        value[i] = hash[value.size() - 1 - i];
    }
    SecureWipe(hash, sizeof hash);
    return value;
}

void NoteSectorWrite(CommandContext& c, std::uint64_t lba, std::uint32_t count, bool hidden) {
    if (!BlockRegionOf(c.state).Overlaps(lba, count, hidden)) {
        return;
    }
    const auto region = LoadBlockRegion(c.state, c.paths);
    if (!region || !region->index) {
        return;
    }
    // A rewritten block carries the password the device now protects with, and a fresh count.
    c.state.passwordSet = HasMarker(region->Block(), datablock::kPasswordMarker);
    c.state.verifyCount = kVerifyCountStart;
    c.stateChanged = true;
}

void FirmwareRandom(std::span<std::uint8_t> out) {
    static std::mutex mutex;
    static std::mt19937_64 engine = [] {
        std::random_device device;
        std::seed_seq seed{
            device(), device(), device(), device(),
            static_cast<unsigned>(
                std::chrono::high_resolution_clock::now().time_since_epoch().count())};
        return std::mt19937_64(seed);
    }();
    const std::lock_guard lock(mutex);
    for (std::uint8_t& b : out) {
        b = static_cast<std::uint8_t>(engine() >> 56);
    }
}

}  // namespace kvx::sim
