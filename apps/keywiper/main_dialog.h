// Keywiper's main dialog, with the warning and the stored hint, and its About box. Both close
// with OK when the device is removed.
#pragma once

#include "apps/keywiper/session.h"
#include "common/program_dialogs.h"
#include "common/view.h"

namespace kvx::keywiper {

class CKEYWIPERDlg final : public ui::SessionDialog {
  public:
    explicit CKEYWIPERDlg(Session& session) : SessionDialog(session), s_(session) {}
    const ui::DialogSpec& Spec() const override;
    void OnInit(ui::Window& window) override;
    void OnCommand(ui::Window& window, ui::ControlId id) override;
    void OnCloseRequest(ui::Window& window) override;
    void OnAbout(ui::Window& window) override;

  private:
    Session& s_;
};

class CAboutDlg final : public ui::AboutBox {
  public:
    explicit CAboutDlg(Session& session);
};

}  // namespace kvx::keywiper
