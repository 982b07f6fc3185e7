#include "apps/keyport/keyport_app.h"

#include <array>

#include "apps/keyport/change_password.h"
#include "apps/keyport/keyport_strings.h"
#include "apps/keyport/library_error.h"
#include "apps/keyport/main_frame.h"

namespace kvx::keyport {
namespace {

using ui::Icon;

constexpr std::size_t kSectorBytes = 512;

constexpr ui::StartUpPlan kPlan{
    u"KEG.DLL", {u"SET", u"PRT"}, kStrSiblingRunning, kStrNoIni, kStrDeviceNotFound};

}  // namespace

CKEYPORTApp::CKEYPORTApp(Host& host, ui::View& view, ui::ModuleLoader& loader,
                         ui::ResourceStrings& strings)
    : ProgramApp(host, view, loader, strings, kPlan), session_(host, view, strings) {}

Outcome CKEYPORTApp::Run(std::u16string_view commandLine) {
    const Outcome started = StartUp(session_);
    if (started != Outcome::kDone) {
        return started;
    }
    if (!commandLine.empty()) {
        return Command(commandLine);
    }
    RunFrame();
    return Outcome::kDone;
}

Outcome CKEYPORTApp::OnVolume(const OsVersion& version, ui::VolumeAccess access) {
    Session& s = session_;
    s.hostSystem = ui::HostSystemCode(version);
    if (access == ui::VolumeAccess::kDenied) {
        const std::u16string config = s.names.Companion(u"KVX.INI");
        if (host_.ReadProfileString(u"VENDOR", u"NONADMIN", u"", config, 10) != u"YES") {
            return Outcome::kEndedSilently;
        }
        s.nonAdmin = true;
    }
    return Outcome::kDone;
}

Outcome CKEYPORTApp::OnHubMode() {
    session_.nonAdmin = true;
    return Outcome::kDone;
}

Outcome CKEYPORTApp::Command(std::u16string_view word) {
    if (ui::EqualsIgnoringCase(word, u"ENABLEOSG") || ui::EqualsIgnoringCase(word, u"DISABLEOSG")) {
        SwitchOsg(ui::EqualsIgnoringCase(word, u"ENABLEOSG"));
        return Outcome::kDone;
    }
    const bool login = ui::EqualsIgnoringCase(word, u"LOGIN");
    if (!login && !ui::EqualsIgnoringCase(word, u"OPENSEC")) {
        return Outcome::kNoCommand;
    }
    if (!ReadPasswordStatus()) {
        return Outcome::kDone;
    }
    const QdaRequest& r = session_.request;
    if (login) {
        if (r.passwordSupported != 0) {
            RunFrame();
        } else {
            CChangePassword first(session_);
            view_.RunModal(first);
        }
    } else if (r.passwordSupported != 0 && r.deviceDisabled == 0) {
        view_.ShowMessage(session_.Text(kStrLoginFirst, Icon::kInformation));
    } else {
        OpenSecure();
    }
    return Outcome::kDone;
}

// The on-screen guide's auto-launch switch: bytes 4-7 of hidden sector 0 ("OSG" and 1 or 0);
// the other bytes of the sector are written back as read.
void CKEYPORTApp::SwitchOsg(bool enable) {
    Session& s = session_;
    QdaRequest& r = s.request;
    std::array<std::uint8_t, kSectorBytes> sector{};
    r.sectorCount = 1;
    r.startSector = 0;
    r.writeFlag = 0;
    const auto read = s.lib().HiddenPartRdWr(r, sector.data());
    if (!read) {
        return;
    }
    if (*read == 0) {
        ShowLibraryError(s, view_, r.errorCode, r.mediaType);
        return;
    }
    sector[4] = 'O';
    sector[5] = 'S';
    sector[6] = 'G';
    sector[7] = enable ? 1 : 0;
    r.writeFlag = 1;
    const auto written = s.lib().HiddenPartRdWr(r, sector.data());
    if (!written || *written == 0) {
        if (written) {
            ShowLibraryError(s, view_, r.errorCode, r.mediaType);
        }
        view_.ShowMessage(
            s.Text(enable ? kStrOsgEnableFailed : kStrOsgDisableFailed, Icon::kError));
        return;
    }
    view_.ShowMessage(s.Text(enable ? kStrOsgEnabled : kStrOsgDisabled, Icon::kInformation));
}

bool CKEYPORTApp::ReadPasswordStatus() {
    QdaRequest& r = session_.request;
    const auto status = session_.lib().GetPasswordStatus(r);
    if (!status) {
        r.passwordSupported = 0;
        r.deviceDisabled = 0;
        return true;
    }
    if (*status == 0) {
        if (!ShowLibraryError(session_, view_, r.errorCode, r.mediaType)) {
            view_.ShowMessage(session_.Text(kStrNoPasswordStatus, Icon::kError));
        }
        return false;
    }
    return true;
}

void CKEYPORTApp::OpenSecure() {
    QdaRequest& r = session_.request;
    if (const auto found = session_.lib().CheckSEC(r); found && *found == 0) {
        return;
    }
    if (r.secureLetters[0] != 0) {
        view_.ShellOpen(std::u16string(1, static_cast<char16_t>(r.secureLetters[0])) + u":");
    }
}

int CKEYPORTApp::RunFrame() {
    CMainFrame frame(session_);
    return view_.RunFrame(frame);
}

}  // namespace kvx::keyport
