#include "common/program_dialogs.h"

namespace kvx::ui {
namespace {

constexpr std::size_t kShortestPassword = 4;
constexpr std::size_t kShortestHint = 5;

}  // namespace

void OkDialog::OnCommand(Window& window, ControlId id) {
    if (id == ok_) {
        window.Close(kResultOk);
        return;
    }
    Dialog::OnCommand(window, id);
}

void OkDialog::OnDeviceRemoved(Window& window) {
    if (session_.ClosesOnRemoval()) {
        window.Close(kResultOk);
    }
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

void LimitNewPasswordFields(Window& window, const NewPasswordFields& fields) {
    window.SetTextLimit(fields.password, kPasswordChars);
    window.SetTextLimit(fields.confirm, kPasswordChars);
    window.SetTextLimit(fields.hint, kHintChars);
}

void NewPasswordEntry::Read(Window& window, const NewPasswordFields& fields) {
    password.Read(window, fields.password);
    confirm.Read(window, fields.confirm);
    hint.Read(window, fields.hint);
}

void NewPasswordEntry::Wipe() {
    password.Wipe();
    confirm.Wipe();
    hint.Wipe();
}

std::optional<Refusal> NewPasswordEntry::Check(const NewPasswordFields& fields) const {
    if (password.size() < kShortestPassword) {
        return Refusal{fields.tooShort, fields.password};
    }
    if (confirm.size() < kShortestPassword) {
        return Refusal{fields.tooShort, fields.confirm};
    }
    if (password.view() != confirm.view()) {
        return Refusal{fields.mismatch, fields.confirm};
    }
    if (hint.size() < kShortestHint) {
        return Refusal{fields.hintTooShort, fields.hint};
    }
    return std::nullopt;
}

}  // namespace kvx::ui
