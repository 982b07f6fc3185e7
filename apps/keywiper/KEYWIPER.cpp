#include "apps/keywiper/KEYWIPER.h"

#include "apps/keywiper/keywiper_strings.h"
#include "apps/keywiper/main_dialog.h"

namespace kvx::keywiper {
namespace {

using ui::Icon;

constexpr ui::StartUpPlan kPlan{
    u"WEG.DLL", {u"SET", u"LCK"}, kStrSiblingRunning, kStrNoIni, kStrDeviceNotFound};

}  // namespace

CKEYWIPERApp::CKEYWIPERApp(Host& host, ui::View& view, ui::ModuleLoader& loader,
                           ui::ResourceStrings& strings)
    : ProgramApp(host, view, loader, strings, kPlan), session_(host, view, strings) {}

Outcome CKEYWIPERApp::Run() {
    const Outcome started = StartUp();
    if (started != Outcome::kDone) {
        return started;
    }
    CKEYWIPERDlg dialog(session_);
    view_.RunModal(dialog);
    return Outcome::kDone;
}

Outcome CKEYWIPERApp::OnVolume(const OsVersion& version, ui::VolumeAccess access) {
    (void)version;
    switch (access) {
        case ui::VolumeAccess::kNotTried:
        case ui::VolumeAccess::kOpened:
            return Outcome::kDone;
        case ui::VolumeAccess::kDenied:
            view_.ShowMessage(session_.Text(kStrNoRights, Icon::kError));
            return Outcome::kRefused;
        case ui::VolumeAccess::kFailed:
            break;
    }
    return Outcome::kEndedSilently;
}

// A library that reaches the device through the hub only means no administrator.
Outcome CKEYWIPERApp::OnHubMode() {
    view_.ShowMessage(session_.Text(kStrNoRights, Icon::kError));
    return Outcome::kRefused;
}

Outcome CKEYWIPERApp::StartUp() {
    Session& s = session_;
    if (const Outcome started = ProgramApp::StartUp(s); started != Outcome::kDone) {
        return started;
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
