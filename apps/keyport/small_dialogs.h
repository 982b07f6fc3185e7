// The small modal dialogs of Keyport: the success message that closes itself, the hint, and the
// About box. Each closes with OK when the device is removed.
#pragma once

#include "apps/keyport/session.h"
#include "common/view.h"

namespace kvx::keyport {

// "Login successful": closes itself after four one-second ticks, counting on its OK button.
class CPrcSucc final : public ui::Dialog {
  public:
    explicit CPrcSucc(Session& session) : s_(session) {}
    const ui::DialogSpec& Spec() const override;
    void OnInit(ui::Window& window) override;
    void OnCommand(ui::Window& window, ui::ControlId id) override;
    void OnTimer(ui::Window& window, unsigned id) override;
    void OnDeviceRemoved(ui::Window& window) override;

  private:
    Session& s_;
};

// Shows the password hint the device keeps.
class HINTDLG final : public ui::Dialog {
  public:
    explicit HINTDLG(Session& session) : s_(session) {}
    const ui::DialogSpec& Spec() const override;
    void OnInit(ui::Window& window) override;
    void OnCommand(ui::Window& window, ui::ControlId id) override;
    void OnDeviceRemoved(ui::Window& window) override;

  private:
    Session& s_;
};

class CAboutDlg final : public ui::Dialog {
  public:
    explicit CAboutDlg(Session& session) : s_(session) {}
    const ui::DialogSpec& Spec() const override;
    void OnInit(ui::Window& window) override;
    void OnCommand(ui::Window& window, ui::ControlId id) override;
    void OnDeviceRemoved(ui::Window& window) override;

  private:
    Session& s_;
};

// The OK button's caption after n ticks: n blanks, "OK", n full stops.
std::u16string TickCaption(unsigned n);

}  // namespace kvx::keyport
