// A view that runs presenters from a script, for tests and unattended runs.
//
// Each dialog that opens takes the next script queued for its template id and runs it after its
// initialisation; the script types, presses, ticks timers and removes the device through the
// ScriptedWindow. A dialog without a script runs its timers (virtual time) until it closes. The
// view records what happened: a journal of openings, closings and shell calls, every message box
// with its owner, and the captions that statics and buttons had. Typed texts are never recorded.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/basic_window.h"

namespace kvx::ui {

class ScriptedView;

class ScriptedWindow final : public BasicWindow {
  public:
    ScriptedWindow(ScriptedView& view, Dialog& dialog);

    View& view() override;
    int ShowMessage(const Message& message) override;
    int RunModal(Dialog& dialog) override;
    bool CreateTooltips() override;
    void SetText(ControlId id, std::u16string_view text) override;

    // --- Actions of a script ---------------------------------------------------------------
    // Replaces an edit's text as typing would (the control's limit applies).
    void Type(ControlId id, std::u16string_view text);
    // Clicks a button; a hidden or disabled one is not clicked (the journal says "refused").
    void Press(ControlId id);
    // Enter: the focused button, else the default button.
    void Enter();
    // Escape (the Cancel command) and the close box.
    void Escape();
    void CloseBox();
    // The About entry of the system menu, when there is one.
    void About();

    int templateId() const { return dialog().Spec().templateId; }
    bool tooltips() const { return tooltips_; }
    // Every text a static or button had, oldest first (edits are not recorded).
    const std::vector<std::u16string>& History(ControlId id) const;
    // The current text of a control (for edits too).
    std::u16string Text(ControlId id) const;
    bool Enabled(ControlId id) const;
    bool Shown(ControlId id) const;
    std::size_t Limit(ControlId id) const;

  protected:
    std::uint64_t Now() override;

  private:
    ScriptedView& view_;
    bool tooltips_ = false;
    std::map<ControlId, std::vector<std::u16string>> history_;
};

struct ShownMessage {
    Message message;
    int ownerTemplate = -1;  // template id of the owning window; -1 = no owner
    int answer = 0;
    std::uint64_t time = 0;  // virtual milliseconds
};

class ScriptedView final : public View {
  public:
    using Script = std::function<void(ScriptedWindow&)>;

    // The next opening of a dialog with this template runs `script` after its initialisation.
    void OnOpen(int templateId, Script script);
    // The answer to the next message box; without one, OK (No for a Yes/No box).
    void Answer(int result);
    // Called when a message box is shown, before it is answered.
    std::function<void(const ShownMessage&)> onMessage;
    // Whether tooltip controls can be made (a test can refuse them).
    bool tooltipsAvailable = true;

    // Fires the timers of all open windows in virtual time until `window` is closed or `limit`
    // milliseconds have passed; true when it closed.
    bool RunTimers(ScriptedWindow& window, std::uint64_t limit = 600000);
    // The removal-complete device event, delivered to every open window, topmost first.
    void DeviceRemoved();

    std::uint64_t now() const { return now_; }
    const std::vector<ShownMessage>& messages() const { return messages_; }
    const std::vector<std::string>& journal() const { return journal_; }
    const std::vector<std::u16string>& shellOpened() const { return shell_; }
    // Ids of the message boxes shown so far (0 for composed texts).
    std::vector<StringId> MessageIds() const;

    // --- View ----------------------------------------------------------------------------
    int RunModal(Dialog& dialog) override;
    int RunFrame(Dialog& frame) override;
    int ShowMessage(const Message& message) override;
    void ShellOpen(std::u16string_view file) override;

    // Internal to ScriptedWindow.
    int ShowOwnedMessage(const Message& message, int ownerTemplate);
    void Note(std::string line) { journal_.push_back(std::move(line)); }

  private:
    int Run(Dialog& dialog, const char* kind);
    bool IsOpen(const ScriptedWindow* window) const;
    // Moves the clock to the earliest timer due no later than `end` and fires what is due then;
    // false when none is.
    bool FireNextTimers(std::uint64_t end);

    std::map<int, std::deque<Script>> scripts_;
    std::deque<int> answers_;
    std::vector<ScriptedWindow*> open_;
    std::vector<ShownMessage> messages_;
    std::vector<std::string> journal_;
    std::vector<std::u16string> shell_;
    std::uint64_t now_ = 0;
};

}  // namespace kvx::ui
