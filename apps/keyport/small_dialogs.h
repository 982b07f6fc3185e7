// The small modal dialogs of Keyport: the success message that closes itself, the hint, and the
// About box. Each closes with OK when the device is removed.
#pragma once

#include <string>

#include "apps/keyport/session.h"
#include "common/program_dialogs.h"

namespace kvx::keyport {

// "Login successful": closes itself after four one-second ticks, counting on its OK button.
class CPrcSucc final : public ui::OkDialog {
  public:
    explicit CPrcSucc(Session& session);
    const ui::DialogSpec& Spec() const override;
    void OnInit(ui::Window& window) override;
    void OnTimer(ui::Window& window, unsigned id) override;

  private:
    Session& s_;
};

// Shows the password hint the device keeps.
class HINTDLG final : public ui::OkDialog {
  public:
    explicit HINTDLG(Session& session);
    const ui::DialogSpec& Spec() const override;
    void OnInit(ui::Window& window) override;

  private:
    Session& s_;
};

class CAboutDlg final : public ui::AboutBox {
  public:
    explicit CAboutDlg(Session& session);
};

// The OK button's caption after n ticks: n blanks, "OK", n full stops.
std::u16string TickCaption(unsigned n);

}  // namespace kvx::keyport
