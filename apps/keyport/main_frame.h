// The hidden main frame: asks whether a login is needed, opens the CD drive when not, else waits
// for the device's CD drive and shows the login dialog; the program ends when it closes.
#pragma once

#include "apps/keyport/session.h"
#include "common/view.h"

namespace kvx::keyport {

class CMainFrame final : public ui::Dialog {
  public:
    explicit CMainFrame(Session& session) : s_(session) {}
    const ui::DialogSpec& Spec() const override;
    void OnInit(ui::Window& window) override;
    void OnTimer(ui::Window& window, unsigned id) override;
    void OnCloseRequest(ui::Window& window) override;

    // The frame window's name.
    static constexpr char16_t kWindowName[] = u"KEYPRTFRM";

  private:
    class BoxOpen;
    void WaitForDrive(ui::Window& window);

    Session& s_;
    bool boxOpen_ = false;  // one of the frame's message boxes is on the screen
};

}  // namespace kvx::keyport
