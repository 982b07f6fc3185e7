#include "common/terminal_view.h"

#include <algorithm>

#include "common/terminal_render.h"
#include "host/text.h"

namespace kvx::ui {
namespace {

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

void TerminalView::ShowPartitionNode(std::u16string_view node) {
    const std::string text = ToUtf8(node);
    console_.Write("secure partition: " + text + " (mount it with: sudo mount " + text +
                   " <folder>)\n");
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
            const KeyInput input = ReadKey(timeout);
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

KeyInput TerminalView::ReadKey(int timeoutMs) {
    return DecodeKey([this](int ms) { return console_.ReadByte(ms); }, timeoutMs);
}

void TerminalView::HandleWindowKey(TerminalWindow& w, const KeyInput& input) {
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

void TerminalView::HandleBoxKey(Box& box, const KeyInput& input) {
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
    const RenderStyle style{console_.IsTerminal(), console_.IsTerminal() ? console_.Columns() : 0};
    std::string screen = style.ansi ? "\x1b[H\x1b[2J" : "\n";
    if (top != nullptr) {
        const std::u16string tip = top->tooltips() ? tips_.Wide(top->focus()) : std::u16string();
        screen += RenderWindow(*top, tip, style);
    }
    if (!boxes_.empty()) {
        screen += RenderBox(*boxes_.back()->message, boxes_.back()->yesFocused, style);
    }
    screen +=
        "\n-- Tab: next   Enter: [[default]]   Esc: cancel   Alt+letter: that button   "
        "{ }: not available\n";
    console_.Write(screen);
}

}  // namespace kvx::ui
