// Tooltips by control id: a tool's text is the string resource whose id equals the control's
// id. The Win32 view answers the tooltip control's text requests (wide and narrow) from here; the
// terminal view shows the focused control's text the same way.
#pragma once

#include <string>

#include "common/strings.h"
#include "host/host.h"

namespace kvx::ui {

// Widest a tip may be, in pixels.
inline constexpr int kTooltipMaxWidth = 400;

class TooltipTexts {
  public:
    TooltipTexts(const StringSource& strings, Host& host) : strings_(strings), host_(host) {}

    // The text for a control, valid until the next call (each call replaces the buffer the
    // previous one handed out). Empty when the string table has none.
    const char16_t* Wide(ControlId id);
    // The same text in the ANSI code page, for a narrow request.
    const char* Narrow(ControlId id);

  private:
    const StringSource& strings_;
    Host& host_;
    std::u16string wide_;
    std::string narrow_;
};

}  // namespace kvx::ui
