// The seam between the applications' dialog logic and what shows it.
//
// A presenter (a Dialog) holds the logic of one dialog and reacts to events; the Window it is
// shown in lets it change its controls by id, show message boxes, run child dialogs and timers.
// The View starts top-level dialogs, the hidden main frame, message boxes without an owner and
// the shell. Three views implement this: win32 (real dialogs from templates), terminal (the same
// dialogs as text) and scripted (tests). Every event reaches the presenter on the one thread of
// the program, one at a time; a modal child or message box runs its own loop inside the call
// that opened it, as on Windows, and timers of every open window keep running meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvx::ui {

using ControlId = int;
using StringId = unsigned;

// Dialog and message-box results keep the Windows values.
enum DialogResult : int { kResultOk = 1, kResultCancel = 2, kResultYes = 6, kResultNo = 7 };

// The command the Escape key and the close box send.
inline constexpr ControlId kIdCancel = 2;

enum class Icon { kNone, kError, kInformation, kWarning, kQuestion };
enum class Buttons { kOk, kYesNo };  // kYesNo: No is the default button

struct Message {
    std::u16string text;
    std::u16string caption;
    StringId id = 0;  // the string resource the text is (or is built around); 0 = none
    Icon icon = Icon::kNone;
    Buttons buttons = Buttons::kOk;
};

enum class ControlKind {
    kStatic,
    kEdit,
    kPasswordEdit,  // shows a mask character per character
    kReadOnlyEdit,
    kButton,
    kDefaultButton,
    kIcon,
    kProgress,
};

struct ControlSpec {
    ControlId id = 0;
    ControlKind kind = ControlKind::kStatic;
};

// What a view needs to build a dialog: its template (the Win32 view loads it by id; 0 marks the
// hidden main frame) and its controls in tab order.
struct DialogSpec {
    int templateId = 0;
    std::vector<ControlSpec> controls;
};

// Whoever can show a message box: a window (it owns the box) or the view (no owner).
class MessageOwner {
  public:
    virtual ~MessageOwner() = default;
    // Shows the box modally and returns the button chosen (kResultOk, kResultYes, kResultNo).
    virtual int ShowMessage(const Message& message) = 0;
};

class Dialog;
class View;

// A dialog or frame while it is open, as its presenter sees it. Unknown control ids are ignored.
class Window : public MessageOwner {
  public:
    virtual View& view() = 0;

    virtual void SetTitle(std::u16string_view title) = 0;
    // The icon resource shown as large and small icon.
    virtual void SetIcon(int iconId) = 0;
    virtual void SetText(ControlId id, std::u16string_view text) = 0;
    // Copies at most buffer.size() - 1 units of the control's text and a terminating zero into
    // the caller's buffer (for passwords: no other copy is made); returns the units copied.
    virtual std::size_t GetText(ControlId id, std::span<char16_t> buffer) = 0;
    virtual void Enable(ControlId id, bool enabled) = 0;
    virtual void Show(ControlId id, bool shown) = 0;
    virtual void Focus(ControlId id) = 0;
    // The most characters the user can type into an edit control.
    virtual void SetTextLimit(ControlId id, std::size_t units) = 0;
    virtual void SetDefaultButton(ControlId id) = 0;
    // Position of a progress bar, 0 to 100.
    virtual void SetProgress(ControlId id, unsigned percent) = 0;
    // A separator and an "About" entry at the end of the system menu; choosing it calls OnAbout.
    virtual void AddAboutEntry(std::u16string_view text) = 0;
    // Balloon tooltips for every control, 400 pixels wide at most, whose text is the string with
    // the control's id (see common/tooltips.h). False when the tooltip control cannot be made.
    virtual bool CreateTooltips() = 0;
    // A timer that calls OnTimer(id) every `milliseconds` until stopped; starting a running
    // timer again restarts it.
    virtual void StartTimer(unsigned id, unsigned milliseconds) = 0;
    virtual void StopTimer(unsigned id) = 0;
    // Ends the dialog (or the frame) with `result` once the current event has been handled.
    virtual void Close(int result) = 0;
    // Runs a child dialog modally, owned by this window; returns its result.
    virtual int RunModal(Dialog& dialog) = 0;
    // The window's handle for the request record's window fields; 0 where the view has none.
    virtual std::uint32_t Handle() = 0;
    virtual std::uint32_t ControlHandle(ControlId id) = 0;
};

// A presenter. The default handlers do what a plain dialog does.
class Dialog {
  public:
    virtual ~Dialog() = default;

    virtual const DialogSpec& Spec() const = 0;
    // The dialog (or frame) has been created; controls exist with empty texts.
    virtual void OnInit(Window& window) { (void)window; }
    // A button was pressed (or Escape / the close box sent kIdCancel).
    virtual void OnCommand(Window& window, ControlId id) {
        if (id == kIdCancel) {
            window.Close(kResultCancel);
        }
    }
    // The user changed the text of an edit control.
    virtual void OnTextChanged(Window& window, ControlId id) {
        (void)window;
        (void)id;
    }
    virtual void OnTimer(Window& window, unsigned id) {
        (void)window;
        (void)id;
    }
    // The system reported that a device has been removed (removal complete).
    virtual void OnDeviceRemoved(Window& window) { (void)window; }
    // The About entry of the system menu.
    virtual void OnAbout(Window& window) { (void)window; }
    // The close box (dialogs send Cancel) or a close request to the frame.
    virtual void OnCloseRequest(Window& window) { OnCommand(window, kIdCancel); }
};

class View : public MessageOwner {
  public:
    // Runs a dialog modally without an owner; returns its result.
    virtual int RunModal(Dialog& dialog) = 0;
    // Creates the hidden main frame and runs the message loop until the frame closes.
    virtual int RunFrame(Dialog& frame) = 0;
    // The shell's "open" verb on a file or drive root such as "E:".
    virtual void ShellOpen(std::u16string_view file) = 0;
    // Tells the user the system's node of a partition that was just made visible, where the
    // system does not mount it by itself ("/dev/sdc1"); views with a shell that mounts drives
    // show nothing.
    virtual void ShowPartitionNode(std::u16string_view node) { (void)node; }
};

}  // namespace kvx::ui
