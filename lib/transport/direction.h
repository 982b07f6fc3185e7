// Data-phase direction codes of the command helpers (the ASPI flag values): 8 = in, 16 = out,
// 0 = none; 1 and 2 are accepted as in and none.
#pragma once

#include <cstdint>
#include <optional>

#include "host/host_types.h"

namespace kvx {

inline constexpr std::uint8_t kDirNone = 0;
inline constexpr std::uint8_t kDirIn = 8;
inline constexpr std::uint8_t kDirOut = 16;

// nullopt for a code outside the table.
inline std::optional<DataDirection> ToDataDirection(std::uint8_t code) {
    switch (code) {
        case 8:
        case 1:
            return DataDirection::kIn;
        case 16:
            return DataDirection::kOut;
        case 0:
        case 2:
            return DataDirection::kNone;
        default:
            return std::nullopt;
    }
}

}  // namespace kvx
