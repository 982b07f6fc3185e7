// QDAWriteCDFormatFlag: records in the password data block that the CD partition was laid down
// (byte 9 = 0xFC) and, when asked, stores a password digest, hint and identifier digest with it.
// The block is rewritten once, where it was found.
#include <algorithm>
#include <string>
#include <type_traits>

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

namespace kvx::media {
namespace {

constexpr std::uint8_t kCdFormatted = 0xFC;

// Password digest, hint and (hard disks) identifier digest into the block. False with a code.
bool StoreSecrets(ExportFrame& frame, const MediumInfo& medium, std::span<std::uint8_t> image,
                  const AnsiSecret& password) {
    QdaRequest& request = frame.request();
    DeviceState& state = frame.state();
    Host& host = frame.host();
    const AnsiSecret hint{
        host.ToAnsi(ReadFixedUtf16(request.hint, std::extent_v<decltype(request.hint)>))};
    if (hint.bytes.size() > block::kHintCapacity) {
        frame.Fail(kErrHintTooLong);
        return false;
    }
    std::uint8_t digest[kDigestSize];
    const auto secret =
        SecretBytes(password.span().data(), std::min(password.bytes.size(), kMaxHashSecretLength));
    (void)HashSecret(secret, digest, nullptr, false);
    host.SeedRandom(static_cast<std::uint32_t>(host.Time()));
    const std::uint8_t key = static_cast<std::uint8_t>(host.Random() & 0xFF);
    PutPasswordRecord(state, medium, image, digest, hint.span(), key);
    SecureWipe(digest, sizeof digest);
    return true;
}

bool Run(ExportFrame& frame) {
    QdaRequest& request = frame.request();
    DeviceState& state = frame.state();
    const DiagnosticLog& log = frame.log();
    log.Write(FormatText("%s %c:", "Checking Drvletter", static_cast<char>(request.driveLetter)),
              kTest);
    if (!frame.CheckDrive(&IdentifyDevice)) {
        return false;
    }
    MediumInfo medium;
    if (!GetHddInfo(state, log, request.errorCode, medium)) {
        frame.Fail(kErrNoCapacity);
        return false;
    }
    request.mediaType = medium.mediaType;
    BlockRegion region;
    if (!LocateDataBlock(state, medium, region, request.errorCode)) {
        return false;
    }
    if (!region.index) {
        frame.Fail(kErrBlockNotRead);
        return false;
    }
    const std::span<std::uint8_t> image = region.Block();
    image[block::kCdState] = kCdFormatted;
    const SecretUtf16 passwordText(request.password, std::extent_v<decltype(request.password)>);
    const AnsiSecret password{frame.host().ToAnsi(passwordText.view())};
    if (request.writePasswordFlag != 0 && !password.bytes.empty() &&
        !StoreSecrets(frame, medium, image, password)) {
        return false;
    }
    return RewriteRegion(state, medium, region, request.errorCode);
}

}  // namespace
}  // namespace kvx::media

using namespace kvx;

KVX_API int KVX_CALL QDAWriteCDFormatFlag(QdaRequest* request) {
    if (request == nullptr) {
        return 0;
    }
    ExportFrame frame(*request, u"QDAWriteCDFormatFlag()");
    const bool ok = frame.Begin() && media::Run(frame);
    return frame.Finish(ok);
}
