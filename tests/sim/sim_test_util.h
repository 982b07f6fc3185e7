// Small helpers of the emulator tests: running one command on a bridge and reading the answer.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "sim/bridge/bridge.h"
#include "tools/kvxsim/kvxsim_cli.h"

namespace kvx::test {

struct Ran {
    sim::BridgeReply reply;
    std::vector<std::uint8_t> data;

    // Sense byte 2, ASC, ASCQ.
    std::array<std::uint8_t, 3> sense() const {
        return {reply.sense[2], reply.sense[12], reply.sense[13]};
    }
    bool good() const { return reply.delivered && reply.status == sim::kStatusGood; }
};

// Sends `cdb` to a unit with a data buffer of `length` bytes (data out: `out`, zero padded;
// data in: pre-filled with `fill` so that untouched bytes show).
inline Ran Exec(sim::Bridge& bridge, sim::Unit unit, const std::vector<std::uint8_t>& cdb,
                DataDirection direction, std::size_t length,
                const std::vector<std::uint8_t>& out = {}, std::uint8_t fill = 0xEE) {
    Ran r;
    r.data.assign(length, direction == DataDirection::kOut ? 0 : fill);
    std::copy_n(out.begin(), std::min(out.size(), length), r.data.begin());
    r.reply = bridge.Execute(unit, cdb, r.data, direction);
    return r;
}

inline std::vector<std::uint8_t> Vendor(std::uint8_t sub,
                                        std::array<std::uint8_t, 8> bytes2to9 = {}) {
    std::vector<std::uint8_t> cdb{0x20, sub};
    cdb.insert(cdb.end(), bytes2to9.begin(), bytes2to9.end());
    return cdb;
}

// The 0xCF sector command: lba and count big-endian, flags bit 0 read, bit 1 hidden.
inline std::vector<std::uint8_t> SectorCdb(std::uint32_t lba, std::uint16_t count,
                                           std::uint8_t flags) {
    return {0x20,
            0xCF,
            static_cast<std::uint8_t>(lba >> 24),
            static_cast<std::uint8_t>(lba >> 16),
            static_cast<std::uint8_t>(lba >> 8),
            static_cast<std::uint8_t>(lba),
            flags,
            static_cast<std::uint8_t>(count >> 8),
            static_cast<std::uint8_t>(count),
            0};
}

inline std::vector<std::uint8_t> Rw10(std::uint8_t opcode, std::uint32_t lba, std::uint16_t count) {
    return {opcode,
            0,
            static_cast<std::uint8_t>(lba >> 24),
            static_cast<std::uint8_t>(lba >> 16),
            static_cast<std::uint8_t>(lba >> 8),
            static_cast<std::uint8_t>(lba),
            0,
            static_cast<std::uint8_t>(count >> 8),
            static_cast<std::uint8_t>(count),
            0};
}

inline std::vector<std::uint8_t> Inquiry(std::uint8_t length) {
    return {0x12, 0, 0, 0, length, 0, 0, 0, 0, 0};
}

inline std::uint32_t Le32(const std::vector<std::uint8_t>& d, std::size_t at) {
    return static_cast<std::uint32_t>(d[at]) | static_cast<std::uint32_t>(d[at + 1]) << 8 |
           static_cast<std::uint32_t>(d[at + 2]) << 16 |
           static_cast<std::uint32_t>(d[at + 3]) << 24;
}

inline std::vector<std::uint8_t> Pattern(std::size_t length, std::uint8_t seed) {
    std::vector<std::uint8_t> p(length);
    for (std::size_t i = 0; i < length; ++i) {
        p[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    }
    return p;
}

// kvxsim run in process: its exit code and what it printed.
struct CliResult {
    int code;
    std::string out;
    std::string err;
};

inline CliResult Cli(std::vector<std::string> args) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = sim::RunKvxsim(args, out, err);
    return {code, out.str(), err.str()};
}

// The exit code, with what kvxsim printed (out, then err) in `output`.
inline int Cli(std::vector<std::string> args, std::string* output) {
    CliResult r = Cli(std::move(args));
    *output = r.out + r.err;
    return r.code;
}

// The "key: value" lines of `kvxsim info`, the last of each key; fault lines (there may be
// several) are left out.
inline std::map<std::string, std::string> KeyValues(const std::string& text) {
    std::map<std::string, std::string> kv;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(": ");
        if (colon != std::string::npos && line.substr(0, colon) != "fault") {
            kv[line.substr(0, colon)] = line.substr(colon + 2);
        }
    }
    return kv;
}

}  // namespace kvx::test
