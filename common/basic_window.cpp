#include "common/basic_window.h"

#include <algorithm>

#include "crypto/wipe.h"

namespace kvx::ui {
namespace {

// Edit texts live in buffers of this many units from the start, so typing never moves a
// password to a new buffer and leaves the old one behind.
constexpr std::size_t kEditReserve = 256;

}  // namespace

void WipeText(std::u16string& text) {
    if (!text.empty()) {
        SecureWipe(text.data(), text.size() * sizeof(char16_t));
    }
    text.clear();
}

BasicWindow::BasicWindow(Dialog& dialog) : dialog_(dialog) {}

BasicWindow::~BasicWindow() {
    for (ControlState& c : controls_) {
        WipeText(c.text);
    }
}

void BasicWindow::Initialise() {
    for (const ControlSpec& spec : dialog_.Spec().controls) {
        ControlState c;
        c.id = spec.id;
        c.kind = spec.kind;
        if (c.IsEdit()) {
            c.text.reserve(kEditReserve);
        }
        if (spec.kind == ControlKind::kDefaultButton && defaultButton_ == 0) {
            defaultButton_ = spec.id;
        }
        controls_.push_back(std::move(c));
    }
    dialog_.OnInit(*this);
    if (focus_ == 0) {
        const auto first = std::find_if(controls_.begin(), controls_.end(),
                                        [](const ControlState& c) { return c.Focusable(); });
        if (first != controls_.end()) {
            focus_ = first->id;
        }
    }
    dirty_ = true;
}

ControlState* BasicWindow::Find(ControlId id) {
    const auto it = std::find_if(controls_.begin(), controls_.end(),
                                 [id](const ControlState& c) { return c.id == id; });
    return it == controls_.end() ? nullptr : &*it;
}

const ControlState* BasicWindow::Find(ControlId id) const {
    return const_cast<BasicWindow*>(this)->Find(id);
}

void BasicWindow::SetTitle(std::u16string_view title) {
    title_ = title;
    dirty_ = true;
}

void BasicWindow::SetIcon(int iconId) {
    icon_ = iconId;
}

void BasicWindow::SetText(ControlId id, std::u16string_view text) {
    ControlState* c = Find(id);
    if (c == nullptr) {
        return;
    }
    WipeText(c->text);
    c->text.append(text);
    dirty_ = true;
    // An edit control reports every change of its text, also one made by the program.
    if (c->IsEdit()) {
        dialog_.OnTextChanged(*this, id);
    }
}

std::size_t BasicWindow::GetText(ControlId id, std::span<char16_t> buffer) {
    if (buffer.empty()) {
        return 0;
    }
    const ControlState* c = Find(id);
    const std::size_t n = c == nullptr ? 0 : std::min(c->text.size(), buffer.size() - 1);
    if (n != 0) {
        std::copy_n(c->text.data(), n, buffer.data());
    }
    buffer[n] = u'\0';
    return n;
}

void BasicWindow::Enable(ControlId id, bool enabled) {
    if (ControlState* c = Find(id)) {
        c->enabled = enabled;
        dirty_ = true;
    }
}

void BasicWindow::Show(ControlId id, bool shown) {
    if (ControlState* c = Find(id)) {
        c->shown = shown;
        dirty_ = true;
    }
}

void BasicWindow::Focus(ControlId id) {
    if (Find(id) != nullptr) {
        focus_ = id;
        dirty_ = true;
    }
}

void BasicWindow::SetTextLimit(ControlId id, std::size_t units) {
    if (ControlState* c = Find(id)) {
        c->limit = units;
    }
}

void BasicWindow::SetDefaultButton(ControlId id) {
    defaultButton_ = id;
    dirty_ = true;
}

void BasicWindow::SetProgress(ControlId id, unsigned percent) {
    if (ControlState* c = Find(id)) {
        c->progress = std::min(percent, 100u);
        dirty_ = true;
    }
}

void BasicWindow::AddAboutEntry(std::u16string_view text) {
    about_ = std::u16string(text);
}

void BasicWindow::StartTimer(unsigned id, unsigned milliseconds) {
    const std::uint64_t due = Now() + milliseconds;
    for (TimerState& t : timers_) {
        if (t.id == id) {
            t.period = milliseconds;
            t.due = due;
            return;
        }
    }
    timers_.push_back(TimerState{id, milliseconds, due});
}

void BasicWindow::StopTimer(unsigned id) {
    std::erase_if(timers_, [id](const TimerState& t) { return t.id == id; });
}

void BasicWindow::Close(int result) {
    if (!closed_) {
        closed_ = true;
        result_ = result;
        timers_.clear();
    }
}

bool BasicWindow::UserSetText(ControlId id, std::u16string_view text) {
    ControlState* c = Find(id);
    if (c == nullptr || !c->shown || !c->enabled ||
        (c->kind != ControlKind::kEdit && c->kind != ControlKind::kPasswordEdit)) {
        return false;
    }
    if (c->limit != 0 && text.size() > c->limit) {
        text = text.substr(0, c->limit);
    }
    WipeText(c->text);
    c->text.append(text);
    dirty_ = true;
    dialog_.OnTextChanged(*this, id);
    return true;
}

bool BasicWindow::UserType(ControlId id, char16_t unit) {
    ControlState* c = Find(id);
    if (c == nullptr || !c->shown || !c->enabled ||
        (c->kind != ControlKind::kEdit && c->kind != ControlKind::kPasswordEdit) ||
        (c->limit != 0 && c->text.size() >= c->limit) || c->text.size() + 1 >= kEditReserve) {
        return false;
    }
    c->text.push_back(unit);
    dirty_ = true;
    dialog_.OnTextChanged(*this, id);
    return true;
}

bool BasicWindow::UserBackspace(ControlId id) {
    ControlState* c = Find(id);
    if (c == nullptr || !c->shown || !c->enabled || c->text.empty() ||
        (c->kind != ControlKind::kEdit && c->kind != ControlKind::kPasswordEdit)) {
        return false;
    }
    c->text.back() = u'\0';
    c->text.pop_back();
    dirty_ = true;
    dialog_.OnTextChanged(*this, id);
    return true;
}

bool BasicWindow::UserPress(ControlId id) {
    const ControlState* c = Find(id);
    if (c == nullptr || !c->IsButton() || !c->shown || !c->enabled || closed_) {
        return false;
    }
    dialog_.OnCommand(*this, id);
    return true;
}

void BasicWindow::MoveFocus(bool forward) {
    if (controls_.empty()) {
        return;
    }
    const auto n = static_cast<std::ptrdiff_t>(controls_.size());
    std::ptrdiff_t at = -1;
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        if (controls_[static_cast<std::size_t>(i)].id == focus_) {
            at = i;
        }
    }
    for (std::ptrdiff_t step = 1; step <= n; ++step) {
        std::ptrdiff_t i = forward ? at + step : at - step;
        i = ((i % n) + n) % n;
        if (controls_[static_cast<std::size_t>(i)].Focusable()) {
            focus_ = controls_[static_cast<std::size_t>(i)].id;
            dirty_ = true;
            return;
        }
    }
}

bool BasicWindow::PressEnter() {
    const ControlState* focused = Find(focus_);
    if (focused != nullptr && focused->IsButton() && focused->Focusable()) {
        return UserPress(focus_);
    }
    // Without a default button Enter sends the OK command, as a dialog does.
    const ControlId target = defaultButton_ != 0 ? defaultButton_ : kResultOk;
    const ControlState* c = Find(target);
    if (c != nullptr && (!c->shown || !c->enabled)) {
        return false;
    }
    dialog_.OnCommand(*this, target);
    return true;
}

std::optional<std::uint64_t> BasicWindow::NextDue() const {
    std::optional<std::uint64_t> next;
    for (const TimerState& t : timers_) {
        if (!next || t.due < *next) {
            next = t.due;
        }
    }
    return next;
}

void BasicWindow::FireDueTimers(std::uint64_t now) {
    std::vector<unsigned> due;
    for (const TimerState& t : timers_) {
        if (t.due <= now) {
            due.push_back(t.id);
        }
    }
    for (const unsigned id : due) {
        // A handler may have stopped or restarted this timer, or closed the window.
        const auto it = std::find_if(timers_.begin(), timers_.end(),
                                     [id](const TimerState& t) { return t.id == id; });
        if (closed_ || it == timers_.end() || it->due > now) {
            continue;
        }
        it->due = now + std::max(it->period, 1u);
        dialog_.OnTimer(*this, id);
    }
}

}  // namespace kvx::ui
