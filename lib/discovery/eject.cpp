// Eject of the secure unit that belongs to the same device as a given CD unit.
#include <string>

#include "discovery/hub_scan.h"
#include "discovery/identify.h"
#include "frame/errors.h"
#include "frame/export_frame.h"
#include "frame/os_type.h"
#include "frame/qda.h"
#include "frame/request_text.h"
#include "transport/dispatcher.h"

namespace kvx {
namespace {

constexpr std::size_t kCdMountUnits = 110;
constexpr std::size_t kSecureMountUnits = 80;
constexpr char16_t kUsbStorKey[] = u"System\\CurrentControlSet\\Enum\\USBSTOR";

std::u16string MountValueName(char16_t letter) {
    return std::u16string(u"\\DOSDEVICES\\") + letter + u":";
}

std::u16string ReadMount(ExportFrame& frame, char16_t letter, std::size_t units) {
    const std::u16string text = MountText(frame.host(), letter, units);
    frame.log().Write(u"Read Registry " + MountValueName(letter), kPass);
    return text;
}

// The text up to the last occurrence of `c` (all of it when there is none).
std::u16string_view CutAtLast(std::u16string_view text, char16_t c) {
    const std::size_t at = text.rfind(c);
    return at == std::u16string_view::npos ? text : text.substr(0, at);
}

// Whether the secure unit with mount text `secure` belongs to the CD unit with mount text `cd`.
bool SameDevice(ExportFrame& frame, std::u16string_view cd, std::u16string_view secure,
                std::uint8_t versionCode) {
    Host& host = frame.host();
    const auto found = [&](std::u16string_view serial) {
        if (!ContainsText(cd, serial)) {
            return false;
        }
        frame.log().Write(u"Sec serial " + std::u16string(serial), std::u16string(cd));
        frame.log().Write(u"DeviceFound", kPass);
        return true;
    };
    if (versionCode == kWinVersionVista) {
        const std::u16string_view head = CutAtLast(secure, u'&');
        const std::size_t hash = head.rfind(u'#');
        return found(hash == std::u16string_view::npos ? head : head.substr(hash + 1));
    }
    for (const std::u16string& deviceClass :
         host.RegistrySubkeys(kUsbStorKey).value_or(std::vector<std::u16string>{})) {
        const std::u16string classKey = std::u16string(kUsbStorKey) + u"\\" + deviceClass;
        for (const std::u16string& instance :
             host.RegistrySubkeys(classKey).value_or(std::vector<std::u16string>{})) {
            const std::u16string instanceKey = classKey + u"\\" + instance;
            const std::u16string prefix = RegistryText(
                host.ReadRegistryValue(instanceKey, u"ParentIdPrefix"), kSecureMountUnits);
            frame.log().Write(instanceKey, prefix);
            if (ContainsText(secure, prefix) && found(CutAtLast(instance, u'&'))) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace
}  // namespace kvx

using namespace kvx;

KVX_API int KVX_CALL QDAEjectSec(QdaRequest* request) {
    if (request == nullptr) {
        return 0;
    }
    ExportFrame frame(*request, u"QDAEjectSec()");
    frame.WriteBanner();
    DeviceState& state = frame.state();
    GetOsType(state);
    if (state.osType != kOsNt5OrLater) {
        return frame.Finish(false);
    }
    Host& host = frame.host();
    const std::uint8_t versionCode = WindowsVersionCode(host);
    const std::u16string cd =
        ReadMount(frame, static_cast<char16_t>(request->driveLetter), kCdMountUnits);
    char16_t secureLetter = 0;
    for (std::uint8_t letter : request->secureLetters) {
        if (letter == 0) {
            continue;
        }
        const std::u16string secure =
            ReadMount(frame, static_cast<char16_t>(letter), kSecureMountUnits);
        if (SameDevice(frame, cd, secure, versionCode)) {
            secureLetter = static_cast<char16_t>(letter);
            break;
        }
    }
    if (secureLetter == 0) {
        return frame.Finish(true);
    }
    const std::u16string name = VolumeName(secureLetter);
    frame.log().Write(u"Going to Create handle " + name, kPass);
    const OpenResult drive = OpenVolume(host, secureLetter);
    bool ok = false;
    if (drive.handle != kInvalidHandle) {
        state.drive = drive.handle;
        frame.log().Write(u"Drive handle created for " + name, kPass);
        // START STOP UNIT with LoEj set and Start clear: eject the medium.
        constexpr std::uint8_t kStartStopUnit = 0x1B;
        constexpr std::uint8_t kLoadEject = 0x02;
        constexpr std::uint8_t kStartStopCdbLength = 6;
        const std::uint8_t eject[kMaxCdbLength] = {kStartStopUnit, 0, 0, 0, kLoadEject, 0};
        ok = SendCdb(state, CommandTarget{state.osType, state.drive, kNoAdapter}, eject,
                     kStartStopCdbLength, nullptr, 0, kDirNone)
                 .accepted;
        if (ok) {
            frame.log().Write(u"START_STOP_UNIT command issued to " + name, kPass);
        }
        frame.log().Write(u"Close the handle created for " + name, kPass);
    }
    if (!ok) {
        frame.Fail(kErrNoDriveHandle);
    }
    return frame.Finish(ok);
}
