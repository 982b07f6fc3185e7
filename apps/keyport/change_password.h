// The change-password dialog: changes password and hint, or sets the first password on a device
// that has none.
#pragma once

#include "apps/keyport/session.h"
#include "common/program_dialogs.h"
#include "common/view.h"

namespace kvx::keyport {

class CChangePassword final : public ui::SessionDialog {
  public:
    explicit CChangePassword(Session& session) : SessionDialog(session), s_(session) {}
    const ui::DialogSpec& Spec() const override;
    void OnInit(ui::Window& window) override;
    void OnCommand(ui::Window& window, ui::ControlId id) override;

  private:
    // The OK button: checks the fields in order, proves the current password, writes the new
    // password and hint; the dialog stays open on any failure.
    void Apply(ui::Window& window);
    // Shows why; the focus goes to `field`.
    void Refuse(ui::Window& window, const ui::Message& message, ui::ControlId field);

    Session& s_;
};

}  // namespace kvx::keyport
