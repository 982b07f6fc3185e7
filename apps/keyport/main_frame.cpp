#include "apps/keyport/main_frame.h"

#include "apps/keyport/keyport_strings.h"
#include "apps/keyport/library_error.h"
#include "apps/keyport/login_dialog.h"
#include "apps/keyport/resource_ids.h"

namespace kvx::keyport {

const ui::DialogSpec& CMainFrame::Spec() const {
    static const ui::DialogSpec spec{kMainFrameTemplate, {}};
    return spec;
}

// Marks the frame's message box as open for its lifetime: views keep firing timers under a box.
class CMainFrame::BoxOpen {
  public:
    explicit BoxOpen(bool& flag) : flag_(flag) { flag_ = true; }
    ~BoxOpen() { flag_ = false; }
    BoxOpen(const BoxOpen&) = delete;
    BoxOpen& operator=(const BoxOpen&) = delete;

  private:
    bool& flag_;
};

void CMainFrame::OnInit(ui::Window& window) {
    window.SetTitle(kWindowName);
    QdaRequest& r = s_.request;
    if (const auto status = s_.lib().GetPasswordStatus(r); status && *status == 0) {
        {
            const BoxOpen box(boxOpen_);
            if (!ShowLibraryError(s_, window, r.errorCode, r.mediaType)) {
                window.ShowMessage(s_.Text(kStrNoPasswordStatus, ui::Icon::kError));
            }
        }
        window.StartTimer(kCloseTimer, 500);
        return;
    }
    if (r.passwordSupported == 0 || r.deviceDisabled != 0) {
        // No login needed: show the device's CD drive and end.
        if (r.cdLetters[0] != 0) {
            s_.view.ShellOpen(std::u16string(1, static_cast<char16_t>(r.cdLetters[0])) + u":");
        }
        window.StartTimer(kCloseTimer, 500);
        return;
    }
    window.StartTimer(kWaitForDriveTimer, 500);
}

void CMainFrame::OnTimer(ui::Window& window, unsigned id) {
    if (boxOpen_) {
        return;  // a tick under the frame's message box would stack another one
    }
    if (id == kCloseTimer) {
        window.StopTimer(kCloseTimer);
        OnCloseRequest(window);
    } else if (id == kWaitForDriveTimer) {
        WaitForDrive(window);
    }
}

void CMainFrame::WaitForDrive(ui::Window& window) {
    if (const auto found = s_.lib().CheckCD(s_.request); found && *found == 0) {
        window.StopTimer(kWaitForDriveTimer);
        {
            const BoxOpen box(boxOpen_);
            window.ShowMessage(s_.Text(kStrDeviceNotFound, ui::Icon::kError));
        }
        OnCloseRequest(window);
        return;
    }
    if (!s_.StoreProgramDrive()) {
        return;  // not (yet) among the CD drives: the next tick looks again
    }
    // One login dialog only: the timer stops before it opens.
    window.StopTimer(kWaitForDriveTimer);
    CKEYPORTDlg login(s_);
    window.RunModal(login);
    OnCloseRequest(window);
}

void CMainFrame::OnCloseRequest(ui::Window& window) {
    window.Close(0);
}

}  // namespace kvx::keyport
