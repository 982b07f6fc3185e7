// Fixed-format sense data of the emulated bridge.
#pragma once

#include <array>
#include <cstdint>

namespace kvx::sim {

struct Sense {
    std::uint8_t key = 0;  // sense byte 2: the key in bits 0-3, flags (ILI 0x20) above
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
};

inline constexpr Sense kNoSense{0x00, 0x00, 0x00};
inline constexpr Sense kNotReady{0x02, 0x04, 0x00};         // logical unit not ready
inline constexpr Sense kInvalidOpcode{0x05, 0x20, 0x00};    // invalid command operation code
inline constexpr Sense kLbaOutOfRange{0x05, 0x21, 0x00};    // logical block address out of range
inline constexpr Sense kInvalidField{0x05, 0x24, 0x00};     // invalid field in CDB
inline constexpr Sense kParameterLength{0x05, 0x1A, 0x00};  // parameter list length error
inline constexpr Sense kPowerOnReset{0x06, 0x29, 0x00};     // power on, reset or bus reset
inline constexpr Sense kWriteProtected{0x07, 0x27, 0x00};   // write protected
inline constexpr Sense kMediumError{0x03, 0x11, 0x00};      // unrecovered read error
inline constexpr Sense kWriteFault{0x03, 0x0C, 0x00};       // write error

inline constexpr std::uint8_t kStatusGood = 0x00;
inline constexpr std::uint8_t kStatusCheckCondition = 0x02;

inline std::array<std::uint8_t, 18> FixedSense(Sense s) {
    std::array<std::uint8_t, 18> data{};
    data[0] = 0x70;  // current error, fixed format
    data[2] = s.key;
    data[7] = 10;  // additional sense length
    data[12] = s.asc;
    data[13] = s.ascq;
    return data;
}

}  // namespace kvx::sim
