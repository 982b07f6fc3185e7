#include "apps/keyport/login_dialog.h"

#include <array>

#include "apps/keyport/change_password.h"
#include "apps/keyport/keyport_strings.h"
#include "apps/keyport/library_error.h"
#include "apps/keyport/resource_ids.h"
#include "apps/keyport/small_dialogs.h"
#include "common/program_names.h"
#include "common/secret_text.h"
#include "discovery/chip_codes.h"
#include "host/text.h"
#include "security/authenticate.h"
#include "security/hdd_info.h"

namespace kvx::keyport {
namespace {

using ui::ControlKind;
using ui::Icon;

constexpr std::size_t kChipTextUnits = 260;  // the 520-byte buffer of QDAGetChipNum

}  // namespace

const ui::DialogSpec& CKEYPORTDlg::Spec() const {
    static const ui::DialogSpec spec{kLoginTemplate,
                                     {{kLoginPrompt, ControlKind::kStatic},
                                      {kPasswordLabel, ControlKind::kStatic},
                                      {kPasswordEdit, ControlKind::kPasswordEdit},
                                      {kLoginButton, ControlKind::kButton},
                                      {kCancelButton, ControlKind::kDefaultButton},
                                      {kOptionsButton, ControlKind::kButton},
                                      {kHintButton, ControlKind::kButton}}};
    return spec;
}

void CKEYPORTDlg::OnInit(ui::Window& window) {
    window.SetText(kLoginPrompt, s_.String(kStrEnterPassword));
    window.SetText(kPasswordLabel, s_.String(kStrPasswordLabel));
    window.SetText(kLoginButton, s_.String(kStrLoginButton));
    window.SetText(kCancelButton, s_.String(kStrCancelButton));
    window.SetText(kOptionsButton, s_.String(kStrOptionsButton));
    window.SetText(kHintButton, s_.String(kStrHintButton));
    window.SetTextLimit(kPasswordEdit, kPasswordChars);
    window.SetIcon(kMainIcon);
    if (const std::u16string about = s_.String(kStrAboutEntry); !about.empty()) {
        window.AddAboutEntry(about);
    }
    s_.CreateTooltips(window, kStrNoTooltip);
    // Without tooltips the dialog still starts in its proper state: an empty password cannot
    // be sent and the hint is offered only after refusals.
    window.SetTitle(s_.String(kStrCaption));
    window.Enable(kLoginButton, false);
    window.Enable(kCancelButton, true);
    if (!s_.nonAdmin) {
        if (s_.attempts != 0 && s_.attempts % 3 == 0) {
            OfferOnlyTheHint(window);
        } else {
            window.Enable(kHintButton, false);
        }
    } else {
        for (const ui::ControlId id : {kHintButton, kOptionsButton}) {
            window.Enable(id, false);
            window.Show(id, false);
        }
    }
}

void CKEYPORTDlg::OnTextChanged(ui::Window& window, ui::ControlId id) {
    if (id != kPasswordEdit) {
        return;
    }
    ui::SecretText<kPasswordUnits> password;
    const std::size_t length = password.Read(window, kPasswordEdit);
    if (length >= ui::kShortestPassword && length <= kPasswordChars) {
        window.Enable(kLoginButton, true);
        window.SetDefaultButton(kLoginButton);
    } else {
        window.Enable(kLoginButton, false);
        window.Focus(kPasswordEdit);
    }
}

void CKEYPORTDlg::OnCommand(ui::Window& window, ui::ControlId id) {
    switch (id) {
        case kLoginButton:
            Login(window);
            break;
        case kCancelButton:
            window.Close(ui::kResultCancel);
            break;
        case kHintButton: {
            // Login comes back once a password of proper length is typed.
            window.Enable(kPasswordEdit, true);
            window.Enable(kOptionsButton, true);
            window.Enable(kHintButton, false);
            HINTDLG hint(s_);
            window.RunModal(hint);
            window.Focus(kPasswordEdit);
            break;
        }
        case kOptionsButton: {
            CChangePassword change(s_);
            if (window.RunModal(change) == ui::kResultOk) {
                window.Close(ui::kResultOk);
            }
            break;
        }
        default:
            break;
    }
}

void CKEYPORTDlg::OnAbout(ui::Window& window) {
    CAboutDlg about(s_);
    window.RunModal(about);
}

void CKEYPORTDlg::Login(ui::Window& window) {
    QdaRequest& r = s_.request;
    if (const auto found = s_.lib().CheckCD(r); found && *found == 0) {
        if (!ShowLibraryError(s_, window, r.errorCode, r.mediaType)) {
            window.ShowMessage(s_.Text(kStrDeviceNotFound, Icon::kError));
        }
        window.Close(ui::kResultOk);
        return;
    }
    s_.StoreProgramDrive();

    // A count left over from an earlier call must not be taken for this one's.
    r.verifyCount = 0;
    std::optional<int> authenticated;
    {
        ui::SecretText<kPasswordUnits> password;
        password.Read(window, kPasswordEdit);
        s_.PutPassword(password.view());
        authenticated = s_.lib().SHA2Auth(r);
        s_.WipePassword();
    }
    if (!authenticated) {
        // Without the login export nothing was checked: that is no login.
        window.ShowMessage(s_.LibraryMissing());
        return;
    }
    if (r.verifyCount != 0) {
        ++s_.attempts;
    }
    if (*authenticated != 0) {
        Succeeded(window);
    } else {
        Refused(window);
    }
}

bool CKEYPORTDlg::ChipPath() {
    std::array<std::uint16_t, kChipTextUnits> chip{};
    const auto read = s_.lib().GetChipNum(s_.request, chip.data());
    if (!read || *read == 0) {
        return false;
    }
    const std::u16string code = UpperAscii(ReadFixedUtf16(std::span<const std::uint16_t>(chip)));
    return IsLaunchChip(code) && ui::IsNamedNtVersion(s_.hostSystem);
}

void CKEYPORTDlg::Succeeded(ui::Window& window) {
    QdaRequest& r = s_.request;
    // The password has done its work: it does not stay in the field behind the next dialogs.
    window.SetText(kPasswordEdit, u"");
    const bool chip = ChipPath();
    if (!chip && (r.mediaType & kMediaFlash) == 0 && !s_.nonAdmin) {
        const RefreshResult refreshed = s_.refresh();
        if (!refreshed.ok) {
            if (refreshed.configMissing) {
                window.ShowMessage(s_.Text(kStrNoIni));
            }
            window.ShowMessage(s_.Text(kStrRefreshFailed, Icon::kError));
            window.Close(ui::kResultOk);
            return;
        }
        for (const std::u16string& node : refreshed.nodes) {
            s_.view.ShowPartitionNode(node);
        }
    }
    CPrcSucc success(s_);
    window.RunModal(success);
    if (chip) {
        if (const auto launched = s_.lib().LaunchSec(r); launched && *launched == 0) {
            ShowLibraryError(s_, window, r.errorCode, r.mediaType);
            window.ShowMessage(s_.Text(kStrLaunchFailed, Icon::kError));
        }
    }
    window.Close(ui::kResultOk);
}

void CKEYPORTDlg::Refused(ui::Window& window) {
    QdaRequest& r = s_.request;
    if (r.errorCode == kErrIdentifierRefused) {
        ShowLibraryError(s_, window, r.errorCode, r.mediaType);
        window.Close(ui::kResultOk);
        return;
    }
    if (r.errorCode != kErrPasswordRefused) {
        // Not a refused password: say what failed and let the user try again.
        if (!ShowLibraryError(s_, window, r.errorCode, r.mediaType)) {
            window.ShowMessage(s_.Text(kStrAuthFailed));
        }
        return;
    }
    if (s_.attempts % 3 != 0) {
        window.ShowMessage(s_.Text(kStrInvalidPassword, Icon::kError));
        window.SetText(kPasswordEdit, u"");
        window.Focus(kPasswordEdit);
        window.Enable(kLoginButton, false);
        return;
    }
    if (s_.nonAdmin) {
        window.ShowMessage(s_.Text(kStrLimitRelaunch));
        window.Close(ui::kResultOk);
        return;
    }
    window.ShowMessage(s_.Text(kStrLimitHint, Icon::kError));
    window.SetText(kPasswordEdit, u"");
    OfferOnlyTheHint(window);
    window.Focus(kHintButton);
}

void CKEYPORTDlg::OfferOnlyTheHint(ui::Window& window) {
    // After every third refusal only Hint and Cancel are usable, until the hint was seen.
    window.Enable(kLoginButton, false);
    window.Enable(kPasswordEdit, false);
    window.Enable(kOptionsButton, false);
    window.Enable(kHintButton, true);
}

}  // namespace kvx::keyport
