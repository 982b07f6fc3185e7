#include "common/terminal_render.h"

#include <algorithm>

#include "host/text.h"

namespace kvx::ui {
namespace {

constexpr std::size_t kEditWidth = 24;  // edits without a limit of their own
constexpr std::size_t kWidestEdit = 40;
constexpr unsigned kProgressCells = 20;  // one cell for every 5 %
constexpr std::size_t kIndent = 2;       // "  " before a label line, "| " before a box line

const char* IconWord(Icon icon) {
    switch (icon) {
        case Icon::kError:
            return " (error)";
        case Icon::kInformation:
            return " (information)";
        case Icon::kWarning:
            return " (warning)";
        case Icon::kQuestion:
            return " (question)";
        case Icon::kNone:
            break;
    }
    return "";
}

bool IsTrailSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Characters on the screen: a surrogate pair is one.
std::size_t Width(std::u16string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char16_t u) { return !IsTrailSurrogate(u); }));
}

// The longest head of `word` that is at most `width` characters wide, never half a pair.
std::size_t HeadUnits(std::u16string_view word, std::size_t width) {
    std::size_t units = 0;
    std::size_t chars = 0;
    while (units < word.size()) {
        const std::size_t next =
            units + 1 < word.size() && IsTrailSurrogate(word[units + 1]) ? 2 : 1;
        if (chars + 1 > width) {
            break;
        }
        units += next;
        ++chars;
    }
    return units;
}

void WrapLine(std::u16string_view line, std::size_t width, std::vector<std::u16string>& out) {
    if (width == 0 || Width(line) <= width) {
        out.emplace_back(line);
        return;
    }
    std::u16string current;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t end = std::min(line.find(u' ', at), line.size());
        std::u16string_view word = line.substr(at, end - at);
        at = end + 1;
        if (word.empty()) {
            continue;
        }
        if (!current.empty() && Width(current) + 1 + Width(word) <= width) {
            current += u' ';
            current += word;
            continue;
        }
        if (!current.empty()) {
            out.push_back(current);
            current.clear();
        }
        while (Width(word) > width) {
            const std::size_t head = HeadUnits(word, width);
            out.emplace_back(word.substr(0, head));
            word.remove_prefix(head);
        }
        current = word;
    }
    out.push_back(current);
}

// The width left for a text behind the indent; 0 (no wrapping) stays 0.
std::size_t TextWidth(const RenderStyle& style) {
    return style.columns == 0 ? 0 : std::max<std::size_t>(style.columns - 1, kIndent + 1) - kIndent;
}

std::string Edit(const ControlState& c) {
    const std::size_t width =
        std::min(kWidestEdit, std::max(c.limit != 0 ? c.limit : kEditWidth, c.text.size()));
    std::string inside =
        c.kind == ControlKind::kPasswordEdit ? std::string(c.text.size(), '*') : ToUtf8(c.text);
    inside += std::string(width - std::min(width, c.text.size()), ' ');
    return c.enabled ? "[" + inside + "]" : "{" + inside + "}";
}

}  // namespace

std::vector<std::u16string> WrapText(std::u16string_view text, std::size_t width) {
    std::vector<std::u16string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == u'\r' || text[i] == u'\n') {
            WrapLine(text.substr(start, i - start), width, lines);
            if (i + 1 < text.size() && text[i] == u'\r' && text[i + 1] == u'\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    return lines;
}

std::string RenderLabel(std::u16string_view text, bool underline, bool ansi) {
    // The text goes out in runs, so that characters of two UTF-16 units stay whole.
    std::string out;
    std::u16string run;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size()) {
            ++i;
            if (text[i] != u'&' && underline && ansi) {
                const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
                                  IsTrailSurrogate(text[i + 1]);
                const std::size_t units = pair ? 2 : 1;
                out += ToUtf8(run) + "\x1b[4m" + ToUtf8(text.substr(i, units)) + "\x1b[24m";
                run.clear();
                i += units - 1;
                continue;
            }
        }
        run += text[i];
    }
    return out + ToUtf8(run);
}

std::string RenderWindow(const BasicWindow& w, std::u16string_view tip, const RenderStyle& style) {
    std::string out = "=== " + ToUtf8(w.title()) + " ===\n";
    std::string buttons;
    const auto& controls = w.controls();
    const auto marker = [&w](const ControlState& c) {
        return std::string(c.id == w.focus() ? "> " : "  ");
    };
    const auto label = [&style](std::u16string_view text) {
        return RenderLabel(text, true, style.ansi);
    };
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const ControlState& c = controls[i];
        if (!c.shown) {
            continue;
        }
        switch (c.kind) {
            case ControlKind::kStatic: {
                const ControlState* next = i + 1 < controls.size() ? &controls[i + 1] : nullptr;
                if (next != nullptr && next->IsEdit() && next->shown) {
                    out += marker(*next) + label(c.text) + " " + Edit(*next) + "\n";
                    ++i;
                    break;
                }
                for (const auto& line : WrapText(c.text, TextWidth(style))) {
                    out += "  " + label(line) + "\n";
                }
                break;
            }
            case ControlKind::kEdit:
            case ControlKind::kPasswordEdit:
            case ControlKind::kReadOnlyEdit:
                out += marker(c) + Edit(c) + "\n";
                break;
            case ControlKind::kButton:
            case ControlKind::kDefaultButton: {
                const std::string text = label(c.text);
                const bool isDefault = c.id == w.defaultButton();
                std::string shown = !c.enabled  ? "{ " + text + " }"
                                    : isDefault ? "[[" + text + "]]"
                                                : "[ " + text + " ]";
                buttons += (c.id == w.focus() ? ">" : " ") + shown + " ";
                break;
            }
            case ControlKind::kProgress: {
                const unsigned filled = std::min(c.progress, 100u) / (100 / kProgressCells);
                out += "  [" + std::string(filled, '#') +
                       std::string(kProgressCells - filled, '.') + "] " +
                       std::to_string(c.progress) + " %\n";
                break;
            }
            case ControlKind::kIcon:
                break;
        }
    }
    if (!buttons.empty()) {
        out += buttons + "\n";
    }
    if (!tip.empty()) {
        out += "  Tip: " + ToUtf8(tip) + "\n";
    }
    return out;
}

std::string RenderBox(const Message& m, bool yesFocused, const RenderStyle& style) {
    std::string out = "\n+--- " + ToUtf8(m.caption) + IconWord(m.icon) + " ---\n";
    for (const auto& line : WrapText(m.text, TextWidth(style))) {
        out += "| " + ToUtf8(line) + "\n";
    }
    if (m.buttons == Buttons::kYesNo) {
        out += yesFocused ? "+ >[[Yes]]  [ No ]\n" : "+  [ Yes ] >[[No]]\n";
    } else {
        out += "+ >[[OK]]\n";
    }
    return out;
}

}  // namespace kvx::ui
