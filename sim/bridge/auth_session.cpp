#include "sim/bridge/auth_session.h"

#include <algorithm>
#include <vector>

#include "sim/bridge/command_log.h"

namespace kvx::sim {
namespace {

template <std::size_t N>
std::string Format(const std::optional<std::array<std::uint8_t, N>>& bytes) {
    return bytes ? HexBytes(std::vector<std::uint8_t>(bytes->begin(), bytes->end())) : "none";
}

template <std::size_t N>
std::optional<std::optional<std::array<std::uint8_t, N>>> Parse(std::string_view text) {
    if (text == "none") {
        return std::optional<std::array<std::uint8_t, N>>{};
    }
    const auto bytes = ParseHexBytes(text);
    if (!bytes || bytes->size() != N) {
        return std::nullopt;
    }
    std::array<std::uint8_t, N> out{};
    std::copy(bytes->begin(), bytes->end(), out.begin());
    return std::optional(out);
}

}  // namespace

std::string FormatAuthBytes(const std::optional<Challenge>& bytes) {
    return Format(bytes);
}

std::string FormatAuthBytes(const std::optional<Response>& bytes) {
    return Format(bytes);
}

std::optional<std::optional<Challenge>> ParseChallengeText(std::string_view text) {
    return Parse<16>(text);
}

std::optional<std::optional<Response>> ParseResponseText(std::string_view text) {
    return Parse<32>(text);
}

}  // namespace kvx::sim
