#include "common/program_app.h"

#include <cstdint>
#include <string>

namespace kvx::ui {
namespace {

constexpr std::uint8_t kHubModeSignal = '1';

}  // namespace

int ExitCode(Outcome outcome) {
    return outcome == Outcome::kDone ? 0 : 1;
}

ProgramApp::ProgramApp(Host& host, View& view, ModuleLoader& loader, ResourceStrings& strings,
                       const StartUpPlan& plan)
    : host_(host), view_(view), loader_(loader), strings_(strings), markers_(host), plan_(plan) {}

Outcome ProgramApp::StartUp(ProgramSession& s) {
    s.names = ProgramNames::From(host_.ModuleFileName());
    s.libraryPath = s.names.Companion(u"KVX.DLL");

    // 1. The English resource library replaces the built-in strings.
    const std::u16string resources = s.names.Companion(plan_.resources);
    if (UserLanguageIsEnglish() && FileReadable(host_, resources)) {
        if (auto module = loader_.LoadResources(resources)) {
            strings_.UseModule(std::move(module));
        }
    }
    // 2. One instance per program and drive.
    if (!markers_.ClaimOwn(s.names.OwnMarker())) {
        return Outcome::kEndedSilently;
    }
    // 3. No other program of the device may be running.
    for (const std::u16string_view sibling : plan_.siblings) {
        switch (markers_.Sibling(s.names.SiblingMarker(sibling))) {
            case SiblingState::kIdle:
                break;
            case SiblingState::kUnreadable:
                return Outcome::kEndedSilently;
            case SiblingState::kRunning:
                view_.ShowMessage(s.Text(plan_.siblingRunning));
                return Outcome::kSiblingRunning;
        }
    }
    // 4. The configuration file must be there.
    if (!FileReadable(host_, s.names.Companion(u"KVX.INI"))) {
        view_.ShowMessage(s.Text(plan_.noConfig));
        return Outcome::kFailed;
    }
    // 5. May this user open the raw volume?
    const OsVersion version = host_.GetVersion(false);
    VolumeAccess access = VolumeAccess::kNotTried;
    if (version.ok && version.platformId == kPlatformNt) {
        const OpenResult volume =
            host_.Open(s.names.Volume(), kAccessRead | kAccessWrite, kShareRead | kShareWrite);
        if (volume.handle != kInvalidHandle) {
            host_.Close(volume.handle);
            access = VolumeAccess::kOpened;
        } else {
            access = volume.osError == kErrorAccessDenied ? VolumeAccess::kDenied
                                                          : VolumeAccess::kFailed;
        }
    }
    if (const Outcome o = OnVolume(version, access); o != Outcome::kDone) {
        return o;
    }
    // 6. The device library.
    SymbolSource* library = loader_.LoadDeviceLibrary(s.libraryPath);
    if (library == nullptr) {
        view_.ShowMessage(s.LibraryMissing());
        return Outcome::kFailed;
    }
    s.library.emplace(*library);
    // 7-9. The program must run from one of the device's CD drives.
    if (const auto found = s.lib().CheckCD(s.request); found && *found == 0) {
        view_.ShowMessage(s.Text(plan_.deviceNotFound, Icon::kError));
        return Outcome::kFailed;
    }
    if (s.request.errorCode == kHubModeSignal) {
        if (const Outcome o = OnHubMode(); o != Outcome::kDone) {
            return o;
        }
    }
    if (!s.StoreProgramDrive()) {
        return Outcome::kEndedSilently;
    }
    return Outcome::kDone;
}

}  // namespace kvx::ui
