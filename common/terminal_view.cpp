#include "common/terminal_view.h"

#include <algorithm>

#include "host/text.h"

namespace kvx::ui {
namespace {

constexpr int kSequenceMs = 30;         // bytes of one key sequence arrive within this
constexpr std::size_t kEditWidth = 24;  // edits without a limit of their own
constexpr std::size_t kWidestEdit = 40;

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

// Message texts break lines with "\r", "\n" or both.
std::vector<std::u16string> Lines(std::u16string_view text) {
    std::vector<std::u16string> lines(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' || text[i] == u'\n') {
            if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
                ++i;
            }
            lines.emplace_back();
        } else {
            lines.back() += text[i];
        }
    }
    return lines;
}

// The letter a label marks with '&', upper-cased; 0 when none.
char32_t Mnemonic(std::u16string_view text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == u'&') {
            if (text[i + 1] == u'&') {
                ++i;
                continue;
            }
            const char16_t c = text[i + 1];
            return c >= u'a' && c <= u'z' ? c - 32 : c;
        }
    }
    return 0;
}

}  // namespace

// --- Windows -------------------------------------------------------------------------------

TerminalWindow::TerminalWindow(TerminalView& view, Dialog& dialog, bool hidden)
    : BasicWindow(dialog), view_(view), hidden_(hidden) {}

View& TerminalWindow::view() {
    return view_;
}

int TerminalWindow::ShowMessage(const Message& message) {
    return view_.ShowMessage(message);
}

int TerminalWindow::RunModal(Dialog& dialog) {
    return view_.Run(dialog, false);
}

bool TerminalWindow::CreateTooltips() {
    tooltips_ = true;
    return true;
}

std::uint64_t TerminalWindow::Now() {
    return view_.Now();
}

// --- View ----------------------------------------------------------------------------------

TerminalView::TerminalView(Console& console, Host& host, const StringSource& strings)
    : console_(console), host_(host), tips_(strings, host) {}

int TerminalView::RunModal(Dialog& dialog) {
    return Run(dialog, false);
}

int TerminalView::RunFrame(Dialog& frame) {
    return Run(frame, true);
}

int TerminalView::Run(Dialog& dialog, bool hidden) {
    if (windows_.empty() && boxes_.empty()) {
        drives_ = host_.LogicalDriveMask();
        nextPoll_ = Now() + kDevicePollMs;
    }
    TerminalWindow window(*this, dialog, hidden);
    windows_.push_back(&window);
    dirty_ = true;
    window.Initialise();
    bool toldToClose = false;
    Loop([&] {
        if (ended_ && !toldToClose && !window.closed() && TopWindow() == &window &&
            boxes_.empty()) {
            // Nobody is left to type: the dialog is asked to close as by its close box.
            toldToClose = true;
            window.dialog().OnCloseRequest(window);
        }
        return window.closed();
    });
    if (windows_.size() == 1) {
        Render();  // the last state of the program's last dialog stays on the screen
    }
    windows_.erase(std::find(windows_.begin(), windows_.end(), &window));
    dirty_ = true;
    if (windows_.empty()) {
        console_.Write("\n");
    }
    return window.result();
}

int TerminalView::ShowMessage(const Message& message) {
    Box box;
    box.message = &message;
    boxes_.push_back(&box);
    dirty_ = true;
    Loop([&] {
        if (ended_ && !box.answer && boxes_.back() == &box) {
            box.answer = message.buttons == Buttons::kYesNo ? kResultNo : kResultOk;
        }
        return box.answer.has_value();
    });
    boxes_.pop_back();
    dirty_ = true;
    return *box.answer;
}

void TerminalView::ShellOpen(std::u16string_view file) {
    console_.Write("shell: open " + ToUtf8(file) + "\n");
}

TerminalWindow* TerminalView::TopWindow() {
    return windows_.empty() ? nullptr : windows_.back();
}

template <class Done>
void TerminalView::Loop(Done done) {
    while (!done()) {
        Render();
        std::uint64_t now = Now();
        if (now >= nextPoll_) {
            PollDevices();
            nextPoll_ = now + kDevicePollMs;
            if (done()) {
                break;
            }
        }
        std::uint64_t next = nextPoll_;
        for (const TerminalWindow* w : windows_) {
            if (const auto due = w->NextDue(); due && *due < next) {
                next = *due;
            }
        }
        const int timeout = next > now ? static_cast<int>(next - now) : 0;
        if (ended_) {
            console_.Sleep(timeout);
        } else {
            const Input input = ReadKey(timeout);
            if (input.key == Key::kEnd) {
                ended_ = true;
            } else if (input.key != Key::kNone) {
                // Keys go to what was opened last: the message box, else the top window.
                if (!boxes_.empty()) {
                    HandleBoxKey(*boxes_.back(), input);
                } else if (TerminalWindow* top = TopWindow()) {
                    HandleWindowKey(*top, input);
                }
            }
        }
        FireTimers();
    }
}

TerminalView::Input TerminalView::ReadKey(int timeoutMs) {
    const auto first = console_.ReadByte(timeoutMs);
    if (!first) {
        return {};
    }
    const int b = *first;
    if (b == kEndOfInput) {
        return {Key::kEnd};
    }
    switch (b) {
        case 0x1B: {
            const auto next = console_.ReadByte(kSequenceMs);
            if (!next || *next == kEndOfInput) {
                return {Key::kEscape};
            }
            if (*next == '[' || *next == 'O') {
                // A control sequence: Shift-Tab and the arrow keys move the focus.
                for (int i = 0; i < 8; ++i) {
                    const auto c = console_.ReadByte(kSequenceMs);
                    if (!c || *c == kEndOfInput) {
                        break;
                    }
                    if (*c >= 0x40 && *c <= 0x7E) {
                        if (*c == 'Z' || *c == 'A' || *c == 'D') {
                            return {Key::kBackTab};
                        }
                        if (*c == 'B' || *c == 'C') {
                            return {Key::kTab};
                        }
                        break;
                    }
                }
                return {};
            }
            return {Key::kAlt, std::u16string(1, static_cast<char16_t>(*next))};
        }
        case 0x09:
            return {Key::kTab};
        case 0x0D:
        case 0x0A:
            return {Key::kEnter};
        case 0x7F:
        case 0x08:
            return {Key::kBackspace};
        case 0x20:
            return {Key::kSpace, u" "};
        case 0x01:
            return {Key::kAbout};
        case 0x03:
            return {Key::kInterrupt};
        default:
            break;
    }
    if (b < 0x20) {
        return {};
    }
    if (b < 0x80) {
        return {Key::kChar, std::u16string(1, static_cast<char16_t>(b))};
    }
    // A UTF-8 sequence: its lead byte says how many bytes follow; a malformed one is dropped.
    const int extra = (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0) {
        return {};
    }
    std::string sequence(1, static_cast<char>(b));
    for (int i = 0; i < extra; ++i) {
        const auto more = console_.ReadByte(kSequenceMs);
        if (!more || *more == kEndOfInput || (*more & 0xC0) != 0x80) {
            return {};
        }
        sequence += static_cast<char>(*more);
    }
    if (!IsValidUtf8(sequence)) {
        return {};
    }
    return {Key::kChar, FromUtf8(sequence)};
}

void TerminalView::HandleWindowKey(TerminalWindow& w, const Input& input) {
    const ControlState* focused = w.Find(w.focus());
    switch (input.key) {
        case Key::kChar:
        case Key::kSpace:
            if (focused != nullptr && focused->IsButton() && input.key == Key::kSpace) {
                w.UserPress(focused->id);
            } else if (focused != nullptr && focused->IsEdit()) {
                for (const char16_t u : input.text) {
                    w.UserType(focused->id, u);
                }
            }
            break;
        case Key::kBackspace:
            if (focused != nullptr && focused->IsEdit()) {
                w.UserBackspace(focused->id);
            }
            break;
        case Key::kTab:
        case Key::kBackTab:
            w.MoveFocus(input.key == Key::kTab);
            break;
        case Key::kEnter:
            if (!w.hidden()) {
                w.PressEnter();
            }
            break;
        case Key::kEscape:
            if (w.hidden()) {
                w.dialog().OnCloseRequest(w);
            } else {
                w.dialog().OnCommand(w, kIdCancel);
            }
            break;
        case Key::kAlt: {
            char32_t letter = input.text.empty() ? 0 : input.text.front();
            if (letter >= U'a' && letter <= U'z') {
                letter -= 32;
            }
            const auto& controls = w.controls();
            for (std::size_t i = 0; i < controls.size(); ++i) {
                const ControlState& c = controls[i];
                if (!c.shown || Mnemonic(c.text) != letter) {
                    continue;
                }
                if (c.IsButton()) {
                    if (c.enabled) {
                        w.Focus(c.id);
                        w.UserPress(c.id);
                    }
                } else if (c.kind == ControlKind::kStatic) {
                    // A label's letter moves to the field it names: the next one in tab order.
                    for (std::size_t j = i + 1; j < controls.size(); ++j) {
                        if (controls[j].Focusable()) {
                            w.Focus(controls[j].id);
                            break;
                        }
                    }
                }
                break;
            }
            break;
        }
        case Key::kAbout:
            if (w.aboutEntry()) {
                w.dialog().OnAbout(w);
            }
            break;
        case Key::kInterrupt:
            w.dialog().OnCloseRequest(w);
            break;
        case Key::kNone:
        case Key::kEnd:
            break;
    }
}

void TerminalView::HandleBoxKey(Box& box, const Input& input) {
    const bool yesNo = box.message->buttons == Buttons::kYesNo;
    const int dismissed = yesNo ? kResultNo : kResultOk;
    switch (input.key) {
        case Key::kEnter:
        case Key::kSpace:
            box.answer = yesNo ? (box.yesFocused ? kResultYes : kResultNo) : kResultOk;
            break;
        case Key::kEscape:
        case Key::kInterrupt:
            box.answer = dismissed;
            break;
        case Key::kTab:
        case Key::kBackTab:
            box.yesFocused = yesNo && !box.yesFocused;
            dirty_ = true;
            break;
        case Key::kChar:
        case Key::kAlt: {
            const char32_t typed = input.text.empty() ? 0 : input.text.front();
            const char32_t c = typed >= U'a' && typed <= U'z' ? typed - 32 : typed;
            if (yesNo && c == U'Y') {
                box.answer = kResultYes;
            } else if (yesNo && c == U'N') {
                box.answer = kResultNo;
            } else if (!yesNo && c == U'O') {
                box.answer = kResultOk;
            }
            break;
        }
        default:
            break;
    }
}

void TerminalView::FireTimers() {
    const std::uint64_t now = Now();
    const std::vector<TerminalWindow*> snapshot = windows_;
    for (TerminalWindow* w : snapshot) {
        if (std::find(windows_.begin(), windows_.end(), w) != windows_.end() && !w->closed()) {
            w->FireDueTimers(now);
        }
    }
}

void TerminalView::PollDevices() {
    const std::uint32_t drives = host_.LogicalDriveMask();
    const std::uint32_t removed = drives_ & ~drives;
    drives_ = drives;
    if (removed == 0) {
        return;
    }
    const std::vector<TerminalWindow*> snapshot = windows_;
    for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
        if (std::find(windows_.begin(), windows_.end(), *it) != windows_.end() &&
            !(*it)->closed()) {
            (*it)->dialog().OnDeviceRemoved(**it);
        }
    }
}

// --- Drawing -------------------------------------------------------------------------------

std::string TerminalView::Label(std::u16string_view text, bool underline) const {
    // The text goes out in runs, so that characters of two UTF-16 units stay whole.
    std::string out;
    std::u16string run;
    const bool ansi = console_.IsTerminal();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size()) {
            ++i;
            if (text[i] != u'&' && underline && ansi) {
                const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
                                  text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
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

std::string TerminalView::RenderWindow(const TerminalWindow& w) {
    std::string out = "=== " + ToUtf8(w.title()) + " ===\n";
    std::string buttons;
    const auto& controls = w.controls();
    const auto marker = [&w](const ControlState& c) {
        return std::string(c.id == w.focus() ? "> " : "  ");
    };
    const auto edit = [](const ControlState& c) {
        const std::size_t width =
            std::min(kWidestEdit, std::max(c.limit != 0 ? c.limit : kEditWidth, c.text.size()));
        std::string inside =
            c.kind == ControlKind::kPasswordEdit ? std::string(c.text.size(), '*') : ToUtf8(c.text);
        inside += std::string(width - std::min(width, c.text.size()), ' ');
        return c.enabled ? "[" + inside + "]" : "{" + inside + "}";
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
                    out += marker(*next) + Label(c.text, true) + " " + edit(*next) + "\n";
                    ++i;
                    break;
                }
                for (const auto& line : Lines(c.text)) {
                    out += "  " + Label(line, true) + "\n";
                }
                break;
            }
            case ControlKind::kEdit:
            case ControlKind::kPasswordEdit:
            case ControlKind::kReadOnlyEdit:
                out += marker(c) + edit(c) + "\n";
                break;
            case ControlKind::kButton:
            case ControlKind::kDefaultButton: {
                const std::string label = Label(c.text, true);
                const bool isDefault = c.id == w.defaultButton();
                std::string shown = !c.enabled  ? "{ " + label + " }"
                                    : isDefault ? "[[" + label + "]]"
                                                : "[ " + label + " ]";
                buttons += (c.id == w.focus() ? ">" : " ") + shown + " ";
                break;
            }
            case ControlKind::kProgress: {
                const unsigned filled = c.progress / 5;
                out += "  [" + std::string(filled, '#') + std::string(20 - filled, '.') + "] " +
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
    if (w.tooltips()) {
        const std::u16string tip = tips_.Wide(w.focus());
        if (!tip.empty()) {
            out += "  Tip: " + ToUtf8(tip) + "\n";
        }
    }
    return out;
}

std::string TerminalView::RenderBox(const Box& box) {
    const Message& m = *box.message;
    std::string out = "\n+--- " + ToUtf8(m.caption) + IconWord(m.icon) + " ---\n";
    for (const auto& line : Lines(m.text)) {
        out += "| " + ToUtf8(line) + "\n";
    }
    if (m.buttons == Buttons::kYesNo) {
        out += box.yesFocused ? "+ >[[Yes]]  [ No ]\n" : "+  [ Yes ] >[[No]]\n";
    } else {
        out += "+ >[[OK]]\n";
    }
    return out;
}

void TerminalView::Render() {
    bool changed = dirty_;
    for (TerminalWindow* w : windows_) {
        changed = changed || w->dirty();
    }
    if (!changed) {
        return;
    }
    dirty_ = false;
    for (TerminalWindow* w : windows_) {
        w->ClearDirty();
    }
    const TerminalWindow* top = nullptr;
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) {
        if (!(*it)->hidden()) {
            top = *it;
            break;
        }
    }
    if (top == nullptr && boxes_.empty()) {
        return;
    }
    std::string screen = console_.IsTerminal() ? "\x1b[H\x1b[2J" : "\n";
    if (top != nullptr) {
        screen += RenderWindow(*top);
    }
    if (!boxes_.empty()) {
        screen += RenderBox(*boxes_.back());
    }
    screen +=
        "\n-- Tab: next   Enter: [[default]]   Esc: cancel   Alt+letter: that button   "
        "{ }: not available\n";
    console_.Write(screen);
}

}  // namespace kvx::ui
