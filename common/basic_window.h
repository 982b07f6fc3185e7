// The state of an open window kept by the views that draw it themselves (terminal, scripted):
// controls with text, enabled and shown flags, focus, default button, timers, close result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/view.h"

namespace kvx::ui {

struct ControlState {
    ControlId id = 0;
    ControlKind kind = ControlKind::kStatic;
    std::u16string text;
    bool enabled = true;
    bool shown = true;
    std::size_t limit = 0;  // edits: most characters the user can type; 0 = no limit of ours
    unsigned progress = 0;

    bool IsEdit() const {
        return kind == ControlKind::kEdit || kind == ControlKind::kPasswordEdit ||
               kind == ControlKind::kReadOnlyEdit;
    }
    bool IsButton() const {
        return kind == ControlKind::kButton || kind == ControlKind::kDefaultButton;
    }
    // Takes the focus from the keyboard: a shown, enabled edit or button.
    bool Focusable() const { return shown && enabled && (IsEdit() || IsButton()); }
};

struct TimerState {
    unsigned id = 0;
    unsigned period = 0;
    std::uint64_t due = 0;  // on the view's clock, in milliseconds
};

class BasicWindow : public Window {
  public:
    explicit BasicWindow(Dialog& dialog);
    // Control texts may hold passwords: they are wiped.
    ~BasicWindow() override;
    BasicWindow(const BasicWindow&) = delete;
    BasicWindow& operator=(const BasicWindow&) = delete;

    // --- Window ----------------------------------------------------------------------------
    void SetTitle(std::u16string_view title) override;
    void SetIcon(int iconId) override;
    void SetText(ControlId id, std::u16string_view text) override;
    std::size_t GetText(ControlId id, std::span<char16_t> buffer) override;
    void Enable(ControlId id, bool enabled) override;
    void Show(ControlId id, bool shown) override;
    void Focus(ControlId id) override;
    void SetTextLimit(ControlId id, std::size_t units) override;
    void SetDefaultButton(ControlId id) override;
    void SetProgress(ControlId id, unsigned percent) override;
    void AddAboutEntry(std::u16string_view text) override;
    void StartTimer(unsigned id, unsigned milliseconds) override;
    void StopTimer(unsigned id) override;
    void Close(int result) override;
    std::uint32_t Handle() override { return 0; }
    std::uint32_t ControlHandle(ControlId) override { return 0; }

    // --- For the view ----------------------------------------------------------------------
    Dialog& dialog() { return dialog_; }
    const Dialog& dialog() const { return dialog_; }
    // Creates the controls and runs OnInit; puts the focus on the first focusable control when
    // the presenter chose none.
    void Initialise();

    const std::vector<ControlState>& controls() const { return controls_; }
    ControlState* Find(ControlId id);
    const ControlState* Find(ControlId id) const;
    const std::u16string& title() const { return title_; }
    int icon() const { return icon_; }
    ControlId focus() const { return focus_; }
    ControlId defaultButton() const { return defaultButton_; }
    const std::optional<std::u16string>& aboutEntry() const { return about_; }
    bool closed() const { return closed_; }
    int result() const { return result_; }
    bool dirty() const { return dirty_; }
    void ClearDirty() { dirty_ = false; }

    // User input: replaces an edit's text as typing would (the limit applies) and tells the
    // presenter; false when the control cannot take input.
    bool UserSetText(ControlId id, std::u16string_view text);
    // Typing one unit at the end of an edit's text, and erasing the last one, in place.
    bool UserType(ControlId id, char16_t unit);
    bool UserBackspace(ControlId id);
    // Presses a button as a click would; false when it is missing, hidden or disabled.
    bool UserPress(ControlId id);
    // Moves the focus to the next (or previous) focusable control in tab order.
    void MoveFocus(bool forward);
    // Presses what Enter presses: the focused button, else the default button.
    bool PressEnter();

    // Timers: the earliest due time, and firing the timers due at `now` (each at most once).
    std::optional<std::uint64_t> NextDue() const;
    void FireDueTimers(std::uint64_t now);

  protected:
    // The view's clock in milliseconds.
    virtual std::uint64_t Now() = 0;
    void MarkDirty() { dirty_ = true; }

  private:
    Dialog& dialog_;
    std::vector<ControlState> controls_;
    std::u16string title_;
    int icon_ = 0;
    ControlId focus_ = 0;
    ControlId defaultButton_ = 0;
    std::optional<std::u16string> about_;
    std::vector<TimerState> timers_;
    bool closed_ = false;
    int result_ = 0;
    bool dirty_ = true;
};

// Wipes the characters of a string (they may be a password) and empties it.
void WipeText(std::u16string& text);

}  // namespace kvx::ui
