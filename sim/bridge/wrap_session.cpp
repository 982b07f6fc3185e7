#include "sim/bridge/wrap_session.h"

#include <algorithm>

#include "sim/bridge/hex.h"

namespace kvx::sim {

std::string SessionHex(std::span<const std::uint8_t> bytes) {
    return ToHex(bytes);
}

bool ParseSessionHex(std::string_view text, std::span<std::uint8_t> out) {
    const auto bytes = FromHex(text);
    if (!bytes || bytes->size() != out.size()) {
        return false;
    }
    std::copy(bytes->begin(), bytes->end(), out.begin());
    return true;
}

}  // namespace kvx::sim
