// The entry and exit steps every export shares: clear the error code, banner, the ASPI check of
// the 9x family, the drive-letter check; at exit the end of the wrapping session and the close of
// the drive handle.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "frame/device_state.h"
#include "frame/errors.h"
#include "frame/log.h"
#include "frame/qda.h"

namespace kvx {

// Proves the letter belongs to the device and opens the drive handle; stores a code in the error
// byte on failure.
using IdentifyFn = bool (*)(DeviceState& state, std::uint8_t letter, std::uint8_t& errorByte);
// Ends the wrapping session.
using EndSessionFn = bool (*)(DeviceState& state);

// Error codes of the frame.

class ExportFrame {
  public:
    // `section` names the log section, e.g. u"QDAGetChipNum()"; the banner goes to
    // `bannerSection` when one is given.
    ExportFrame(QdaRequest& request, std::u16string section, std::u16string bannerSection = {});
    ~ExportFrame();
    ExportFrame(const ExportFrame&) = delete;
    ExportFrame& operator=(const ExportFrame&) = delete;

    // Entry steps; with `identify` the drive-letter check runs too. False = the export fails.
    bool Enter(IdentifyFn identify) {
        return Begin() && (identify == nullptr || CheckDrive(identify));
    }

    // The first entry steps: clear the error code, write the banner, refuse the 9x family.
    bool Begin();
    // The banner alone: key "DLL VERSION" with the library's name and version.
    void WriteBanner();
    // The drive-letter check of the record's letter, logged under "OnCheckDrvLet() X:".
    bool CheckDrive(IdentifyFn identify);

    // Stores a code unless an earlier step already did (the first failure wins).
    void Fail(std::uint8_t code);

    // Exit steps: the session ends when `endSession` is given and wrapping is on; the drive
    // handle is closed. Returns the export's result, 1 or 0.
    int Finish(bool ok, EndSessionFn endSession = nullptr);

    QdaRequest& request() { return request_; }
    DeviceState& state() { return state_; }
    Host& host() { return state_.host(); }
    const DiagnosticLog& log() const { return log_; }

  private:
    void CloseDrive();

    QdaRequest& request_;
    DeviceState& state_;
    DiagnosticLog log_;
    std::u16string bannerSection_;
    bool finished_ = false;
};

// Stores `code` into an error byte unless it already holds one.
inline void SetErrorOnce(std::uint8_t& errorByte, std::uint8_t code) {
    if (errorByte == 0) {
        errorByte = code;
    }
}

}  // namespace kvx
