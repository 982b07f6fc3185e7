#include "sim/bridge/provision.h"

#include <algorithm>
#include <vector>

#include "crypto/secret_text.h"
#include "crypto/sha256.h"
#include "crypto/wipe.h"
#include "host/codepage.h"
#include "sim/bridge/authentication.h"
#include "sim/bridge/block_region.h"
#include "sim/machine.h"

namespace kvx::sim {
namespace {

void PutBe16(std::span<std::uint8_t> block, std::size_t at, std::uint16_t value) {
    block[at] = static_cast<std::uint8_t>(value >> 8);
    block[at + 1] = static_cast<std::uint8_t>(value);
}

// The device's hint scramble: each byte h becomes swap-nibbles(NOT(h XOR key)).
std::uint8_t ScrambleHintByte(std::uint8_t h, std::uint8_t key) {
    const auto v = static_cast<std::uint8_t>(~(h ^ key));
    return static_cast<std::uint8_t>((v << 4) | (v >> 4));
}

// An unchained digest of a secret: the hash reads it up to its first zero byte.
void PutDigest(std::span<std::uint8_t> block, std::size_t markerAt, std::size_t digestAt,
               std::span<const std::uint8_t> secret) {
    secret = secret.first(static_cast<std::size_t>(
        std::find(secret.begin(), secret.end(), std::uint8_t{0}) - secret.begin()));
    std::uint8_t digest[datablock::kDigestSize];
    (void)HashSecret(secret, digest, nullptr, false);
    block[markerAt] = 0xB6;
    block[markerAt + 1] = 0xC3;
    std::copy(std::begin(digest), std::end(digest),
              block.begin() + static_cast<std::ptrdiff_t>(digestAt));
    SecureWipe(digest, sizeof digest);
}

void ZeroField(std::span<std::uint8_t> block, std::size_t at, std::size_t size) {
    std::fill_n(block.begin() + static_cast<std::ptrdiff_t>(at), size, std::uint8_t{0});
}

}  // namespace

std::uint64_t FactoryHiddenBase(const BridgeState& state) {
    return state.secStart + state.secSectors;
}

std::optional<std::string> CheckProvisionText(std::u16string_view password,
                                              std::u16string_view hint) {
    if (password.size() > kProvisionPasswordLimit) {
        return "password: at most 10 characters";
    }
    if (std::find(password.begin(), password.end(), u'\0') != password.end()) {
        return "password: no zero characters";
    }
    if (password.empty() && !hint.empty()) {
        return "a hint needs a password";
    }
    if (ToCp1252(hint).size() > datablock::kHintCapacity) {
        return "hint: at most 150 bytes in Windows-1252";
    }
    return std::nullopt;
}

std::optional<std::string> ProvisionDevice(const DevicePaths& paths, std::u16string_view password,
                                           std::u16string_view hint) {
    if (auto refused = CheckProvisionText(password, hint)) {
        return refused;
    }
    const AnsiSecret secret(ToCp1252(password));
    const std::string hintBytes = ToCp1252(hint);
    std::string error;
    auto session = DeviceSession::Begin(paths, &error);
    if (!session) {
        return error;
    }
    BridgeState& st = session->state();
    if (st.sectors > 0xFFFFFFFF) {
        return "the block's sector fields are 32-bit: medium too large";
    }
    const RegionSpan span = BlockRegionOf(st);
    const std::uint64_t hiddenBase = FactoryHiddenBase(st);
    if (hiddenBase >= span.start || st.cdStart + st.cdSectors > span.start) {
        return "the partitions reach the block region";
    }

    std::vector<std::uint8_t> region(std::size_t{span.sectors} * datablock::kSize);
    FirmwareRandom(region);
    // Filler never carries the signature.
    for (std::size_t at = 0; at < region.size(); at += datablock::kSize) {
        if (region[at + datablock::kSignature] == 0xC3 &&
            region[at + datablock::kSignature + 1] == 0xB6) {
            region[at + datablock::kSignature + 1] = 0;
        }
    }
    std::uint8_t pick = 0;
    FirmwareRandom(std::span(&pick, 1));
    const std::size_t index = pick % span.sectors;
    const std::span<std::uint8_t> block =
        std::span(region).subspan(index * datablock::kSize, datablock::kSize);

    // Bytes the block does not define keep the random filler.
    block[datablock::kSignature] = 0xC3;
    block[datablock::kSignature + 1] = 0xB6;
    block[datablock::kCdMark] = 0xFF;
    block[datablock::kCdState] = 0xF8;
    const auto cdBlocks = static_cast<std::uint32_t>(st.cdSectors / kSectorsPerCdBlock);
    PutBlockBe32(block, datablock::kCdSectors, cdBlocks);
    PutBe16(block, datablock::kCdMinutes, static_cast<std::uint16_t>(cdBlocks / 4500));
    block[datablock::kCdSeconds] = static_cast<std::uint8_t>(cdBlocks % 4500 / 75);
    block[datablock::kCdFrames] = static_cast<std::uint8_t>(cdBlocks % 75);
    PutBlockBe32(block, datablock::kFirstSize, static_cast<std::uint32_t>(st.secSectors));
    // The host lays the partition's master boot record 16 sectors past this address on hard
    // disks (but for the chip that keeps its CD area at sector 0), so the secure unit starts
    // exactly where the host writes it.
    const bool shifted = st.media == Media::kHdd && st.chip != "8A1C" && st.chip != "8a1c";
    const std::uint64_t fileSystemArea = shifted ? st.secStart - 16 : st.secStart;
    PutBlockBe32(block, datablock::kFirstStart, static_cast<std::uint32_t>(fileSystemArea));
    PutBlockBe32(block, datablock::kSecondSize,
                 static_cast<std::uint32_t>(span.start - hiddenBase));
    PutBlockBe32(block, datablock::kHiddenBase, static_cast<std::uint32_t>(hiddenBase));

    ZeroField(block, datablock::kPasswordMarker, 2 + datablock::kDigestSize);
    ZeroField(block, datablock::kIdMarker, 2 + datablock::kDigestSize);
    if (!password.empty()) {
        PutDigest(block, datablock::kPasswordMarker, datablock::kPasswordDigest, secret.span());
        if (st.media == Media::kHdd) {
            const auto id = UniqueIdentifier(st);
            PutDigest(block, datablock::kIdMarker, datablock::kIdDigest, id);
        }
    }
    const std::uint64_t cdEnd = st.cdStart + st.cdSectors;
    PutBe16(block, datablock::kSpareCdMb,
            static_cast<std::uint16_t>(st.secStart > cdEnd ? (st.secStart - cdEnd) / kSectorsPerMb
                                                           : 0));

    ZeroField(block, datablock::kHintLength, 2 + datablock::kHintCapacity);
    std::uint8_t key = 0;
    FirmwareRandom(std::span(&key, 1));
    block[datablock::kHintLength] = static_cast<std::uint8_t>(hintBytes.size());
    block[datablock::kHintKey] = key;
    for (std::size_t i = 0; i < hintBytes.size(); ++i) {
        block[datablock::kHint + i] =
            ScrambleHintByte(static_cast<std::uint8_t>(hintBytes[i]), key);
    }

    if (st.media == Media::kHdd) {
        ZeroField(block, datablock::kFlashId, datablock::kFlashIdSize);
    }
    ZeroField(block, datablock::kUnlock, datablock::kUnlockSize);
    if (!password.empty() && (st.media == Media::kHdd || st.aesEngine)) {
        // The partition key as a password change would bind it, to a challenge of the factory's.
        Challenge challenge{};
        FirmwareRandom(challenge);
        const auto unlock = UnlockValue(
            block.subspan<datablock::kPasswordDigest, datablock::kDigestSize>(), challenge);
        std::copy(unlock.begin(), unlock.end(), block.begin() + datablock::kUnlock);
    }

    const bool stored = StoreBlockRegion(st, paths, region);
    SecureWipe(region.data(), region.size());
    if (!stored) {
        return "cannot write the block region";
    }
    st.passwordSet = !password.empty();
    st.secureOpen = !st.passwordSet;
    st.verifyCount = kVerifyCountStart;
    st.auth = {};
    if (!session->Save()) {
        return "cannot write the device state";
    }
    return std::nullopt;
}

std::optional<std::string> Provision(const std::filesystem::path& machine, unsigned device,
                                     std::u16string_view password, std::u16string_view hint) {
    return ProvisionDevice(DevicePaths(DeviceDirectory(machine, device)), password, hint);
}

}  // namespace kvx::sim
