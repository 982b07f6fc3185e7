#include "apps/keyport/small_dialogs.h"

#include <type_traits>

#include "apps/keyport/keyport_strings.h"
#include "apps/keyport/resource_ids.h"
#include "host/text.h"

namespace kvx::keyport {

using ui::ControlKind;

// --- Success -------------------------------------------------------------------------------

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

void CPrcSucc::OnCommand(ui::Window& window, ui::ControlId id) {
    if (id == kSuccessOk) {
        window.Close(ui::kResultOk);
        return;
    }
    Dialog::OnCommand(window, id);
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

void CPrcSucc::OnDeviceRemoved(ui::Window& window) {
    if (s_.DeviceGone()) {
        window.Close(ui::kResultOk);
    }
}

// --- Hint ----------------------------------------------------------------------------------

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
    s_.request.changeOp = 2;
    if (const auto read = s_.lib().ChangePassWord(s_.request)) {
        if (*read != 0) {
            window.SetText(kHintText, ReadFixedUtf16(s_.request.hint,
                                                     std::extent_v<decltype(s_.request.hint)>));
        } else {
            window.ShowMessage(s_.Text(kStrHintReadFailed));
        }
    }
}

void HINTDLG::OnCommand(ui::Window& window, ui::ControlId id) {
    if (id == kHintOk) {
        window.Close(ui::kResultOk);
        return;
    }
    Dialog::OnCommand(window, id);
}

void HINTDLG::OnDeviceRemoved(ui::Window& window) {
    if (s_.DeviceGone()) {
        window.Close(ui::kResultOk);
    }
}

// --- About ---------------------------------------------------------------------------------

const ui::DialogSpec& CAboutDlg::Spec() const {
    static const ui::DialogSpec spec{kAboutTemplate,
                                     {{kAboutVersion, ControlKind::kStatic},
                                      {kAboutNotice, ControlKind::kStatic},
                                      {kAboutOk, ControlKind::kDefaultButton}}};
    return spec;
}

void CAboutDlg::OnInit(ui::Window& window) {
    const std::u16string caption = s_.String(kStrCaption);
    window.SetTitle(caption);
    window.SetIcon(kMainIcon);
    window.SetText(kAboutVersion, ui::FormatStrings(u"%sVersion %s", {caption, kKeyportVersion}));
    window.SetText(kAboutNotice, s_.String(kStrNotice));
    window.SetText(kAboutOk, s_.String(kStrAboutOk));
}

void CAboutDlg::OnCommand(ui::Window& window, ui::ControlId id) {
    if (id == kAboutOk) {
        window.Close(ui::kResultOk);
        return;
    }
    Dialog::OnCommand(window, id);
}

void CAboutDlg::OnDeviceRemoved(ui::Window& window) {
    if (s_.DeviceGone()) {
        window.Close(ui::kResultOk);
    }
}

}  // namespace kvx::keyport
