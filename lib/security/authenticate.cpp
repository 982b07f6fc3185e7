#include "security/authenticate.h"

#include <algorithm>
#include <string>
#include <type_traits>

#include "crypto/secret_text.h"
#include "crypto/sha256.h"
#include "crypto/wipe.h"
#include "discovery/identify.h"
#include "frame/export_frame.h"
#include "frame/qda.h"
#include "frame/request_text.h"
#include "host/text.h"
#include "security/hdd_info.h"
#include "transport/direction.h"
#include "transport/vendor.h"

namespace kvx {
namespace {

VendorCdb AuthCdb(std::uint8_t step, bool uniqueId) {
    VendorCdb cdb(kVendorAuthenticate);
    cdb.bytes[2] = step;
    cdb.bytes[3] = uniqueId ? 1 : 0;
    return cdb;
}

}  // namespace

bool GetChallenge(DeviceState& state, bool uniqueId, std::uint8_t (&challenge)[16]) {
    VendorCdb cdb = AuthCdb(1, uniqueId);
    cdb.bytes[8] = 0x10;
    return SendVendor(state, cdb, challenge, sizeof challenge, kDirIn).accepted;
}

bool SendResponse(DeviceState& state, bool uniqueId, const std::uint8_t (&response)[32]) {
    VendorCdb cdb = AuthCdb(2, uniqueId);
    cdb.bytes[8] = 0x20;
    std::uint8_t out[32];
    std::copy(std::begin(response), std::end(response), out);
    const bool ok = SendVendor(state, cdb, out, sizeof out, kDirOut).accepted;
    SecureWipe(out, sizeof out);
    return ok;
}

bool TriggerAuthentication(DeviceState& state, bool uniqueId) {
    return SendVendor(state, AuthCdb(3, uniqueId), nullptr, 0, kDirNone).accepted;
}

bool LaunchSecurePartition(DeviceState& state) {
    return SendVendor(state, AuthCdb(5, false), nullptr, 0, kDirIn).accepted;
}

std::span<const std::uint8_t> SecretBytes(const std::uint8_t* bytes, std::size_t capacity) {
    const std::uint8_t* end = std::find(bytes, bytes + capacity, std::uint8_t{0});
    return std::span<const std::uint8_t>(bytes, static_cast<std::size_t>(end - bytes));
}

namespace {

// One exchange: challenge, response from the secret, trigger. Codes per failing step.
enum class Exchange { kAccepted, kNoChallenge, kNotSent, kRefused };

Exchange RunExchange(DeviceState& state, bool uniqueId, std::span<const std::uint8_t> secret,
                     const DiagnosticLog& log, const char16_t* key) {
    log.Write(key, u"Get Challenge");
    std::uint8_t challenge[16];
    if (!GetChallenge(state, uniqueId, challenge)) {
        log.Write(key, kFail);
        return Exchange::kNoChallenge;
    }
    std::uint8_t response[32];
    const bool hashed = HashSecret(secret, response, challenge, true);
    SecureWipe(challenge, sizeof challenge);
    log.Write(key, u"Send response");
    const bool sent = hashed && SendResponse(state, uniqueId, response);
    SecureWipe(response, sizeof response);
    if (!sent) {
        log.Write(key, kFail);
        return Exchange::kNotSent;
    }
    log.Write(key, u"Trigger Authentication");
    return TriggerAuthentication(state, uniqueId) ? Exchange::kAccepted : Exchange::kRefused;
}

// GetHddInfo whose failure is only logged; the media type lands in the record when known.
void RefreshMedium(ExportFrame& frame) {
    QdaRequest& request = frame.request();
    frame.log().Write(FormatText("%s%s", "Calling", "qdaGetHDDInfo()"), kPass);
    MediumInfo medium;
    std::uint8_t ignored = 0;
    if (!GetHddInfo(frame.state(), frame.log(), ignored, medium)) {
        frame.log().Write(FormatText("%s%s", "Calling", "qdaGetHDDInfo()"), kFail);
    }
    if (medium.mediaType != 0) {
        request.mediaType = medium.mediaType;
    }
}

}  // namespace
}  // namespace kvx

using namespace kvx;

KVX_API int KVX_CALL QDASHA2Auth(QdaRequest* request) {
    if (request == nullptr) {
        return 0;
    }
    ExportFrame frame(*request, u"QDASHA2Auth()", u"QDASHA2Auth");
    if (!frame.Enter(&IdentifyDevice)) {
        return frame.Finish(false, &EndSession);
    }
    DeviceState& state = frame.state();
    const DiagnosticLog& log = frame.log();
    RefreshMedium(frame);

    if ((request->mediaType & kMediaHardDisk) != 0) {
        std::uint8_t identifier[sizeof state.uniqueId];
        std::copy(std::begin(state.uniqueId), std::end(state.uniqueId), identifier);
        const Exchange result = RunExchange(state, true, SecretBytes(identifier, sizeof identifier),
                                            log, u"Issue PASSTHRU_AUTHENTICATE for UniqueID");
        SecureWipe(identifier, sizeof identifier);
        if (result != Exchange::kAccepted) {
            log.Write(u"Issue PASSTHRU_AUTHENTICATE for UniqueID", kFail);
            frame.Fail(result == Exchange::kNoChallenge ? kErrNoChallenge
                       : result == Exchange::kNotSent   ? kErrResponseNotSent
                                                        : kErrIdentifierRefused);
            return frame.Finish(false, &EndSession);
        }
    }

    // The password in the ANSI code page, up to its first zero.
    const SecretUtf16 password(request->password, std::extent_v<decltype(request->password)>);
    std::string ansi = state.host().ToAnsi(password.view());
    std::uint8_t secret[46] = {};
    std::copy_n(ansi.begin(), std::min(ansi.size(), sizeof secret - 1), secret);
    SecureWipe(ansi.data(), ansi.size());
    const Exchange result = RunExchange(state, false, SecretBytes(secret, sizeof secret), log,
                                        u"Issue PASSTHRU_AUTHENTICATE");
    SecureWipe(secret, sizeof secret);
    if (result == Exchange::kAccepted) {
        return frame.Finish(true, &EndSession);
    }
    log.Write(u"Issue PASSTHRU_AUTHENTICATE", kFail);
    if (result != Exchange::kRefused) {
        frame.Fail(result == Exchange::kNoChallenge ? kErrNoChallenge : kErrResponseNotSent);
        return frame.Finish(false, &EndSession);
    }
    frame.Fail(kErrPasswordRefused);
    log.Write(u"Issue PASSTHRU_AUTHENTICATE", u"Verify Count");
    const std::optional<std::uint8_t> count = QueryVerifyCount(state);
    if (!count) {
        log.Write(u"Issue PASSTHRU_AUTHENTICATE", kFail);
        frame.Fail(kErrVerifyCount);
    }
    request->verifyCount = count.value_or(0);
    return frame.Finish(false, &EndSession);
}

KVX_API int KVX_CALL QDALaunchSec(QdaRequest* request) {
    if (request == nullptr) {
        return 0;
    }
    ExportFrame frame(*request, u"QDALaunchSec()", u"QDALaunchSec");
    if (!frame.Enter(&IdentifyDevice)) {
        return frame.Finish(false, &EndSession);
    }
    RefreshMedium(frame);
    if ((request->mediaType & kMediaHardDisk) == 0) {
        return frame.Finish(true, &EndSession);
    }
    frame.log().Write(u"Issue PASSTHRU_AUTHENTICATE for UniqueID", u"Get Challenge");
    if (!LaunchSecurePartition(frame.state())) {
        frame.log().Write(u"Issue PASSTHRU_AUTHENTICATE for UniqueID", kFail);
        return frame.Finish(false, &EndSession);
    }
    return frame.Finish(true, &EndSession);
}
