// The bridge's AES engine: programmed by the format (0xF2 enable, 0xF0 key, 0xF4 secure enable,
// 0xF1 IV), it enciphers the secure partition's sectors on their way to the medium image and
// deciphers them on their way back, so the image never holds the plaintext file system.
//
// Per sector (512 bytes at medium sector s): AES-128 in CBC mode under the engine key, the chain
// starting from AES(key, IV XOR s), s as eight bytes least significant first over IV bytes 0-7.
// A 12-byte IV is zero-extended. The engine settings live in the device's state file
// (keys aes_engine_on, aes_secure_on, aes_key, aes_iv, format_step) and survive a replug.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "crypto/wipe.h"
#include "sim/bridge/bridge_state.h"
#include "sim/bridge/commands.h"
#include "sim/bridge/device_dir.h"

namespace kvx::sim {

struct EngineSettings {
    bool on = false;        // 0xF2 with byte 2 = 1
    bool secureOn = false;  // 0xF4
    std::optional<std::array<std::uint8_t, 16>> key;
    std::optional<std::array<std::uint8_t, 16>> iv;
    std::optional<bool> formatStep;  // 0x88 sets it, 0x89 clears it

    // Whether sectors of the secure partition go through the cipher.
    bool Active() const { return on && secureOn && key && iv; }

    // The settings are loaded for every sector transfer; each copy wipes its key and IV.
    ~EngineSettings() {
        if (key) {
            SecureWipe(key->data(), key->size());
        }
        if (iv) {
            SecureWipe(iv->data(), iv->size());
        }
    }
};

EngineSettings LoadEngine(const BridgeState& state);
void StoreEngine(BridgeState& state, const EngineSettings& engine);

// Whether medium sector `lba` belongs to the secure partition.
bool InSecurePartition(const BridgeState& state, std::uint64_t lba);

// Enciphers (on the way to the image) or deciphers (on the way back) the sectors of `data` that
// start at medium sector `lba` and lie in the secure partition, when the engine is active.
void EngineEncipher(const BridgeState& state, std::uint64_t lba, std::span<std::uint8_t> data);
void EngineDecipher(const BridgeState& state, std::uint64_t lba, std::span<std::uint8_t> data);
// A copy of host data as it goes to the image (the host's buffer stays as it was).
std::vector<std::uint8_t> EngineEnciphered(const BridgeState& state, std::uint64_t lba,
                                           std::span<const std::uint8_t> data);

// The vendor commands of the engine, for the firmware's table.
Shape AesKeyShape(const BridgeState& state, std::span<const std::uint8_t, 10> cdb);
Outcome AesKeyRun(CommandContext& c);
Shape AesIvShape(const BridgeState& state, std::span<const std::uint8_t, 10> cdb);
Outcome AesIvRun(CommandContext& c);
Shape AesEnableShape(const BridgeState& state, std::span<const std::uint8_t, 10> cdb);
Outcome AesEnableRun(CommandContext& c);
Shape SecAesEnableShape(const BridgeState& state, std::span<const std::uint8_t, 10> cdb);
Outcome SecAesEnableRun(CommandContext& c);
Shape FormatStepShape(const BridgeState& state, std::span<const std::uint8_t, 10> cdb);
Outcome FormatStepRun(CommandContext& c);

// The image stamp of a hard disk with the engine: a record in the hidden area at total - 33.
inline constexpr std::uint64_t kStampRecordFromEnd = 33;
// The device's 32-byte stamp.
std::array<std::uint8_t, 32> DeviceImageStamp(const BridgeState& state);
// Writes the stamp record (hard disks with the engine; others have none: false).
bool WriteStampRecord(const BridgeState& state, const DevicePaths& paths);

}  // namespace kvx::sim
