#include "sim/bridge/aes_engine.h"

#include <algorithm>
#include <string>

#include "crypto/rijndael.h"
#include "crypto/sha256.h"
#include "crypto/wipe.h"
#include "sim/bridge/block_region.h"
#include "sim/bridge/hex.h"
#include "sim/bridge/medium.h"

namespace kvx::sim {
namespace {

constexpr char kOnKey[] = "aes_engine_on";
constexpr char kSecureKey[] = "aes_secure_on";
constexpr char kKeyKey[] = "aes_key";
constexpr char kIvKey[] = "aes_iv";
constexpr char kFormatStepKey[] = "format_step";
constexpr std::size_t kBlock = 16;

// A 16-byte key or IV as the state file keeps it, decoded in place.
void Block16FromHex(const std::string& text, std::optional<std::array<std::uint8_t, 16>>& out) {
    out.emplace();
    if (!HexInto(text, *out)) {
        SecureWipe(out->data(), out->size());
        out.reset();
    }
}

bool Flag(const BridgeState& s, const char* key) {
    const auto it = s.extra.find(key);
    return it != s.extra.end() && it->second == "yes";
}

// The chain start of one sector: AES(key, IV XOR sector number).
void SectorChain(CRijndael& aes, const std::array<std::uint8_t, 16>& iv, std::uint64_t lba,
                 std::uint8_t (&chain)[kBlock]) {
    std::copy(iv.begin(), iv.end(), chain);
    for (std::size_t i = 0; i < 8; ++i) {
        chain[i] ^= static_cast<std::uint8_t>(lba >> (8 * i));
    }
    aes.EncryptOneBlock(chain, chain);
}

void Transform(const BridgeState& state, std::uint64_t lba, std::span<std::uint8_t> data,
               bool encipher) {
    const EngineSettings engine = LoadEngine(state);
    if (!engine.Active()) {
        return;
    }
    CRijndael aes;
    aes.SetKey(engine.key->data(), nullptr, 16, 16);
    for (std::size_t at = 0; at + kSectorSize <= data.size(); at += kSectorSize) {
        const std::uint64_t sector = lba + at / kSectorSize;
        if (!InSecurePartition(state, sector)) {
            continue;
        }
        std::uint8_t chain[kBlock];
        SectorChain(aes, *engine.iv, sector, chain);
        for (std::size_t b = at; b < at + kSectorSize; b += kBlock) {
            std::uint8_t* block = data.data() + b;
            if (encipher) {
                for (std::size_t i = 0; i < kBlock; ++i) {
                    block[i] ^= chain[i];
                }
                aes.EncryptOneBlock(block, block);
                std::copy_n(block, kBlock, chain);
            } else {
                std::uint8_t cipher[kBlock];
                std::copy_n(block, kBlock, cipher);
                aes.DecryptOneBlock(block, block);
                for (std::size_t i = 0; i < kBlock; ++i) {
                    block[i] ^= chain[i];
                }
                std::copy_n(cipher, kBlock, chain);
            }
        }
        SecureWipe(chain, sizeof chain);
    }
}

Shape TwoIn(std::span<const std::uint8_t, 10> cdb, std::initializer_list<std::size_t> used, bool ok,
            const char* why) {
    if (!ok || !OthersZero(cdb, used)) {
        return Shape::Refuse(kInvalidField, why);
    }
    return Shape::Of(DataDirection::kIn, 2);
}

}  // namespace

EngineSettings LoadEngine(const BridgeState& state) {
    EngineSettings e;
    e.on = Flag(state, kOnKey);
    e.secureOn = Flag(state, kSecureKey);
    if (const auto it = state.extra.find(kKeyKey); it != state.extra.end()) {
        Block16FromHex(it->second, e.key);
    }
    if (const auto it = state.extra.find(kIvKey); it != state.extra.end()) {
        Block16FromHex(it->second, e.iv);
    }
    if (const auto it = state.extra.find(kFormatStepKey); it != state.extra.end()) {
        e.formatStep = it->second == "set";
    }
    return e;
}

void StoreEngine(BridgeState& state, const EngineSettings& engine) {
    state.extra[kOnKey] = engine.on ? "yes" : "no";
    state.extra[kSecureKey] = engine.secureOn ? "yes" : "no";
    const auto put = [&state](const char* key, const auto& value) {
        if (value) {
            state.extra[key] = ToHex(*value);
        } else {
            state.extra.erase(key);
        }
    };
    put(kKeyKey, engine.key);
    put(kIvKey, engine.iv);
    if (engine.formatStep) {
        state.extra[kFormatStepKey] = *engine.formatStep ? "set" : "clear";
    }
}

bool InSecurePartition(const BridgeState& state, std::uint64_t lba) {
    return lba >= state.secStart && lba < state.secStart + state.secSectors;
}

void EngineEncipher(const BridgeState& state, std::uint64_t lba, std::span<std::uint8_t> data) {
    Transform(state, lba, data, true);
}

void EngineDecipher(const BridgeState& state, std::uint64_t lba, std::span<std::uint8_t> data) {
    Transform(state, lba, data, false);
}

std::vector<std::uint8_t> EngineEnciphered(const BridgeState& state, std::uint64_t lba,
                                           std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> out(data.begin(), data.end());
    Transform(state, lba, out, true);
    return out;
}

// 0xF0: byte 2 = 16, sixteen key bytes out.
Shape AesKeyShape(const BridgeState& s, std::span<const std::uint8_t, 10> cdb) {
    if (!s.aesEngine) {
        return Shape::Refuse(kInvalidField, "no AES engine");
    }
    if (cdb[2] != 16 || !OthersZero(cdb, {2})) {
        return Shape::Refuse(kInvalidField, "key length must be 16");
    }
    return Shape::Of(DataDirection::kOut, 16);
}

Outcome AesKeyRun(CommandContext& c) {
    EngineSettings e = LoadEngine(c.state);
    e.key.emplace();
    std::copy_n(c.data.begin(), e.key->size(), e.key->begin());
    StoreEngine(c.state, e);
    c.stateChanged = true;
    return Outcome::Good(16);
}

// 0xF1: byte 2 = 12 (flash) or 16 (hard disks), that many IV bytes out.
Shape AesIvShape(const BridgeState& s, std::span<const std::uint8_t, 10> cdb) {
    if (!s.aesEngine) {
        return Shape::Refuse(kInvalidField, "no AES engine");
    }
    const std::uint8_t wanted = s.media == Media::kHdd ? 16 : 12;
    if (cdb[2] != wanted || !OthersZero(cdb, {2})) {
        return Shape::Refuse(kInvalidField, "IV length must be 16 on hard disks, 12 on flash");
    }
    return Shape::Of(DataDirection::kOut, wanted);
}

Outcome AesIvRun(CommandContext& c) {
    EngineSettings e = LoadEngine(c.state);
    e.iv.emplace();
    std::copy(c.data.begin(), c.data.end(), e.iv->begin());
    StoreEngine(c.state, e);
    c.stateChanged = true;
    return Outcome::Good(static_cast<std::uint32_t>(c.data.size()));
}

// 0xF2: byte 2 = 0 (off) or 1 (on), byte 3 = 1 on hard disks; two status bytes in.
Shape AesEnableShape(const BridgeState& s, std::span<const std::uint8_t, 10> cdb) {
    if (!s.aesEngine) {
        return Shape::Refuse(kInvalidField, "no AES engine");
    }
    const std::uint8_t hardDisk = s.media == Media::kHdd ? 1 : 0;
    return TwoIn(cdb, {2, 3}, cdb[2] <= 1 && cdb[3] == hardDisk,
                 "byte 2 must be 0 or 1, byte 3 the media option");
}

Outcome AesEnableRun(CommandContext& c) {
    EngineSettings e = LoadEngine(c.state);
    e.on = c.cdb[2] == 1;
    if (!e.on) {
        e.secureOn = false;  // the secure partition needs the engine
    }
    StoreEngine(c.state, e);
    c.stateChanged = true;
    c.data[0] = c.cdb[2];
    return Outcome::Good(2);
}

// 0xF4: byte 2 = 1; only with the engine on.
Shape SecAesEnableShape(const BridgeState& s, std::span<const std::uint8_t, 10> cdb) {
    if (!s.aesEngine) {
        return Shape::Refuse(kInvalidField, "no AES engine");
    }
    return TwoIn(cdb, {2}, cdb[2] == 1, "byte 2 must be 1");
}

Outcome SecAesEnableRun(CommandContext& c) {
    EngineSettings e = LoadEngine(c.state);
    if (!e.on) {
        return Outcome::Check(kInvalidField, "AES engine is off");
    }
    e.secureOn = true;
    StoreEngine(c.state, e);
    c.stateChanged = true;
    c.data[0] = 1;
    return Outcome::Good(2);
}

// 0x88 / 0x89: the format step flag; two status bytes in.
Shape FormatStepShape(const BridgeState&, std::span<const std::uint8_t, 10> cdb) {
    return TwoIn(cdb, {}, true, "bytes 2-9 not zero");
}

Outcome FormatStepRun(CommandContext& c) {
    EngineSettings e = LoadEngine(c.state);
    e.formatStep = c.cdb[1] == 0x88;
    StoreEngine(c.state, e);
    c.stateChanged = true;
    c.data[0] = c.cdb[1];
    return Outcome::Good(2);
}

std::array<std::uint8_t, 32> DeviceImageStamp(const BridgeState& state) {
    std::string seed = "image stamp " + state.serial;
    seed.resize(std::min<std::size_t>(seed.size(), kMaxHashSecretLength));
    std::array<std::uint8_t, 32> stamp{};
    (void)HashSecret({reinterpret_cast<const std::uint8_t*>(seed.data()), seed.size()},
                     stamp.data(), nullptr, false);
    return stamp;
}

bool WriteStampRecord(const BridgeState& state, const DevicePaths& paths) {
    if (state.media != Media::kHdd || !state.aesEngine || state.sectors < kStampRecordFromEnd) {
        return false;
    }
    // Record length 64: the stamp in the body at 32, the trailer at 64.
    constexpr std::size_t kLength = 64;
    constexpr std::size_t kStampAt = 32;
    std::vector<std::uint8_t> record((kLength + 511) / 512 * 512 + 512, 0);
    const std::uint8_t magic[] = {0xB6, 0xC3, 0xAA, 0x55};
    std::copy(std::begin(magic), std::end(magic), record.begin());
    record[10] = 2;
    record[12] = static_cast<std::uint8_t>(kLength);
    record[13] = static_cast<std::uint8_t>(kLength >> 8);
    const auto stamp = DeviceImageStamp(state);
    std::copy(stamp.begin(), stamp.end(), record.begin() + kStampAt);
    std::uint8_t* trailer = record.data() + kLength;
    trailer[12] = 0xB6;
    trailer[13] = 0xC3;
    trailer[16] = 0x80;
    trailer[18] = 1;
    trailer[50] = static_cast<std::uint8_t>(stamp.size());
    trailer[52] = static_cast<std::uint8_t>(kStampAt);
    const std::size_t pieces = (kLength + 47) / 16 + 1;
    EncipherRegion(std::span(record).subspan(16, pieces * 16), BlockRegionKey(state));
    return WriteSectors(paths.hidden, state.sectors - kStampRecordFromEnd, record);
}

}  // namespace kvx::sim
