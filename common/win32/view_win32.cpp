// The Win32 view over DialogBoxParamW, MessageBoxW, SetTimer, tooltips and ShellExecuteW.
#include <windows.h>
// windows.h names GetDriveType as a macro; the Host's member of that name must stay itself.
#undef GetDriveType
#include <commctrl.h>
#include <dbt.h>
#include <shellapi.h>

#include <cstdint>
#include <span>
#include <string>
#include <tuple>

#include "common/tooltips.h"
#include "common/win32/view_win32.h"

namespace kvx::ui {
namespace {

// The system-menu command of the About entry; the low four bits of system commands are the
// system's own.
constexpr UINT kAboutCommand = 0x0010;
constexpr wchar_t kFrameClass[] = L"KvxMainFrame";

const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

std::u16string Copy(std::u16string_view text) {
    return std::u16string(text);
}

std::uint32_t HandleValue(HWND window) {
    // Windows keeps user handles 32-bit significant; the request record holds them so.
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window));
}

UINT MessageFlags(const Message& message) {
    UINT flags = message.buttons == Buttons::kYesNo ? (MB_YESNO | MB_DEFBUTTON2) : MB_OK;
    switch (message.icon) {
        case Icon::kNone:
            break;
        case Icon::kError:
            flags |= MB_ICONERROR;
            break;
        case Icon::kInformation:
            flags |= MB_ICONINFORMATION;
            break;
        case Icon::kWarning:
            flags |= MB_ICONWARNING;
            break;
        case Icon::kQuestion:
            flags |= MB_ICONQUESTION;
            break;
    }
    return flags;
}

INT_PTR CALLBACK DialogProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK FrameProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace

struct Win32View::Impl {
    Impl(Win32View& self, const ResourceStrings& stringsIn, Host& hostIn)
        : view(self), strings(stringsIn), host(hostIn), program(GetModuleHandleW(nullptr)) {}

    // The module that holds a resource: the resource library when it has it, else the program.
    HMODULE ModuleWith(int id, LPCWSTR type) const {
        if (const ResourceModule* library = strings.module()) {
            const auto handle = static_cast<HMODULE>(library->NativeHandle());
            if (handle != nullptr && FindResourceW(handle, MAKEINTRESOURCEW(id), type) != nullptr) {
                return handle;
            }
        }
        return program;
    }

    int Run(Dialog& dialog, HWND owner);
    int Box(const Message& message, HWND owner) {
        const int answer =
            MessageBoxW(owner, Wide(message.text), Wide(message.caption), MessageFlags(message));
        return answer == IDYES ? kResultYes : answer == IDNO ? kResultNo : kResultOk;
    }

    Win32View& view;
    const ResourceStrings& strings;
    Host& host;
    HMODULE program;
    bool frameClass = false;
};

namespace {

// One open dialog (or the hidden frame) as its presenter sees it.
class Win32Window final : public Window {
  public:
    Win32Window(Win32View::Impl& view, Dialog& dialog, bool frame)
        : view_(view), dialog_(dialog), frame_(frame), tips_(view.strings, view.host) {}

    // --- Window --------------------------------------------------------------------------
    View& view() override { return view_.view; }
    int ShowMessage(const Message& message) override { return view_.Box(message, window_); }

    void SetTitle(std::u16string_view title) override {
        SetWindowTextW(window_, Wide(Copy(title)));
    }
    void SetIcon(int iconId) override {
        const HMODULE module = view_.ModuleWith(iconId, RT_GROUP_ICON);
        for (const auto& [which, width, height] :
             {std::tuple{ICON_BIG, SM_CXICON, SM_CYICON},
              std::tuple{ICON_SMALL, SM_CXSMICON, SM_CYSMICON}}) {
            const HANDLE icon =
                LoadImageW(module, MAKEINTRESOURCEW(iconId), IMAGE_ICON, GetSystemMetrics(width),
                           GetSystemMetrics(height), LR_DEFAULTCOLOR | LR_SHARED);
            if (icon != nullptr) {
                SendMessageW(window_, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
            }
        }
    }
    void SetText(ControlId id, std::u16string_view text) override {
        // Texts the program puts into an edit are no user input.
        const bool was = settingText_;
        settingText_ = true;
        SetDlgItemTextW(window_, id, Wide(Copy(text)));
        settingText_ = was;
    }
    std::size_t GetText(ControlId id, std::span<char16_t> buffer) override {
        if (buffer.empty()) {
            return 0;
        }
        buffer[0] = 0;
        const HWND control = GetDlgItem(window_, id);
        if (control == nullptr) {
            return 0;
        }
        // Straight into the caller's buffer: a password makes no other copy here.
        const int n = GetWindowTextW(control, reinterpret_cast<LPWSTR>(buffer.data()),
                                     static_cast<int>(buffer.size()));
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    void Enable(ControlId id, bool enabled) override {
        if (const HWND control = GetDlgItem(window_, id)) {
            EnableWindow(control, enabled ? TRUE : FALSE);
        }
    }
    void Show(ControlId id, bool shown) override {
        if (const HWND control = GetDlgItem(window_, id)) {
            ShowWindow(control, shown ? SW_SHOW : SW_HIDE);
        }
    }
    void Focus(ControlId id) override {
        const HWND control = GetDlgItem(window_, id);
        if (control == nullptr) {
            return;
        }
        focusChosen_ = true;
        if (GetFocus() == control) {
            return;  // keeps the caret and the selection of a field being typed in
        }
        if (frame_) {
            SetFocus(control);
        } else {
            // The dialog manager's own way: it also moves the default-button highlight.
            SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
        }
    }
    void SetTextLimit(ControlId id, std::size_t units) override {
        SendDlgItemMessageW(window_, id, EM_LIMITTEXT, static_cast<WPARAM>(units), 0);
    }
    void SetDefaultButton(ControlId id) override {
        SendMessageW(window_, DM_SETDEFID, static_cast<WPARAM>(id), 0);
    }
    void SetProgress(ControlId id, unsigned percent) override {
        SendDlgItemMessageW(window_, id, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    }
    void AddAboutEntry(std::u16string_view text) override {
        const HMENU menu = GetSystemMenu(window_, FALSE);
        if (menu != nullptr) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(menu, MF_STRING, kAboutCommand, Wide(Copy(text)));
        }
    }
    bool CreateTooltips() override {
        if (tooltip_ != nullptr) {
            return true;
        }
        tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                   WS_POPUP | TTS_NOPREFIX | TTS_BALLOON | TTS_ALWAYSTIP,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                   window_, nullptr, view_.program, nullptr);
        if (tooltip_ == nullptr) {
            return false;
        }
        // Every control is a tool; its text is asked for when the tip is about to show, and the
        // tooltip control subclasses the tools to see their mouse messages.
        for (HWND child = GetWindow(window_, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            TTTOOLINFOW tool{};
            tool.cbSize = TTTOOLINFOW_V2_SIZE;
            tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
            tool.hwnd = window_;
            tool.uId = reinterpret_cast<UINT_PTR>(child);
            tool.lpszText = LPSTR_TEXTCALLBACKW;
            SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        }
        SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, kTooltipMaxWidth);
        SendMessageW(tooltip_, TTM_ACTIVATE, TRUE, 0);
        return true;
    }
    void StartTimer(unsigned id, unsigned milliseconds) override {
        SetTimer(window_, id, milliseconds, nullptr);
    }
    void StopTimer(unsigned id) override { KillTimer(window_, id); }
    void Close(int result) override {
        ended_ = true;
        if (frame_) {
            closed_ = true;
            result_ = result;
            PostMessageW(window_, WM_NULL, 0, 0);  // wakes the frame's message loop
        } else {
            EndDialog(window_, result);
        }
    }
    int RunModal(Dialog& dialog) override { return view_.Run(dialog, window_); }
    std::uint32_t Handle() override { return HandleValue(window_); }
    std::uint32_t ControlHandle(ControlId id) override {
        return HandleValue(GetDlgItem(window_, id));
    }

    // --- For the view ----------------------------------------------------------------------
    // WM_INITDIALOG (or the frame's creation): the presenter fills the window. A dialog keeps
    // the dialog manager's first focus unless the presenter chose one.
    BOOL Init(HWND window) {
        window_ = window;
        focusChosen_ = false;
        dialog_.OnInit(*this);
        return focusChosen_ ? FALSE : TRUE;
    }

    // A message for the presenter; true when it was handled.
    bool Dispatch(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* answer) {
        if (ended_ && (msg == WM_COMMAND || msg == WM_CLOSE || msg == WM_TIMER ||
                       msg == WM_DEVICECHANGE || msg == WM_SYSCOMMAND)) {
            return true;  // the dialog is ending: its presenter has had its last event
        }
        switch (msg) {
            case WM_COMMAND:
                Command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
                return true;
            case WM_CLOSE:
                dialog_.OnCloseRequest(*this);
                return true;
            case WM_TIMER:
                dialog_.OnTimer(*this, static_cast<unsigned>(wParam));
                return true;
            case WM_DEVICECHANGE:
                if (wParam == DBT_DEVICEREMOVECOMPLETE) {
                    dialog_.OnDeviceRemoved(*this);
                }
                *answer = TRUE;
                return true;
            case WM_SYSCOMMAND:
                if ((wParam & 0xFFF0) == kAboutCommand) {
                    dialog_.OnAbout(*this);
                    return true;
                }
                return false;
            case WM_NOTIFY:
                return TooltipText(reinterpret_cast<NMHDR*>(lParam));
            default:
                return false;
        }
    }

    HWND window() const { return window_; }
    bool closed() const { return closed_; }
    int result() const { return result_; }

  private:
    void Command(int id, int code, HWND control) {
        if (control != nullptr && code == EN_CHANGE) {
            if (!settingText_) {
                dialog_.OnTextChanged(*this, id);
            }
            return;
        }
        if (code != BN_CLICKED) {
            return;
        }
        // Enter and Escape reach a dialog as commands of its buttons even while those are
        // disabled or hidden; a button that cannot be pressed is not pressed.
        const HWND button = GetDlgItem(window_, id);
        if (button != nullptr && (!IsWindowEnabled(button) || !IsWindowVisible(button))) {
            return;
        }
        dialog_.OnCommand(*this, id);
    }

    bool TooltipText(const NMHDR* header) {
        if (header == nullptr || tooltip_ == nullptr || header->hwndFrom != tooltip_) {
            return false;
        }
        if (header->code != TTN_GETDISPINFOW && header->code != TTN_GETDISPINFOA) {
            return false;
        }
        SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, kTooltipMaxWidth);
        // Both forms start alike; the flags and the tool's id sit at the same places.
        const auto* info = reinterpret_cast<const NMTTDISPINFOW*>(header);
        const ControlId id = (info->uFlags & TTF_IDISHWND) != 0
                                 ? GetDlgCtrlID(reinterpret_cast<HWND>(header->idFrom))
                                 : static_cast<ControlId>(header->idFrom);
        if (header->code == TTN_GETDISPINFOW) {
            auto* wide = reinterpret_cast<NMTTDISPINFOW*>(const_cast<NMHDR*>(header));
            wide->hinst = nullptr;
            wide->lpszText = const_cast<LPWSTR>(reinterpret_cast<LPCWSTR>(tips_.Wide(id)));
        } else {
            auto* narrow = reinterpret_cast<NMTTDISPINFOA*>(const_cast<NMHDR*>(header));
            narrow->hinst = nullptr;
            narrow->lpszText = const_cast<LPSTR>(tips_.Narrow(id));
        }
        return true;
    }

    Win32View::Impl& view_;
    Dialog& dialog_;
    bool frame_;
    TooltipTexts tips_;
    HWND window_ = nullptr;
    HWND tooltip_ = nullptr;
    bool settingText_ = false;
    bool focusChosen_ = false;
    bool closed_ = false;
    bool ended_ = false;
    int result_ = 0;
};

INT_PTR CALLBACK DialogProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Win32Window*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        return self->Init(window);
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr) {
        return FALSE;
    }
    LRESULT answer = 0;
    if (!self->Dispatch(msg, wParam, lParam, &answer)) {
        return FALSE;
    }
    if (answer != 0) {
        SetWindowLongPtrW(window, DWLP_MSGRESULT, answer);
    }
    return TRUE;
}

LRESULT CALLBACK FrameProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    // Only timers, the close request and device notices concern the frame's presenter.
    if (self != nullptr && self->window() != nullptr &&
        (msg == WM_TIMER || msg == WM_CLOSE || msg == WM_DEVICECHANGE)) {
        LRESULT answer = 0;
        self->Dispatch(msg, wParam, lParam, &answer);
        return answer;
    }
    return DefWindowProcW(window, msg, wParam, lParam);
}

}  // namespace

int Win32View::Impl::Run(Dialog& dialog, HWND owner) {
    Win32Window window(*this, dialog, false);
    const int id = dialog.Spec().templateId;
    const INT_PTR result = DialogBoxParamW(ModuleWith(id, RT_DIALOG), MAKEINTRESOURCEW(id), owner,
                                           DialogProc, reinterpret_cast<LPARAM>(&window));
    return static_cast<int>(result);
}

Win32View::Win32View(const ResourceStrings& strings, Host& host)
    : impl_(std::make_unique<Impl>(*this, strings, host)) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES;
    InitCommonControlsEx(&controls);
}

Win32View::~Win32View() = default;

int Win32View::RunModal(Dialog& dialog) {
    return impl_->Run(dialog, nullptr);
}

int Win32View::RunFrame(Dialog& frame) {
    if (!impl_->frameClass) {
        WNDCLASSW windowClass{};
        windowClass.style = 0;
        windowClass.lpfnWndProc = FrameProc;
        windowClass.hInstance = impl_->program;
        windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(HOLLOW_BRUSH));
        windowClass.lpszClassName = kFrameClass;
        impl_->frameClass = RegisterClassW(&windowClass) != 0;
    }
    Win32Window window(*impl_, frame, true);
    // Minimised, no size, no owner, no menu; never shown.
    const HWND handle = CreateWindowExW(0, kFrameClass, L"", WS_OVERLAPPEDWINDOW | WS_MINIMIZE, 0,
                                        0, 0, 0, nullptr, nullptr, impl_->program, &window);
    if (handle == nullptr) {
        return 0;
    }
    ShowWindow(handle, SW_HIDE);
    window.Init(handle);
    MSG msg;
    while (!window.closed() && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    DestroyWindow(handle);
    return window.result();
}

int Win32View::ShowMessage(const Message& message) {
    return impl_->Box(message, nullptr);
}

void Win32View::ShellOpen(std::u16string_view file) {
    ShellExecuteW(nullptr, L"open", Wide(Copy(file)), nullptr, L"", SW_SHOWNORMAL);
}

std::u16string CommandLineTail() {
    const auto* line = reinterpret_cast<const char16_t*>(GetCommandLineW());
    std::u16string_view rest(line == nullptr ? u"" : line);
    // The program name: quoted, or up to the first blank.
    std::size_t end = 0;
    if (!rest.empty() && rest[0] == u'"') {
        end = rest.find(u'"', 1);
        end = end == std::u16string_view::npos ? rest.size() : end + 1;
    } else {
        end = rest.find_first_of(u" \t");
        end = end == std::u16string_view::npos ? rest.size() : end;
    }
    rest.remove_prefix(end);
    while (!rest.empty() && (rest[0] == u' ' || rest[0] == u'\t')) {
        rest.remove_prefix(1);
    }
    return std::u16string(rest);
}

}  // namespace kvx::ui
