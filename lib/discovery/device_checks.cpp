// The device checks: the CD units and secure units of the device among the host's drive letters,
// and the chip code of one unit.
#include <algorithm>
#include <cstring>

#include "discovery/hub_scan.h"
#include "discovery/identify.h"
#include "discovery/inquiry.h"
#include "frame/config.h"
#include "frame/errors.h"
#include "frame/export_frame.h"
#include "frame/os_type.h"
#include "frame/qda.h"
#include "frame/request_text.h"

namespace kvx {
namespace {

constexpr std::uint8_t kHubModeSignal = '1';
constexpr unsigned kCheckCdModels = 27;  // indices 0 to 26
constexpr unsigned kCheckSecModels = 11;
constexpr std::size_t kCheckCdChars = 1024;
constexpr std::size_t kIdentityChars = 200;
constexpr std::size_t kLetterSlots = 12;

std::u16string Root(char16_t letter) {
    return std::u16string(1, letter) + u":\\";
}

// Appends a letter to a letter list: one entry per letter, at most 12.
bool AddLetter(std::uint8_t (&letters)[kLetterSlots], std::uint8_t letter) {
    for (std::uint8_t& slot : letters) {
        if (slot == letter) {
            return false;
        }
        if (slot == 0) {
            slot = letter;
            return true;
        }
    }
    return false;
}

int CountLetters(const std::uint8_t (&letters)[kLetterSlots]) {
    return static_cast<int>(std::count_if(std::begin(letters), std::end(letters),
                                          [](std::uint8_t l) { return l != 0; }));
}

// Lists the letter of a unit that belongs to the device; the count of letters listed before it,
// or -1 when the list already holds it or is full.
int ListLetter(std::uint8_t (&letters)[kLetterSlots], char16_t letter) {
    const int count = CountLetters(letters);
    return AddLetter(letters, static_cast<std::uint8_t>(letter)) ? count : -1;
}

void LogListedLetter(const DiagnosticLog& log, int count, char16_t letter) {
    log.Write(FormatText("%s %d", "Veltrin CD Drive letter", count), std::u16string(1, letter));
}

// Calls VISIT(letter) for each drive letter from C to Z the system has, after logging it, until
// VISIT returns false.
template <typename Visit>
void ForEachDrive(Host& host, const DiagnosticLog& log, Visit visit) {
    const std::uint32_t mask = host.LogicalDriveMask();
    for (char16_t letter = u'C'; letter <= u'Z'; ++letter) {
        if ((mask & (1u << (letter - u'A'))) == 0) {
            continue;
        }
        log.Write(u"Checking for driveletter" + Root(letter), kPass);
        if (!visit(letter)) {
            return;
        }
    }
}

// The common start of both checks: banner and configuration file.
bool StartCheck(ExportFrame& frame, const Config& config) {
    frame.request().errorCode = 0;
    frame.WriteBanner();
    if (!config.Exists()) {
        frame.log().Write(u"Unable to find the file" + config.path(), kFail);
        frame.Fail(kErrConfigMissing);
        return false;
    }
    GetOsType(frame.state());
    if (IsWin9x(frame.state().osType)) {
        frame.Fail(kErrAspiNotLoaded);
        return false;
    }
    return true;
}

void LogInquiryTexts(const DiagnosticLog& log, char16_t letter, const InquiryData& inquiry) {
    const std::u16string letterText(1, letter);
    log.Write(FormatText("%s %c:", "IssuingInquiry for", static_cast<char>(letter)), letterText);
    log.Write(FormatText("%s %c:", "Product string of", static_cast<char>(letter)),
              inquiry.Product());
    log.Write(FormatText("%s %c:", "Vendor string of", static_cast<char>(letter)),
              inquiry.Vendor());
}

struct UnitMatch {
    bool matched = false;
    InquiryData full;
};

// Matches an open unit against the models: identity texts first, then the USB identifiers.
UnitMatch MatchUnit(ExportFrame& frame, const Config& config, HostHandle drive, char16_t letter,
                    bool secure) {
    DeviceState& state = frame.state();
    const DiagnosticLog& log = frame.log();
    UnitMatch result;
    InquiryData standard;
    if (!Inquiry(state, drive, kInquiryStandard, standard)) {
        return result;
    }
    const unsigned models = secure ? kCheckSecModels : kCheckCdModels;
    const std::size_t chars = secure ? kIdentityChars : kCheckCdChars;
    for (unsigned i = 0; i < models; ++i) {
        const std::u16string vendor =
            config.ReadIndexed(kVendorSection, secure ? u"SECVENDORSTR" : u"VENDORSTR", i, chars);
        const std::u16string product =
            config.ReadIndexed(kVendorSection, secure ? u"SECPRODUCTSTR" : u"PRODUCTSTR", i, chars);
        if (vendor.empty() || product.empty()) {
            continue;
        }
        LogInquiryTexts(log, letter, standard);
        if (!ContainsText(standard.Product(), product) ||
            !ContainsText(standard.Vendor(), vendor)) {
            continue;
        }
        if (!Inquiry(state, drive, secure ? kInquiryUsbIds : kInquiryCapabilities, result.full) ||
            (result.full.VendorId() == 0 && result.full.ProductId() == 0)) {
            break;
        }
        const std::u16string vid = config.ReadIndexed(kVendorSection, u"VID", i, 20);
        const std::u16string pid = config.ReadIndexed(kVendorSection, u"PID", i, 20);
        if (vid.empty() || pid.empty()) {
            break;
        }
        const std::u16string deviceVid = IdText(result.full.VendorId());
        const std::u16string devicePid = IdText(result.full.ProductId());
        log.Write(FormatText("%s %c:", "InqPID data of", static_cast<char>(letter)), devicePid);
        log.Write(FormatText("%s %c:", "InqVID data of", static_cast<char>(letter)), deviceVid);
        if (ContainsText(deviceVid, vid) && ContainsText(devicePid, pid)) {
            result.matched = true;
            return result;
        }
    }
    return result;
}

// The chip flags of a CD unit found.
void ChipSteps(ExportFrame& frame, const Config& config, const InquiryData& inquiry, int count,
               char16_t letter) {
    const std::u16string chip = inquiry.ChipCode();
    if (IsSpecialChip(chip)) {
        frame.log().Write(FormatText("%s %d", "8A1C CD drv letter is", count),
                          std::u16string(1, letter));
        frame.state().chipFlag = 1;
    }
    if (ChipCodeListed(config, chip)) {
        frame.state().chipListFlag = 1;
    }
}

// Hub mode: the letters of the usable records from the current one on. A usable record is the
// device even when the registry gave it no letter yet: true then as well.
bool TakeHubLetters(DeviceState& state, QdaRequest& request) {
    if (state.current == nullptr) {
        ScanHostControllers(state);
        for (UsbDeviceRecord& record : state.devices) {
            if (record.state == 0) {
                state.current = &record;
                break;
            }
        }
        if (state.current == nullptr) {
            return false;
        }
    }
    bool fromCurrent = false;
    for (const UsbDeviceRecord& record : state.devices) {
        fromCurrent = fromCurrent || &record == state.current;
        if (fromCurrent && record.state == 0 && record.driveLetter != 0) {
            AddLetter(request.cdLetters, record.driveLetter);
        }
    }
    state.chipListFlag = 1;
    return true;
}

}  // namespace

}  // namespace kvx

using namespace kvx;

KVX_API int KVX_CALL QDACheckCD(QdaRequest* request) {
    if (request == nullptr) {
        return 0;
    }
    ExportFrame frame(*request, u"QDACHECKCD()");
    Host& host = frame.host();
    DeviceState& state = frame.state();
    const Config config(host);
    // Each check lists what is attached now; letters of an earlier call do not linger.
    std::memset(request->cdLetters, 0, sizeof request->cdLetters);
    if (!StartCheck(frame, config)) {
        return frame.Finish(false);
    }
    const DiagnosticLog& log = frame.log();
    bool result = false;
    ForEachDrive(host, log, [&](char16_t letter) {
        if (host.GetDriveType(letter) != kDriveCdRom) {
            log.Write(Root(letter), u"Not a CD drive letter");
            return true;
        }
        log.Write(Root(letter), u"CD drive letter");
        const OpenResult drive = OpenVolume(host, letter);
        log.Write(FormatText("Creating handle retured error code %u", drive.osError), kPass);
        if (drive.handle == kInvalidHandle && drive.osError == kErrorAccessDenied &&
            config.Read(kVendorSection, u"NONADMIN", kCheckCdChars) == u"YES") {
            log.Write(u"NONADMIN", u"DETECTED");
            state.hubMode = kHubModeOn;
        }
        if (state.hubMode != 0) {
            host.Close(drive.handle);
            if (TakeHubLetters(state, *request)) {
                result = true;
                return false;  // the records give every letter at once
            }
            return true;
        }
        if (drive.handle == kInvalidHandle) {
            return true;
        }
        const UnitMatch match = MatchUnit(frame, config, drive.handle, letter, false);
        const int count = match.matched ? ListLetter(request->cdLetters, letter) : -1;
        if (count >= 0) {
            ChipSteps(frame, config, match.full, count, letter);
            LogListedLetter(log, count, letter);
            result = true;
        }
        host.Close(drive.handle);
        return true;
    });
    if (state.hubMode != 0) {
        request->errorCode = kHubModeSignal;
    } else if (!result) {
        frame.Fail(kErrNoCdFound);
    }
    return frame.Finish(result);
}

KVX_API int KVX_CALL QDACheckSEC(QdaRequest* request) {
    if (request == nullptr) {
        return 0;
    }
    ExportFrame frame(*request, u"QDACHECKSEC()");
    Host& host = frame.host();
    const Config config(host);
    std::memset(request->secureLetters, 0, sizeof request->secureLetters);
    if (!StartCheck(frame, config)) {
        return frame.Finish(false);
    }
    const DiagnosticLog& log = frame.log();
    bool result = false;
    ForEachDrive(host, log, [&](char16_t letter) {
        const DriveType type = host.GetDriveType(letter);
        if (type == kDriveCdRom || type == kDriveRemote) {
            log.Write(Root(letter), u"Not a HDD or REM drive letter");
            return true;
        }
        const OpenResult drive = OpenVolume(host, letter);
        if (drive.handle == kInvalidHandle) {
            return true;
        }
        const int count = MatchUnit(frame, config, drive.handle, letter, true).matched
                              ? ListLetter(request->secureLetters, letter)
                              : -1;
        if (count >= 0) {
            LogListedLetter(log, count, letter);
            result = true;
        }
        host.Close(drive.handle);
        return true;
    });
    return frame.Finish(result);
}

KVX_API int KVX_CALL QDAGetChipNum(QdaRequest* request, uint16_t* chipText) {
    if (request == nullptr) {
        return 0;
    }
    ExportFrame frame(*request, u"QDAGetChipNum()");
    if (!frame.Begin()) {
        return frame.Finish(false);
    }
    const char letter = static_cast<char>(request->driveLetter);
    frame.log().Write(FormatText("%s %c:", "Checking Drvletter", letter), kTest);
    if (!frame.CheckDrive(&IdentifyDevice)) {
        return frame.Finish(false);
    }
    frame.log().Write(FormatText("%s%s", "Calling", "qdaGetHDDInfo()"), kPass);
    InquiryData inquiry;
    DeviceState& state = frame.state();
    // An answer that stops short of the code delivered no chip code; a delivered code is copied
    // as its four bytes are, whatever they hold.
    if (chipText == nullptr) {
        return frame.Finish(false);
    }
    const CommandOutcome answer = Inquiry(state, state.drive, kInquiryFull, inquiry);
    if (!answer || answer.delivered < kChipCodeEnd) {
        return frame.Finish(false);
    }
    const std::u16string chip = inquiry.ChipCode();
    std::copy(chip.begin(), chip.end(), chipText);
    chipText[chip.size()] = 0;
    return frame.Finish(true);
}
