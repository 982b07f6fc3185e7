// What the bridge keeps about logins: the verify count (remaining tries, kept across power
// cycles) and, only while powered, the exchange under way and whether the password was verified.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kvx::sim {

// The verify count a device starts with, and gets back when its block region is rewritten.
inline constexpr std::uint8_t kVerifyCountStart = 5;

// The two exchanges of vendor command 0xC8, told apart by CDB byte 3.
enum class Exchange : std::uint8_t { kPassword = 0, kIdentifier = 1 };

constexpr std::size_t ExchangeIndex(Exchange e) {
    return static_cast<std::size_t>(e);
}

using Challenge = std::array<std::uint8_t, 16>;
using Response = std::array<std::uint8_t, 32>;

struct AuthSession {
    // Per exchange (index = CDB byte 3): the challenge handed out by step 1 and the response
    // step 2 brought for it. Step 3 uses both up.
    std::array<std::optional<Challenge>, 2> challenge;
    std::array<std::optional<Response>, 2> response;
    bool identifierVerified = false;  // hard disks: the identifier exchange succeeded
    bool unlocked = false;            // the password was verified

    std::optional<Challenge>& ChallengeOf(Exchange e) { return challenge[ExchangeIndex(e)]; }
    std::optional<Response>& ResponseOf(Exchange e) { return response[ExchangeIndex(e)]; }
};

// Hex text of an optional byte array ("none" when absent) and back; nullopt for malformed text.
std::string FormatAuthBytes(const std::optional<Challenge>& bytes);
std::string FormatAuthBytes(const std::optional<Response>& bytes);
std::optional<std::optional<Challenge>> ParseChallengeText(std::string_view text);
std::optional<std::optional<Response>> ParseResponseText(std::string_view text);

}  // namespace kvx::sim
