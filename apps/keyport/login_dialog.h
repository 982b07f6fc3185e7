// The login dialog: takes the password, authenticates through the library, counts the attempts
// the device refused, offers the hint after every third, and on success shows the success dialog
// and makes the system see the opened partition.
#pragma once

#include "apps/keyport/session.h"
#include "common/program_dialogs.h"
#include "common/view.h"

namespace kvx::keyport {

class CKEYPORTDlg final : public ui::SessionDialog {
  public:
    explicit CKEYPORTDlg(Session& session) : SessionDialog(session), s_(session) {}
    const ui::DialogSpec& Spec() const override;
    void OnInit(ui::Window& window) override;
    void OnCommand(ui::Window& window, ui::ControlId id) override;
    void OnTextChanged(ui::Window& window, ui::ControlId id) override;
    void OnAbout(ui::Window& window) override;

  private:
    void Login(ui::Window& window);
    void Succeeded(ui::Window& window);
    void Refused(ui::Window& window);
    void OfferOnlyTheHint(ui::Window& window);
    // Whether the device is one of the chips that open their partition only on request.
    bool ChipPath();

    Session& s_;
};

}  // namespace kvx::keyport
