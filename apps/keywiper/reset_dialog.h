// The reset dialog: a new password and hint, three confirmed warnings, then the password data
// stored anew and the secure partition erased and formatted, with progress. Once the warnings
// have started, every path closes the dialog with OK and the program ends.
#pragma once

#include "apps/keywiper/session.h"
#include "common/program_dialogs.h"
#include "common/view.h"

namespace kvx::keywiper {

class CResetPasDlg final : public ui::SessionDialog {
  public:
    explicit CResetPasDlg(Session& session) : SessionDialog(session), s_(session) {}
    const ui::DialogSpec& Spec() const override;
    void OnInit(ui::Window& window) override;
    void OnCommand(ui::Window& window, ui::ControlId id) override;
    void OnCloseRequest(ui::Window& window) override;

  private:
    void Reset(ui::Window& window);
    // The edits and both buttons.
    void EnableInput(ui::Window& window, bool enabled);
    // The device operations after the warnings; the message that ends them.
    ui::Message Store(ui::Window& window, std::u16string_view password, std::u16string_view hint);
    void End(ui::Window& window);

    Session& s_;
};

// The text of warning `number` of `count`: string 180, the count, a line break, string 102.
std::u16string WarningText(const Session& session, int number, int count);

}  // namespace kvx::keywiper
