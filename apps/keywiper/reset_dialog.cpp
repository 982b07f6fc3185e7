#include "apps/keywiper/reset_dialog.h"

#include <string>

#include "apps/keywiper/keywiper_strings.h"
#include "apps/keywiper/progress_targets.h"
#include "apps/keywiper/resource_ids.h"
#include "common/program_dialogs.h"
#include "host/text.h"

namespace kvx::keywiper {
namespace {

using ui::ControlKind;
using ui::Icon;

constexpr std::uint8_t kStoreWithUnlock = 4;

constexpr ui::NewPasswordFields kNewFields{{kNewLabel, kNewEdit, kStrNewLabel},
                                           {kConfirmLabel, kConfirmEdit, kStrConfirmLabel},
                                           {kNewHintLabel, kNewHintEdit, kStrNewHintLabel},
                                           kStrPasswordTooShort,
                                           kStrConfirmMismatch,
                                           kStrHintTooShort};

}  // namespace

const ui::DialogSpec& CResetPasDlg::Spec() const {
    static const ui::DialogSpec spec =
        ui::NewPasswordDialog(kResetTemplate, {{kResetIntro, ControlKind::kStatic}}, kNewFields,
                              {{kResetButton, ControlKind::kDefaultButton},
                               {kResetCancel, ControlKind::kButton},
                               {kProgressBar, ControlKind::kProgress},
                               {kStatusText, ControlKind::kStatic},
                               {kPercentText, ControlKind::kStatic}});
    return spec;
}

std::u16string WarningText(const Session& session, int number, int count) {
    const std::u16string n = FromUtf8(std::to_string(number));
    const std::u16string of = FromUtf8(std::to_string(count));
    return ui::FormatStrings(u"%s %s of %s\n%s",
                             {session.String(kStrWarning), n, of, session.String(kStrWarningText)});
}

void CResetPasDlg::OnInit(ui::Window& window) {
    window.SetTitle(s_.String(kStrCaption));
    window.SetIcon(kMainIcon);
    window.SetText(kResetIntro, s_.String(kStrResetIntro));
    ui::InitNewPasswordFields(window, s_, kNewFields);
    window.SetText(kResetButton, s_.String(kStrResetButton));
    window.SetText(kResetCancel, s_.String(kStrCancelButton));
    s_.CreateTooltips(window, kStrNoTooltip);
}

void CResetPasDlg::OnCommand(ui::Window& window, ui::ControlId id) {
    if (s_.busy) {
        return;
    }
    if (id == kResetButton) {
        Reset(window);
    } else if (id == kResetCancel) {
        window.Close(ui::kResultCancel);
    }
}

void CResetPasDlg::OnCloseRequest(ui::Window& window) {
    OnCommand(window, kResetCancel);
}

void CResetPasDlg::EnableInput(ui::Window& window, bool enabled) {
    for (const ui::ControlId id :
         {kResetButton, kResetCancel, kNewEdit, kConfirmEdit, kNewHintEdit}) {
        window.Enable(id, enabled);
    }
}

void CResetPasDlg::Reset(ui::Window& window) {
    EnableInput(window, false);

    // The texts of the three fields; wiped as soon as a message is due or the device has them.
    ui::NewPasswordEntry e;
    e.Read(window, kNewFields);
    if (const auto refusal = e.Check(kNewFields)) {
        e.Wipe();
        window.ShowMessage(s_.Text(refusal->text, Icon::kInformation));
        EnableInput(window, true);
        window.Focus(refusal->field);
        return;
    }
    e.confirm.Wipe();

    // From here on the dialog only ends.
    s_.busy = true;
    for (int i = 1; i <= kWarnings; ++i) {
        ui::Message warning =
            s_.Composed(WarningText(s_, i, kWarnings), kStrWarningText, Icon::kNone);
        warning.buttons = ui::Buttons::kYesNo;
        if (window.ShowMessage(warning) != ui::kResultYes) {
            e.Wipe();
            return End(window);
        }
    }
    // The fields have done their work: the password stays in one buffer of ours until the
    // device has it.
    window.SetText(kNewEdit, u"");
    window.SetText(kConfirmEdit, u"");
    const ui::Message outcome = Store(window, e.password.view(), e.hint.view());
    e.Wipe();
    window.ShowMessage(outcome);
    End(window);
}

ui::Message CResetPasDlg::Store(ui::Window& window, std::u16string_view password,
                                std::u16string_view hint) {
    QdaRequest& r = s_.request;
    const ProgressTargets targets(window, kProgressBar, kPercentText, kStatusText, s_.pump);
    struct Cleared {
        QdaRequest& r;
        ~Cleared() { ProgressTargets::Clear(r); }
    } cleared{r};

    // The new password data first. A library without the export cannot store it: erasing the
    // partition then would only lose the data and keep the forgotten password.
    targets.Into(r, true);
    r.changeOp = kStoreWithUnlock;
    s_.PutPassword(password);
    s_.PutHint(hint);
    const auto written = s_.lib().ChangePassWord(r);
    s_.WipePassword();
    if (!written || *written == 0) {
        return s_.Text(kStrWritePasswordFailed, Icon::kError);
    }

    // Then the partition, with the mode of the change still in the record. Without the export
    // nothing was erased, which is no reset either.
    window.SetText(kStatusText, s_.String(kStrWritingFileSystem));
    targets.Into(r, false);
    const auto formatted = s_.lib().FormatHDD(r);
    if (!formatted || *formatted == 0) {
        return s_.Text(kStrFormatFailed, Icon::kError);
    }
    return s_.Text(kStrResetDone, Icon::kInformation);
}

void CResetPasDlg::End(ui::Window& window) {
    window.Enable(kResetButton, true);
    window.Enable(kResetCancel, true);
    s_.busy = false;
    window.Close(ui::kResultOk);
}

}  // namespace kvx::keywiper
