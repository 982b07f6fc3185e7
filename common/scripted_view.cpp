#include "common/scripted_view.h"

#include <algorithm>

#include "host/text.h"

namespace kvx::ui {

ScriptedWindow::ScriptedWindow(ScriptedView& view, Dialog& dialog)
    : BasicWindow(dialog), view_(view) {}

View& ScriptedWindow::view() {
    return view_;
}

int ScriptedWindow::ShowMessage(const Message& message) {
    return view_.ShowOwnedMessage(message, templateId());
}

int ScriptedWindow::RunModal(Dialog& dialog) {
    return view_.RunModal(dialog);
}

bool ScriptedWindow::CreateTooltips() {
    tooltips_ = view_.tooltipsAvailable;
    return tooltips_;
}

void ScriptedWindow::SetText(ControlId id, std::u16string_view text) {
    if (const ControlState* c = Find(id); c != nullptr && !c->IsEdit()) {
        history_[id].emplace_back(text);
    }
    BasicWindow::SetText(id, text);
}

void ScriptedWindow::Type(ControlId id, std::u16string_view text) {
    view_.Note("type " + std::to_string(templateId()) + ":" + std::to_string(id) +
               (!closed() && UserSetText(id, text) ? "" : " refused"));
}

void ScriptedWindow::Press(ControlId id) {
    const ControlState* c = Find(id);
    const bool usable = !closed() && c != nullptr && c->IsButton() && c->shown && c->enabled;
    view_.Note("press " + std::to_string(templateId()) + ":" + std::to_string(id) +
               (usable ? "" : " refused"));
    if (usable) {
        UserPress(id);
    }
}

void ScriptedWindow::Enter() {
    view_.Note("enter " + std::to_string(templateId()));
    if (!closed()) {
        PressEnter();
    }
}

void ScriptedWindow::Escape() {
    view_.Note("escape " + std::to_string(templateId()));
    if (!closed()) {
        dialog().OnCommand(*this, kIdCancel);
    }
}

void ScriptedWindow::CloseBox() {
    view_.Note("close-box " + std::to_string(templateId()));
    if (!closed()) {
        dialog().OnCloseRequest(*this);
    }
}

void ScriptedWindow::About() {
    view_.Note("about " + std::to_string(templateId()) + (aboutEntry() ? "" : " refused"));
    if (!closed() && aboutEntry()) {
        dialog().OnAbout(*this);
    }
}

const std::vector<std::u16string>& ScriptedWindow::History(ControlId id) const {
    static const std::vector<std::u16string> kNone;
    const auto it = history_.find(id);
    return it == history_.end() ? kNone : it->second;
}

std::u16string ScriptedWindow::Text(ControlId id) const {
    const ControlState* c = Find(id);
    return c == nullptr ? std::u16string() : c->text;
}

bool ScriptedWindow::Enabled(ControlId id) const {
    const ControlState* c = Find(id);
    return c != nullptr && c->enabled;
}

bool ScriptedWindow::Shown(ControlId id) const {
    const ControlState* c = Find(id);
    return c != nullptr && c->shown;
}

std::size_t ScriptedWindow::Limit(ControlId id) const {
    const ControlState* c = Find(id);
    return c == nullptr ? 0 : c->limit;
}

std::uint64_t ScriptedWindow::Now() {
    return view_.now();
}

void ScriptedView::OnOpen(int templateId, Script script) {
    scripts_[templateId].push_back(std::move(script));
}

void ScriptedView::Answer(int result) {
    answers_.push_back(result);
}

int ScriptedView::RunModal(Dialog& dialog) {
    return Run(dialog, "dialog");
}

int ScriptedView::RunFrame(Dialog& frame) {
    return Run(frame, "frame");
}

int ScriptedView::Run(Dialog& dialog, const char* kind) {
    ScriptedWindow window(*this, dialog);
    const int id = dialog.Spec().templateId;
    Note(std::string("open ") + kind + " " + std::to_string(id));
    open_.push_back(&window);
    window.Initialise();
    if (!window.closed()) {
        auto queued = scripts_.find(id);
        if (queued != scripts_.end() && !queued->second.empty()) {
            Script script = std::move(queued->second.front());
            queued->second.pop_front();
            script(window);
        } else {
            RunTimers(window);
        }
    }
    if (!window.closed()) {
        Note("unfinished " + std::to_string(id));
        window.Close(kResultCancel);
    }
    open_.erase(std::find(open_.begin(), open_.end(), &window));
    Note("close " + std::to_string(id) + " " + std::to_string(window.result()));
    return window.result();
}

bool ScriptedView::IsOpen(const ScriptedWindow* window) const {
    return std::find(open_.begin(), open_.end(), window) != open_.end();
}

bool ScriptedView::FireNextTimers(std::uint64_t end) {
    std::optional<std::uint64_t> next;
    for (const ScriptedWindow* w : open_) {
        const auto due = w->NextDue();
        if (due && (!next || *due < *next)) {
            next = due;
        }
    }
    if (!next || *next > end) {
        return false;
    }
    now_ = std::max(now_, *next);
    const std::vector<ScriptedWindow*> snapshot = open_;
    for (ScriptedWindow* w : snapshot) {
        if (IsOpen(w) && !w->closed()) {
            w->FireDueTimers(now_);
        }
    }
    return true;
}

bool ScriptedView::RunTimers(ScriptedWindow& window, std::uint64_t limit) {
    const std::uint64_t end = now_ + limit;
    while (!window.closed()) {
        if (!FireNextTimers(end)) {
            return false;
        }
    }
    return true;
}

void ScriptedView::DeviceRemoved() {
    Note("device-removed");
    const std::vector<ScriptedWindow*> snapshot = open_;
    for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
        if (IsOpen(*it) && !(*it)->closed()) {
            (*it)->dialog().OnDeviceRemoved(**it);
        }
    }
}

std::vector<StringId> ScriptedView::MessageIds() const {
    std::vector<StringId> ids;
    for (const ShownMessage& m : messages_) {
        ids.push_back(m.message.id);
    }
    return ids;
}

int ScriptedView::ShowMessage(const Message& message) {
    return ShowOwnedMessage(message, -1);
}

int ScriptedView::ShowOwnedMessage(const Message& message, int ownerTemplate) {
    ShownMessage shown{message, ownerTemplate, 0, now_};
    if (!answers_.empty()) {
        shown.answer = answers_.front();
        answers_.pop_front();
    } else {
        shown.answer = message.buttons == Buttons::kYesNo ? kResultNo : kResultOk;
    }
    Note("message " + std::to_string(message.id));
    if (onMessage) {
        onMessage(shown);
    }
    messages_.push_back(shown);
    return shown.answer;
}

void ScriptedView::ShellOpen(std::u16string_view file) {
    Note("shell open " + ToUtf8(file));
    shell_.emplace_back(file);
}

}  // namespace kvx::ui
