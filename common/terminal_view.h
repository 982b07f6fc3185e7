// The terminal view: the programs' dialogs drawn as text on a console, driven from the keyboard.
//
// Keys: Tab / Shift-Tab (or the arrow keys) move between fields and buttons; Enter presses the
// focused button, else the default button; Space presses the focused button; Escape cancels;
// Alt+letter (Escape, then the letter) presses the button or focuses the field whose label has
// that letter marked with '&'; Ctrl-A opens the About box where there is one; Ctrl-C closes the
// dialog. Password fields show one '*' per character and their text is never written out.
// Timers run in real time, also while a message box is up; a device that goes away from the
// host's drive letters is reported to every open dialog as a removal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/basic_window.h"
#include "common/console.h"
#include "common/strings.h"
#include "common/terminal_keys.h"
#include "common/tooltips.h"
#include "host/host.h"

namespace kvx::ui {

class TerminalView;

class TerminalWindow final : public BasicWindow {
  public:
    TerminalWindow(TerminalView& view, Dialog& dialog, bool hidden);
    View& view() override;
    int ShowMessage(const Message& message) override;
    int RunModal(Dialog& dialog) override;
    bool CreateTooltips() override;

    bool hidden() const { return hidden_; }
    bool tooltips() const { return tooltips_; }

  protected:
    std::uint64_t Now() override;

  private:
    TerminalView& view_;
    bool hidden_;
    bool tooltips_ = false;
};

class TerminalView final : public View {
  public:
    // `strings` gives the tooltip texts; `host` the drive letters watched for removal.
    TerminalView(Console& console, Host& host, const StringSource& strings);

    int RunModal(Dialog& dialog) override;
    int RunFrame(Dialog& frame) override;
    int ShowMessage(const Message& message) override;
    void ShellOpen(std::u16string_view file) override;
    void ShowPartitionNode(std::u16string_view node) override;

    // Internal to TerminalWindow.
    int Run(Dialog& dialog, bool hidden);
    std::uint64_t Now() { return console_.NowMs(); }

    // How often the drive letters are looked at.
    static constexpr int kDevicePollMs = 500;

  private:
    struct Box {
        const Message* message = nullptr;
        bool yesFocused = false;
        std::optional<int> answer;
    };
    // Runs events until `done` says so.
    template <class Done>
    void Loop(Done done);
    KeyInput ReadKey(int timeoutMs);
    void HandleWindowKey(TerminalWindow& window, const KeyInput& input);
    void HandleBoxKey(Box& box, const KeyInput& input);
    void FireTimers();
    void PollDevices();
    TerminalWindow* TopWindow();

    void Render();

    Console& console_;
    Host& host_;
    TooltipTexts tips_;
    std::vector<TerminalWindow*> windows_;
    std::vector<Box*> boxes_;
    bool dirty_ = true;
    bool ended_ = false;
    std::uint32_t drives_ = 0;
    std::uint64_t nextPoll_ = 0;
};

}  // namespace kvx::ui
