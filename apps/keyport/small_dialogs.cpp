#include "apps/keyport/small_dialogs.h"

#include "apps/keyport/keyport_strings.h"
#include "apps/keyport/resource_ids.h"

namespace kvx::keyport {

using ui::ControlKind;

// --- Success -------------------------------------------------------------------------------

CPrcSucc::CPrcSucc(Session& session) : OkDialog(session, kSuccessOk), s_(session) {}

const ui::DialogSpec& CPrcSucc::Spec() const {
    static const ui::DialogSpec spec{
        kSuccessTemplate,
        {{kSuccessText, ControlKind::kStatic}, {kSuccessOk, ControlKind::kButton}}};
    return spec;
}

std::u16string TickCaption(unsigned n) {
    return std::u16string(n, u' ') + u"OK" + std::u16string(n, u'.');
}

void CPrcSucc::OnInit(ui::Window& window) {
    window.SetTitle(s_.String(kStrCaption));
    window.SetIcon(kMainIcon);
    window.SetText(kSuccessText, s_.String(kStrLoginSuccessful));
    window.SetText(kSuccessOk, s_.String(kStrSuccessOk));
    window.StartTimer(kSuccessTimer, 1000);
}

void CPrcSucc::OnTimer(ui::Window& window, unsigned id) {
    if (id != kSuccessTimer) {
        return;
    }
    const unsigned n = ++s_.successTicks;
    window.SetText(kSuccessOk, TickCaption(n));
    if (n > 3) {
        window.StopTimer(kSuccessTimer);
        window.Close(ui::kResultOk);
    }
}

// --- Hint ----------------------------------------------------------------------------------

HINTDLG::HINTDLG(Session& session) : OkDialog(session, kHintOk), s_(session) {}

const ui::DialogSpec& HINTDLG::Spec() const {
    static const ui::DialogSpec spec{kHintTemplate,
                                     {{kHintLabel, ControlKind::kStatic},
                                      {kHintText, ControlKind::kReadOnlyEdit},
                                      {kHintIconControl, ControlKind::kIcon},
                                      {kHintOk, ControlKind::kDefaultButton}}};
    return spec;
}

void HINTDLG::OnInit(ui::Window& window) {
    window.SetText(kHintLabel, s_.String(kStrHintLabel));
    window.SetText(kHintOk, s_.String(kStrHintOk));
    window.SetTitle(s_.String(kStrCaption));
    window.SetIcon(kMainIcon);
    s_.ShowStoredHint(window, kHintText, kStrHintReadFailed);
}

// --- About ---------------------------------------------------------------------------------

namespace {

constexpr ui::AboutSpec kAbout{kAboutTemplate,  kMainIcon,      kAboutVersion, kAboutNotice,
                               kAboutOk,        kStrCaption,    kStrNotice,    kStrAboutOk,
                               u"%sVersion %s", kKeyportVersion};

}  // namespace

CAboutDlg::CAboutDlg(Session& session) : AboutBox(session, kAbout) {}

}  // namespace kvx::keyport
