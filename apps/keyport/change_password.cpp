#include "apps/keyport/change_password.h"

#include "apps/keyport/keyport_strings.h"
#include "apps/keyport/library_error.h"
#include "apps/keyport/resource_ids.h"
#include "common/program_dialogs.h"
#include "common/secret_text.h"
#include "security/authenticate.h"

namespace kvx::keyport {
namespace {

using ui::ControlKind;
using ui::Icon;

constexpr std::uint8_t kWritePasswordAndHint = 3;

constexpr ui::NewPasswordFields kNewFields{{kNewLabel, kNewEdit, kStrNewLabel},
                                           {kConfirmLabel, kConfirmEdit, kStrConfirmLabel},
                                           {kNewHintLabel, kNewHintEdit, kStrNewHintLabel},
                                           kStrPasswordTooShort,
                                           kStrConfirmMismatch,
                                           kStrHintTooShort};

}  // namespace

const ui::DialogSpec& CChangePassword::Spec() const {
    static const ui::DialogSpec spec = ui::NewPasswordDialog(
        kChangePasswordTemplate,
        {{kChangeIntro, ControlKind::kStatic},
         {kCurrentLabel, ControlKind::kStatic},
         {kCurrentEdit, ControlKind::kPasswordEdit}},
        kNewFields,
        {{kApplyButton, ControlKind::kDefaultButton}, {kChangeCancel, ControlKind::kButton}});
    return spec;
}

void CChangePassword::OnInit(ui::Window& window) {
    window.SetText(kChangeIntro, s_.String(kStrChangeIntro));
    window.SetText(kCurrentLabel, s_.String(kStrCurrentLabel));
    ui::InitNewPasswordFields(window, s_, kNewFields);
    window.SetText(kApplyButton, s_.String(kStrChangeOk));
    window.SetText(kChangeCancel, s_.String(kStrChangeCancel));
    window.SetTextLimit(kCurrentEdit, kPasswordChars);
    window.SetIcon(kMainIcon);
    s_.CreateTooltips(window, kStrNoTooltip);
    // Title and the state of the current-password field do not depend on the tooltips.
    window.SetTitle(s_.String(kStrCaption));
    if (s_.request.passwordSupported == 0) {
        window.Enable(kCurrentEdit, false);
    }
}

void CChangePassword::OnCommand(ui::Window& window, ui::ControlId id) {
    if (id == kApplyButton) {
        Apply(window);
    } else if (id == kChangeCancel || id == ui::kIdCancel) {
        window.Close(ui::kResultCancel);
    }
}

void CChangePassword::Refuse(ui::Window& window, const ui::Message& message, ui::ControlId field) {
    window.ShowMessage(message);
    window.Focus(field);
}

void CChangePassword::Apply(ui::Window& window) {
    // The texts of the four fields; wiped as soon as a message is due or the device has them.
    ui::SecretText<kPasswordUnits> current;
    ui::NewPasswordEntry e;
    current.Read(window, kCurrentEdit);
    e.Read(window, kNewFields);
    const bool protectedDevice = s_.request.passwordSupported == 1;
    const auto refuse = [&](ui::StringId id, Icon icon, ui::ControlId field) {
        current.Wipe();
        e.Wipe();
        Refuse(window, s_.Text(id, icon), field);
    };

    if (protectedDevice && current.size() < ui::kShortestPassword) {
        return refuse(kStrPasswordTooShort, Icon::kInformation, kCurrentEdit);
    }
    if (const auto refusal = e.Check(kNewFields)) {
        return refuse(refusal->text, Icon::kInformation, refusal->field);
    }

    QdaRequest& r = s_.request;
    if (protectedDevice) {
        // The current password must be proved; a library without the login cannot prove it.
        r.verifyCount = 0;
        s_.PutPassword(current.view());
        const auto proved = s_.lib().SHA2Auth(r);
        s_.WipePassword();
        current.Wipe();
        if (!proved) {
            e.Wipe();
            return Refuse(window, s_.LibraryMissing(), kCurrentEdit);
        }
        if (*proved == 0) {
            e.Wipe();
            if (r.errorCode != kErrPasswordRefused &&
                ShowLibraryError(s_, window, r.errorCode, r.mediaType)) {
                window.Focus(kCurrentEdit);
                return;
            }
            return refuse(kStrInvalidCurrent, Icon::kError, kCurrentEdit);
        }
    }

    r.changeOp = kWritePasswordAndHint;
    s_.PutPassword(e.password.view());
    s_.PutHint(e.hint.view());
    const auto written = s_.lib().ChangePassWord(r);
    s_.WipePassword();
    e.Wipe();
    if (!written || *written == 0) {
        // A library without the export has not written anything either.
        if (written) {
            ShowLibraryError(s_, window, r.errorCode, r.mediaType);
        }
        return refuse(kStrWritePasswordFailed, Icon::kError, kCurrentEdit);
    }
    window.ShowMessage(
        s_.Text(protectedDevice ? kStrPasswordChanged : kStrSecurityEnabled, Icon::kInformation));
    window.Close(ui::kResultOk);
}

}  // namespace kvx::keyport
