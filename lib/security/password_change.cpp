// Password change: clear the password, read the hint, or store a new password digest and hint
// (with the identifier digest, and in mode 4 an unlock value bound to a device challenge).
#include <algorithm>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "crypto/secret_text.h"
#include "crypto/sha256.h"
#include "crypto/wipe.h"
#include "discovery/identify.h"
#include "frame/errors.h"
#include "frame/export_frame.h"
#include "frame/qda.h"
#include "frame/request_text.h"
#include "host/text.h"
#include "security/authenticate.h"
#include "security/data_block.h"
#include "security/hdd_info.h"
#include "transport/vendor.h"

namespace kvx {

namespace {

constexpr std::uint16_t kBootSectors = 16;
constexpr std::size_t kBootBytes = kBootSectors * kSectorSize;
// Sector 0 keeps its partition table and boot signature.
constexpr std::size_t kPartitionTableAt = 416;

enum Mode : std::uint8_t { kClear = 1, kReadHint = 2, kStore = 3, kStoreWithUnlock = 4 };

class Random {
  public:
    explicit Random(Host& host) : host_(host) {
        host_.SeedRandom(static_cast<std::uint32_t>(host_.Time()));
    }
    std::uint8_t Byte() { return static_cast<std::uint8_t>(host_.Random() & 0xFF); }
    void Fill(std::span<std::uint8_t> bytes) {
        for (std::uint8_t& b : bytes) {
            b = Byte();
        }
    }

  private:
    Host& host_;
};

void FillSizeFields(QdaRequest& request, std::span<const std::uint8_t> image) {
    request.cdSizeMb = static_cast<std::uint32_t>(
        std::uint64_t{ReadBe32(image, block::kCdSectors)} * kCdBlockSize / kBytesPerMb);
    request.secureSizeMb = ReadBe32(image, block::kFirstSize) / kSectorsPerMb;
    request.spareCdMb = ReadBe16(image, block::kSpareCdMb);
}

void ReadHint(Host& host, QdaRequest& request, std::span<const std::uint8_t> image) {
    const std::size_t n = std::min<std::size_t>(image[block::kHintLength], block::kHintCapacity);
    std::uint8_t plain[block::kHintCapacity];
    UnscrambleHint(image.subspan(block::kHint, n), image[block::kHintKey], plain);
    const std::u16string hint =
        host.FromAnsi(std::string_view(reinterpret_cast<const char*>(plain), n));
    SecureWipe(plain, sizeof plain);
    WriteFixedUtf16(hint, request.hint, std::extent_v<decltype(request.hint)>);
}

// Modes 3 and 4: digests, hint and unlock value into the image. False with a code on failure.
bool StoreSecrets(ExportFrame& frame, const MediumInfo& medium, std::span<std::uint8_t> image,
                  Random& random) {
    QdaRequest& request = frame.request();
    DeviceState& state = frame.state();
    Host& host = state.host();
    const DiagnosticLog& log = frame.log();
    log.Write(u"Write Password data selected", kPass);
    const SecretUtf16 passwordText(request.password, std::extent_v<decltype(request.password)>);
    AnsiSecret password{host.ToAnsi(passwordText.view())};
    AnsiSecret hint{
        host.ToAnsi(ReadFixedUtf16(request.hint, std::extent_v<decltype(request.hint)>))};
    const auto passwordBytes =
        SecretBytes(reinterpret_cast<const std::uint8_t*>(password.bytes.data()),
                    std::min<std::size_t>(password.bytes.size(), kMaxHashSecretLength));
    if (passwordBytes.empty()) {
        frame.Fail(kErrEmptyPassword);
        return false;
    }
    if (hint.bytes.size() > block::kHintCapacity) {
        frame.Fail(kErrHintTooLong);
        return false;
    }
    std::uint8_t digest[kDigestSize];
    if (!HashSecret(passwordBytes, digest, nullptr, false)) {
        frame.Fail(kErrEmptyPassword);
        return false;
    }
    const std::uint8_t key = random.Byte();
    log.Write(u"Write Hint data selected", kPass);
    PutPasswordRecord(state, medium, image, digest, hint.span(), key);
    // A fresh unlock value re-keys the partition: on hard disks, and on flash with an AES engine.
    if (request.changeOp == kStoreWithUnlock && (medium.IsHardDisk() || medium.aesEngine)) {
        std::uint8_t challenge[16];
        if (!GetChallenge(state, false, challenge)) {
            log.WriteIn(u"QDASHA2Auth()", u"Issue PASSTHRU_AUTHENTICATE for UniqueID", kFail);
            SecureWipe(digest, sizeof digest);
            frame.Fail(kErrNoChallenge);
            return false;
        }
        std::uint8_t unlock[kDigestSize];
        (void)HashSecret(std::span<const std::uint8_t>(digest, block::kUnlockLength), unlock,
                         challenge, true);
        for (std::size_t i = 0; i < block::kUnlockLength; ++i) {
            image[block::kUnlock + i] = unlock[block::kUnlockLength - 1 - i];
        }
        SecureWipe(unlock, sizeof unlock);
    }
    SecureWipe(digest, sizeof digest);
    return true;
}

}  // namespace
}  // namespace kvx

using namespace kvx;

KVX_API int KVX_CALL QDAChangePassWord(QdaRequest* request) {
    if (request == nullptr) {
        return 0;
    }
    ExportFrame frame(*request, u"QDAChangePassWord()");
    if (!frame.Begin()) {
        return frame.Finish(false, &EndSession);
    }
    const DiagnosticLog& log = frame.log();
    const std::u16string checkKey =
        FormatText("%s %c:", "Checking Drvletter", static_cast<char>(request->driveLetter));
    log.Write(checkKey, kTest);
    if (!frame.CheckDrive(&IdentifyDevice)) {
        return frame.Finish(false, &EndSession);
    }
    log.Write(checkKey, kPass);
    DeviceState& state = frame.state();
    Host& host = state.host();
    MediumInfo medium;
    if (!GetHddInfo(state, log, request->errorCode, medium)) {
        frame.Fail(kErrNoCapacity);
        return frame.Finish(false, &EndSession);
    }
    request->mediaType = medium.mediaType;
    Random random(host);

    BlockRegion region;
    if (!LocateDataBlock(state, medium, region, request->errorCode)) {
        return frame.Finish(false, &EndSession);
    }
    if (!region.index) {
        log.Write(FormatText("%s %d sector", "Password data is in", region.place.sectors), kFail);
        frame.Fail(kErrBlockNotRead);
        return frame.Finish(false, &EndSession);
    }
    log.Write(FormatText("%s %d sector", "Password data is in", static_cast<int>(*region.index)),
              kPass);
    WipedBytes image(region.Block().begin(), region.Block().end());
    const auto finish = [&](bool ok) {
        FillSizeFields(*request, image);
        return frame.Finish(ok, &EndSession);
    };

    const std::uint8_t mode = request->changeOp;
    if (mode == kReadHint) {
        ReadHint(host, *request, image);
        return finish(true);
    }
    if (mode != kClear && mode != kStore && mode != kStoreWithUnlock) {
        return finish(true);
    }
    // The boot area is scrubbed exactly when the CD area starts at sector 16.
    const bool scrubBoot = (medium.IsHardDisk() && state.chipFlag == 0) || state.chipListFlag != 0;
    std::vector<std::uint8_t> boot(scrubBoot ? kBootBytes : 0, 0);
    if (scrubBoot && !ReadWriteSectors(state, 0, kBootSectors, false, true, boot.data())) {
        frame.Fail(kErrBlockNotRead);
        return finish(false);
    }
    if (mode == kClear) {
        std::fill(image.begin() + block::kPasswordMarker, image.begin() + block::kIdMarker,
                  std::uint8_t{0});
        std::fill(image.begin() + block::kHintLength, image.begin() + block::kFlashId,
                  std::uint8_t{0});
    } else if (!StoreSecrets(frame, medium, image, random)) {
        return finish(false);
    }

    if (scrubBoot) {
        random.Fill(std::span<std::uint8_t>(boot).first(kPartitionTableAt));
        random.Fill(std::span<std::uint8_t>(boot).subspan(kSectorSize));
        if (!WriteSectorsWithRetry(state, 0, kBootSectors, false, boot.data())) {
            frame.Fail(kErrRewriteFailed);
            return finish(false);
        }
    }
    random.Fill(region.bytes);
    // Filler never carries the signature, so the block stays the first sector that does.
    for (std::size_t at = 0; at + kBlockSize <= region.bytes.size(); at += kBlockSize) {
        std::uint8_t* sector = region.bytes.data() + at;
        if (sector[block::kSignature] == 0xC3 && sector[block::kSignature + 1] == 0xB6) {
            sector[block::kSignature + 1] = 0;
        }
    }
    std::copy(image.begin(), image.end(), region.Block().begin());
    const int blockSector = static_cast<int>(region.place.start + *region.index);
    log.Write(FormatText("%s %d", "Data Block data is present in", blockSector), kPass);
    if (!RewriteRegion(state, medium, region, request->errorCode)) {
        return finish(false);
    }
    log.Write(FormatText("%s %d", "Data Block data rewritten in ", blockSector), u"SUCCESSFULLY");
    return finish(true);
}
