// The bridge's wrapping session as the firmware keeps it while powered: the session key it handed
// out, how many wrapped commands it took since, and the first half of an AES-wrapped command that
// waits for its second half. A replug ends the session.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "crypto/wipe.h"

namespace kvx::sim {

struct WrapSession {
    std::array<std::uint8_t, 16> key{};  // all zero = no session; the scrambled form uses byte 0
    std::uint8_t counter = 0;            // wrapped commands since the last key request (it counts)
    std::optional<std::array<std::uint8_t, 8>> firstHalf;  // E0..E7 of the last 0x22

    // Every copy of the state (one per command) wipes its session key when it goes.
    ~WrapSession() {
        SecureWipe(key.data(), key.size());
        if (firstHalf) {
            SecureWipe(firstHalf->data(), firstHalf->size());
        }
    }

    bool active() const {
        for (std::uint8_t b : key) {
            if (b != 0) {
                return true;
            }
        }
        return false;
    }
};

// Lower-case hex of bytes, and back into exactly out.size() bytes.
std::string SessionHex(std::span<const std::uint8_t> bytes);
bool ParseSessionHex(std::string_view text, std::span<std::uint8_t> out);

}  // namespace kvx::sim
