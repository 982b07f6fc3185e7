#include "frame/export_frame.h"

#include "frame/naming.h"
#include "frame/os_type.h"
#include "frame/request_text.h"

namespace kvx {

namespace {

// The drive-check log key "OnCheckDrvLet() X:".
std::u16string DriveCheckKey(std::uint8_t letter) {
    return FormatText("%s %c:", "OnCheckDrvLet()", static_cast<char>(letter));
}

}  // namespace

ExportFrame::ExportFrame(QdaRequest& request, std::u16string section, std::u16string bannerSection)
    : request_(request),
      state_(GlobalDeviceState()),
      log_(state_.host(), request, std::move(section)),
      bannerSection_(bannerSection.empty() ? log_.section() : std::move(bannerSection)) {}

ExportFrame::~ExportFrame() {
    if (!finished_) {
        CloseDrive();
    }
}

void ExportFrame::WriteBanner() {
    if (log_.enabled()) {
        log_.WriteIn(bannerSection_, u"DLL VERSION", BannerValue(host()));
    }
}

bool ExportFrame::Begin() {
    request_.errorCode = 0;
    WriteBanner();
    // The 9x family is served through ASPI, which this build does not carry.
    if (IsWin9x(state_.osType)) {
        Fail(kErrAspiNotLoaded);
        return false;
    }
    return true;
}

bool ExportFrame::CheckDrive(IdentifyFn identify) {
    const std::u16string key = DriveCheckKey(request_.driveLetter);
    log_.Write(key, kTest);
    // The identification's own codes (configuration missing, drive not opened) come first.
    const bool ok = identify(state_, request_.driveLetter, request_.errorCode);
    log_.Write(key, ok ? kPass : kFail);
    if (!ok) {
        Fail(kErrDriveCheckFailed);
    }
    return ok;
}

void ExportFrame::Fail(std::uint8_t code) {
    SetErrorOnce(request_.errorCode, code);
}

int ExportFrame::Finish(bool ok, EndSessionFn endSession) {
    if (endSession != nullptr && state_.wrapMode != 0) {
        (void)endSession(state_);
    }
    CloseDrive();
    finished_ = true;
    return ok ? 1 : 0;
}

void ExportFrame::CloseDrive() {
    if (state_.drive != kInvalidHandle) {
        host().Close(state_.drive);
        state_.drive = kInvalidHandle;
    }
}

}  // namespace kvx
