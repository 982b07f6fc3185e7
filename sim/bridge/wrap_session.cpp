#include "sim/bridge/wrap_session.h"

#include "sim/bridge/hex.h"

namespace kvx::sim {

std::string SessionHex(std::span<const std::uint8_t> bytes) {
    return ToHex(bytes);
}

bool ParseSessionHex(std::string_view text, std::span<std::uint8_t> out) {
    return HexInto(text, out);
}

}  // namespace kvx::sim
