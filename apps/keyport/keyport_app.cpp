#include "apps/keyport/keyport_app.h"

#include <array>

#include "apps/keyport/change_password.h"
#include "apps/keyport/keyport_strings.h"
#include "apps/keyport/library_error.h"
#include "apps/keyport/main_frame.h"

namespace kvx::keyport {
namespace {

using ui::Icon;

constexpr std::uint8_t kHubModeSignal = '1';
constexpr std::size_t kSectorBytes = 512;

}  // namespace

CKEYPORTApp::CKEYPORTApp(Host& host, ui::View& view, ui::ModuleLoader& loader,
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

Outcome CKEYPORTApp::Run(std::u16string_view commandLine) {
    const Outcome started = StartUp();
    if (started != Outcome::kDone) {
        return started;
    }
    if (!commandLine.empty()) {
        return Command(commandLine);
    }
    RunFrame();
    return Outcome::kDone;
}

Outcome CKEYPORTApp::StartUp() {
    Session& s = session_;
    s.names = ui::ProgramNames::From(host_.ModuleFileName());
    s.libraryPath = s.names.Companion(u"KVX.DLL");

    // 1. The English resource library replaces the built-in strings.
    const std::u16string resources = s.names.Companion(u"KEG.DLL");
    if (ui::UserLanguageIsEnglish() && ui::FileReadable(host_, resources)) {
        if (auto module = loader_.LoadResources(resources)) {
            strings_.UseModule(std::move(module));
        }
    }
    // 2. One instance per program and drive.
    if (!markers_.ClaimOwn(s.names.OwnMarker())) {
        return Outcome::kEndedSilently;
    }
    // 3. No sibling program of the device may be running.
    for (const std::u16string_view sibling : {u"SET", u"PRT"}) {
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
    // 4. The configuration file.
    const std::u16string config = s.names.Companion(u"KVX.INI");
    if (!ui::FileReadable(host_, config)) {
        view_.ShowMessage(s.Text(kStrNoIni));
        return Outcome::kFailed;
    }
    // 5. May this user open the raw volume? Without it only the hub side channel works.
    const OsVersion version = host_.GetVersion(false);
    s.hostSystem = ui::HostSystemCode(version);
    if (version.ok && version.platformId == ui::kPlatformNt) {
        const OpenResult volume =
            host_.Open(s.names.Volume(), kAccessRead | kAccessWrite, kShareRead | kShareWrite);
        if (volume.handle != kInvalidHandle) {
            host_.Close(volume.handle);
        } else if (volume.osError == kErrorAccessDenied) {
            if (host_.ReadProfileString(u"VENDOR", u"NONADMIN", u"", config, 10) != u"YES") {
                return Outcome::kEndedSilently;
            }
            s.nonAdmin = true;
        }
    }
    // 6. The device library.
    ui::SymbolSource* library = loader_.LoadDeviceLibrary(s.libraryPath);
    if (library == nullptr) {
        view_.ShowMessage(s.LibraryMissing());
        return Outcome::kFailed;
    }
    s.library.emplace(*library);
    // 7-9. The program must run from one of the device's CD drives.
    if (const auto found = s.lib().CheckCD(s.request); found && *found == 0) {
        view_.ShowMessage(s.Text(kStrDeviceNotFound, Icon::kError));
        return Outcome::kFailed;
    }
    if (s.request.errorCode == kHubModeSignal) {
        s.nonAdmin = true;
    }
    if (!s.StoreProgramDrive()) {
        return Outcome::kEndedSilently;
    }
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
        if (r.errorCode != 0) {
            ShowLibraryError(s, view_, r.errorCode, r.mediaType);
        }
        return;
    }
    sector[4] = 'O';
    sector[5] = 'S';
    sector[6] = 'G';
    sector[7] = enable ? 1 : 0;
    r.writeFlag = 1;
    const auto written = s.lib().HiddenPartRdWr(r, sector.data());
    if (!written || *written == 0) {
        if (written && r.errorCode != 0) {
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
        if (r.errorCode == 0 || !ShowLibraryError(session_, view_, r.errorCode, r.mediaType)) {
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
