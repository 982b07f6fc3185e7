// Dialog plumbing both applications share: a dialog that closes when the device is removed, one
// that also closes with OK from its button, the About box, and the fields of a new password with
// their checks.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <type_traits>

#include "common/program_session.h"
#include "common/secret_text.h"
#include "common/view.h"
#include "frame/qda.h"

namespace kvx::ui {

// A dialog of the session: closes with OK when the session says the removal of the device
// closes the dialogs.
class SessionDialog : public Dialog {
  public:
    void OnDeviceRemoved(Window& window) override;

  protected:
    explicit SessionDialog(const ProgramSession& session) : session_(session) {}
    const ProgramSession& session() const { return session_; }

  private:
    const ProgramSession& session_;
};

// A session dialog that also closes with OK from its OK button.
class OkDialog : public SessionDialog {
  public:
    void OnCommand(Window& window, ControlId id) override;

  protected:
    OkDialog(const ProgramSession& session, ControlId ok) : SessionDialog(session), ok_(ok) {}

  private:
    ControlId ok_;
};

// The program's About box: caption, version line, notice and OK, by the program's ids.
struct AboutSpec {
    int templateId = 0;
    int iconId = 0;
    ControlId versionControl = 0;
    ControlId noticeControl = 0;
    ControlId okControl = 0;
    StringId caption = 0;
    StringId notice = 0;
    StringId ok = 0;
    std::u16string_view versionFormat;  // "%s" for the caption, then "%s" for the version
    std::u16string_view version;
};

class AboutBox : public OkDialog {
  public:
    AboutBox(const ProgramSession& session, const AboutSpec& about);
    const DialogSpec& Spec() const override { return spec_; }
    void OnInit(Window& window) override;

  private:
    AboutSpec about_;
    DialogSpec spec_;
};

// An edit control, its label and the label's text.
struct LabelledEdit {
    ControlId label = 0;
    ControlId edit = 0;
    StringId text = 0;
};

// The fields of a new password and hint, and the messages that refuse them.
struct NewPasswordFields {
    LabelledEdit password;
    LabelledEdit confirm;
    LabelledEdit hint;
    StringId tooShort = 0;      // a password (or its confirmation) of fewer than four characters
    StringId mismatch = 0;      // the confirmation differs
    StringId hintTooShort = 0;  // a hint of fewer than five characters
};

// The most characters the user may type, the fewest a password needs, and the buffers with their
// terminators (the record's fields).
inline constexpr std::size_t kPasswordChars = 10;
inline constexpr std::size_t kHintChars = 75;
inline constexpr std::size_t kShortestPassword = 4;
inline constexpr std::size_t kShortestHint = 5;
inline constexpr std::size_t kPasswordUnits = std::extent_v<decltype(QdaRequest::password)>;
inline constexpr std::size_t kHintUnits = std::extent_v<decltype(QdaRequest::hint)>;

// The labels and fields in tab order, between the controls before and after them.
DialogSpec NewPasswordDialog(int templateId, std::initializer_list<ControlSpec> before,
                             const NewPasswordFields& fields,
                             std::initializer_list<ControlSpec> after);
// The labels' texts and the fields' limits.
void InitNewPasswordFields(Window& window, const ProgramSession& session,
                           const NewPasswordFields& fields);

// Why the entered fields cannot be used: the message and the field that gets the focus.
struct Refusal {
    StringId text = 0;
    ControlId field = 0;
};

// The texts of the three fields; wiped as soon as a message is due or the device has them.
struct NewPasswordEntry {
    SecretText<kPasswordUnits> password;
    SecretText<kPasswordUnits> confirm;
    SecretText<kHintUnits> hint;

    void Read(Window& window, const NewPasswordFields& fields);
    void Wipe();
    // The first check the fields fail, in the order password, confirmation, match, hint.
    std::optional<Refusal> Check(const NewPasswordFields& fields) const;
};

}  // namespace kvx::ui
