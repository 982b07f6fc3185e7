#include "common/program_dialogs.h"

namespace kvx::ui {

void SessionDialog::OnDeviceRemoved(Window& window) {
    if (session_.ClosesOnRemoval()) {
        window.Close(kResultOk);
    }
}

void OkDialog::OnCommand(Window& window, ControlId id) {
    if (id == ok_) {
        window.Close(kResultOk);
        return;
    }
    SessionDialog::OnCommand(window, id);
}

AboutBox::AboutBox(const ProgramSession& session, const AboutSpec& about)
    : OkDialog(session, about.okControl),
      about_(about),
      spec_{about.templateId,
            {{about.versionControl, ControlKind::kStatic},
             {about.noticeControl, ControlKind::kStatic},
             {about.okControl, ControlKind::kDefaultButton}}} {}

void AboutBox::OnInit(Window& window) {
    const std::u16string caption = session().String(about_.caption);
    window.SetTitle(caption);
    window.SetIcon(about_.iconId);
    window.SetText(about_.versionControl,
                   FormatStrings(about_.versionFormat, {caption, about_.version}));
    window.SetText(about_.noticeControl, session().String(about_.notice));
    window.SetText(about_.okControl, session().String(about_.ok));
}

DialogSpec NewPasswordDialog(int templateId, std::initializer_list<ControlSpec> before,
                             const NewPasswordFields& fields,
                             std::initializer_list<ControlSpec> after) {
    DialogSpec spec{templateId, before};
    spec.controls.insert(spec.controls.end(), {{fields.password.label, ControlKind::kStatic},
                                               {fields.password.edit, ControlKind::kPasswordEdit},
                                               {fields.confirm.label, ControlKind::kStatic},
                                               {fields.confirm.edit, ControlKind::kPasswordEdit},
                                               {fields.hint.label, ControlKind::kStatic},
                                               {fields.hint.edit, ControlKind::kEdit}});
    spec.controls.insert(spec.controls.end(), after);
    return spec;
}

void InitNewPasswordFields(Window& window, const ProgramSession& session,
                           const NewPasswordFields& fields) {
    for (const LabelledEdit& f : {fields.password, fields.confirm, fields.hint}) {
        window.SetText(f.label, session.String(f.text));
    }
    window.SetTextLimit(fields.password.edit, kPasswordChars);
    window.SetTextLimit(fields.confirm.edit, kPasswordChars);
    window.SetTextLimit(fields.hint.edit, kHintChars);
}

void NewPasswordEntry::Read(Window& window, const NewPasswordFields& fields) {
    password.Read(window, fields.password.edit);
    confirm.Read(window, fields.confirm.edit);
    hint.Read(window, fields.hint.edit);
}

void NewPasswordEntry::Wipe() {
    password.Wipe();
    confirm.Wipe();
    hint.Wipe();
}

std::optional<Refusal> NewPasswordEntry::Check(const NewPasswordFields& fields) const {
    if (password.size() < kShortestPassword) {
        return Refusal{fields.tooShort, fields.password.edit};
    }
    if (confirm.size() < kShortestPassword) {
        return Refusal{fields.tooShort, fields.confirm.edit};
    }
    if (password.view() != confirm.view()) {
        return Refusal{fields.mismatch, fields.confirm.edit};
    }
    if (hint.size() < kShortestHint) {
        return Refusal{fields.hintTooShort, fields.hint.edit};
    }
    return std::nullopt;
}

}  // namespace kvx::ui
