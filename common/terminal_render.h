// The terminal's renderer: a dialog and a message box drawn as text. Pure: it reads the window's
// controls and returns the text, so tests can look at a screen without a console.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/basic_window.h"
#include "common/view.h"

namespace kvx::ui {

struct RenderStyle {
    bool ansi = false;        // the console understands ANSI control sequences
    std::size_t columns = 0;  // texts wrap at word boundaries to this width; 0 = no wrapping
};

// A text's lines: broken at "\r", "\n" or both, then each wrapped at spaces so that no line is
// wider than `width` characters (a word wider than that is cut). Width 0 wraps nothing.
std::vector<std::u16string> WrapText(std::u16string_view text, std::size_t width);

// A label's text with its '&' markers taken out; the marked letter underlined when `underline`
// and the console understands ANSI.
std::string RenderLabel(std::u16string_view text, bool underline, bool ansi);

// The window's title, controls and buttons; `tip` is the focused control's tooltip, if shown.
std::string RenderWindow(const BasicWindow& window, std::u16string_view tip,
                         const RenderStyle& style);

// A message box with its caption, icon word, text and buttons.
std::string RenderBox(const Message& message, bool yesFocused, const RenderStyle& style);

}  // namespace kvx::ui
