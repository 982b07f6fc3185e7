#include "apps/keywiper/main_dialog.h"

#include "apps/keywiper/keywiper_strings.h"
#include "apps/keywiper/reset_dialog.h"
#include "apps/keywiper/resource_ids.h"

namespace kvx::keywiper {
namespace {

using ui::ControlKind;

}  // namespace

// --- Main dialog ---------------------------------------------------------------------------

const ui::DialogSpec& CKEYWIPERDlg::Spec() const {
    static const ui::DialogSpec spec{kMainTemplate,
                                     {{kStopText, ControlKind::kStatic},
                                      {kHintLabel, ControlKind::kStatic},
                                      {kHintText, ControlKind::kReadOnlyEdit},
                                      {kResetOpen, ControlKind::kButton},
                                      {kMainCancel, ControlKind::kDefaultButton}}};
    return spec;
}

void CKEYWIPERDlg::OnInit(ui::Window& window) {
    if (const std::u16string about = s_.String(kStrAboutEntry); !about.empty()) {
        window.AddAboutEntry(about);
    }
    window.SetTitle(s_.String(kStrCaption));
    window.SetIcon(kMainIcon);
    window.SetText(kStopText, s_.String(kStrStop));
    window.SetText(kHintLabel, s_.String(kStrHintLabel));
    window.SetText(kResetOpen, s_.String(kStrResetButton));
    window.SetText(kMainCancel, s_.String(kStrCancelButton));
    s_.CreateTooltips(window, kStrNoTooltip);
    // The hint is what may spare the user the reset: it is shown with or without tooltips.
    s_.ShowStoredHint(window, kHintText, kStrHintReadFailed);
}

void CKEYWIPERDlg::OnCommand(ui::Window& window, ui::ControlId id) {
    if (s_.busy) {
        return;
    }
    if (id == kResetOpen) {
        CResetPasDlg reset(s_);
        if (window.RunModal(reset) == ui::kResultOk) {
            window.Close(ui::kResultOk);
        }
    } else if (id == kMainCancel) {
        window.Close(ui::kResultCancel);
    }
}

void CKEYWIPERDlg::OnCloseRequest(ui::Window& window) {
    OnCommand(window, kMainCancel);
}

void CKEYWIPERDlg::OnAbout(ui::Window& window) {
    CAboutDlg about(s_);
    window.RunModal(about);
}

// --- About ---------------------------------------------------------------------------------

constexpr ui::AboutSpec kAbout{kAboutTemplate,   kMainIcon,       kAboutVersion, kAboutNotice,
                               kAboutOk,         kStrCaption,     kStrNotice,    kStrAboutOk,
                               u"%s Version %s", kKeywiperVersion};

CAboutDlg::CAboutDlg(Session& session) : AboutBox(session, kAbout) {}

}  // namespace kvx::keywiper
