#include "apps/keywiper/KEYWIPER.h"

#include "apps/keywiper/keywiper_strings.h"
#include "apps/keywiper/main_dialog.h"

namespace kvx::keywiper {
namespace {

using ui::Icon;

constexpr std::uint8_t kHubModeSignal = '1';

}  // namespace

CKEYWIPERApp::CKEYWIPERApp(Host& host, ui::View& view, ui::ModuleLoader& loader,
                           ui::ResourceStrings& strings)
    : host_(host),
      view_(view),
      loader_(loader),
      strings_(strings),
      markers_(host),
      session_(host, view, strings) {}

int ExitCode(Outcome outcome) {
    return outcome == Outcome::kDone ? 0 : 1;
}

Outcome CKEYWIPERApp::Run() {
    const Outcome started = StartUp();
    if (started != Outcome::kDone) {
        return started;
    }
    CKEYWIPERDlg dialog(session_);
    view_.RunModal(dialog);
    return Outcome::kDone;
}

Outcome CKEYWIPERApp::StartUp() {
    Session& s = session_;
    s.names = ui::ProgramNames::From(host_.ModuleFileName());
    s.libraryPath = s.names.Companion(u"KVX.DLL");

    // 1. The English resource library replaces the built-in strings.
    const std::u16string resources = s.names.Companion(u"WEG.DLL");
    if (ui::UserLanguageIsEnglish() && ui::FileReadable(host_, resources)) {
        if (auto module = loader_.LoadResources(resources)) {
            strings_.UseModule(std::move(module));
        }
    }
    // 2. One instance per program and drive.
    if (!markers_.ClaimOwn(s.names.OwnMarker())) {
        return Outcome::kEndedSilently;
    }
    // 3. No other program of the device may be running.
    for (const std::u16string_view sibling : {u"SET", u"LCK"}) {
        switch (markers_.Sibling(s.names.SiblingMarker(sibling))) {
            case ui::SiblingState::kIdle:
                break;
            case ui::SiblingState::kUnreadable:
                return Outcome::kEndedSilently;
            case ui::SiblingState::kRunning:
                view_.ShowMessage(s.Text(kStrSiblingRunning));
                return Outcome::kSiblingRunning;
        }
    }
    // 4. The configuration file must be there; nothing in it is read here.
    if (!ui::FileReadable(host_, s.names.Companion(u"KVX.INI"))) {
        view_.ShowMessage(s.Text(kStrNoIni));
        return Outcome::kFailed;
    }
    // 5. A reset needs the raw volume: only an administrator may run it.
    const OsVersion version = host_.GetVersion(false);
    if (version.ok && version.platformId == ui::kPlatformNt) {
        const OpenResult volume =
            host_.Open(s.names.Volume(), kAccessRead | kAccessWrite, kShareRead | kShareWrite);
        if (volume.handle != kInvalidHandle) {
            host_.Close(volume.handle);
        } else if (volume.osError == kErrorAccessDenied) {
            view_.ShowMessage(s.Text(kStrNoRights, Icon::kError));
            return Outcome::kRefused;
        } else {
            return Outcome::kEndedSilently;
        }
    }
    // 6. The device library.
    ui::SymbolSource* library = loader_.LoadDeviceLibrary(s.libraryPath);
    if (library == nullptr) {
        view_.ShowMessage(s.LibraryMissing());
        return Outcome::kFailed;
    }
    s.library.emplace(*library);
    // 7-9. The program must run from one of the device's CD drives, as an administrator.
    if (const auto found = s.lib().CheckCD(s.request); found && *found == 0) {
        view_.ShowMessage(s.Text(kStrDeviceNotFound, Icon::kError));
        return Outcome::kFailed;
    }
    if (s.request.errorCode == kHubModeSignal) {
        view_.ShowMessage(s.Text(kStrNoRights, Icon::kError));
        return Outcome::kRefused;
    }
    if (!s.StoreProgramDrive()) {
        return Outcome::kEndedSilently;
    }
    // 10-11. Only a password-protected device that is locked can be reset.
    const auto status = s.lib().GetPasswordStatus(s.request);
    if (!status) {
        view_.ShowMessage(s.Text(kStrPublicDevice, Icon::kError));
        return Outcome::kRefused;
    }
    if (*status == 0) {
        view_.ShowMessage(s.Text(kStrNoPasswordStatus, Icon::kError));
        return Outcome::kFailed;
    }
    if (s.request.passwordSupported == 0) {
        view_.ShowMessage(s.Text(kStrPublicDevice, Icon::kError));
        return Outcome::kRefused;
    }
    if (s.request.deviceDisabled != 0) {
        view_.ShowMessage(s.Text(kStrAlreadyOpen, Icon::kError));
        return Outcome::kRefused;
    }
    return Outcome::kDone;
}

}  // namespace kvx::keywiper
