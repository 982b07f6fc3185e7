// A look into the programs' windows from inside Wine, for the GUI tests: finds a program's
// dialog among the windows of one title by a control it has, and reports what the X server
// cannot tell (control texts, states, positions, progress, message boxes), or sends the
// device-removal notice. Prints one line; exit code 0 = found, 1 = not found, 2 = usage.
//
//   gui_probe find TITLE ID                the X window of the dialog titled TITLE with control ID
//   gui_probe text TITLE ID CONTROL        the control's text
//   gui_probe state TITLE ID CONTROL       "enabled|disabled visible|hidden"
//   gui_probe center TITLE ID CONTROL      the control's centre in screen pixels: "X Y"
//   gui_probe progress TITLE ID CONTROL    a progress bar's position
//   gui_probe box TITLE                    a message box: "XWINDOW<TAB>ICON<TAB>BUTTONS<TAB>TEXT",
//                                          ICON "none" or "X,Y,W,H" inside the box window
//   gui_probe removed LETTER               tells every window that the volume LETTER is gone
//   gui_probe cursor X Y                   puts the mouse pointer there, as Windows sees it too
//   gui_probe tooltip                      the tip on show: "XWINDOW<TAB>WIDTH<TAB>TEXT"
//   gui_probe modules PROGRAM              the modules the running PROGRAM has loaded, one a line
#include <windows.h>
// The headers below need the types windows.h declares.
#include <commctrl.h>
#include <dbt.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::wstring Wide(const char* text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), L'\0');
    if (n > 1) {
        MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), n);
    }
    return out;
}

// The text as the window itself answers it (GetWindowTextW would give an edit control of another
// process its creation text).
std::wstring WindowText(HWND window) {
    DWORD_PTR length = 0;
    if (SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length) == 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 2000, &copied);
    text.resize(static_cast<std::size_t>(copied));
    return text;
}

std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

struct Search {
    std::wstring title;
    std::vector<HWND> found;
};

BOOL CALLBACK Collect(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    if (IsWindowVisible(window) && WindowText(window) == search->title) {
        search->found.push_back(window);
    }
    return TRUE;
}

// Visible top-level windows of a title, topmost first.
std::vector<HWND> Windows(const std::wstring& title) {
    Search search{title, {}};
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND Dialog(const std::wstring& title, int id) {
    for (HWND window : Windows(title)) {
        if (GetDlgItem(window, id) != nullptr) {
            return window;
        }
    }
    return nullptr;
}

// The X11 window Wine made for a top-level window.
unsigned long XWindow(HWND window) {
    return static_cast<unsigned long>(
        reinterpret_cast<ULONG_PTR>(GetPropW(window, L"__wine_x11_whole_window")));
}

int Usage() {
    std::fprintf(stderr, "usage: gui_probe find|text|state|center|progress|box|removed ...\n");
    return 2;
}

// The message box of a title: a dialog of the system class whose text sits in static 0xFFFF.
int Box(const std::wstring& title) {
    for (HWND window : Windows(title)) {
        const HWND text = GetDlgItem(window, 0xFFFF);
        if (ClassName(window) != L"#32770" || text == nullptr) {
            continue;
        }
        // The icon's place in the box window, for a look at its colours in a screenshot.
        std::string icon = "none";
        RECT frame{};
        GetWindowRect(window, &frame);
        for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            if (ClassName(child) == L"Static" &&
                (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                IsWindowVisible(child) && SendMessageW(child, STM_GETICON, 0, 0) != 0) {
                RECT r{};
                GetWindowRect(child, &r);
                icon = std::to_string(r.left - frame.left) + "," +
                       std::to_string(r.top - frame.top) + "," + std::to_string(r.right - r.left) +
                       "," + std::to_string(r.bottom - r.top);
            }
        }
        std::string buttons;
        for (const auto& [id, name] : {std::pair{IDOK, "ok"}, std::pair{IDYES, "yes"},
                                       std::pair{IDNO, "no"}, std::pair{IDCANCEL, "cancel"}}) {
            const HWND button = GetDlgItem(window, id);
            if (button != nullptr && IsWindowVisible(button)) {
                buttons += buttons.empty() ? name : std::string(",") + name;
            }
        }
        std::string line = Utf8(WindowText(text));
        for (char& c : line) {
            if (c == '\r' || c == '\n' || c == '\t') {
                c = ' ';
            }
        }
        std::printf("%lu\t%s\t%s\t%s\n", XWindow(window), icon.c_str(), buttons.c_str(),
                    line.c_str());
        return 0;
    }
    return 1;
}

// Sends the removal-complete notice to every top-level window, as the system does; each has
// handled it when this returns.
BOOL CALLBACK Notify(HWND window, LPARAM volume) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, volume, SMTO_ABORTIFHUNG,
                        5000, &result);
    return TRUE;
}

struct Tip {
    HWND window = nullptr;
};

BOOL CALLBACK FindTip(HWND window, LPARAM context) {
    if (IsWindowVisible(window) && _wcsicmp(ClassName(window).c_str(), TOOLTIPS_CLASSW) == 0) {
        reinterpret_cast<Tip*>(context)->window = window;
        return FALSE;
    }
    return TRUE;
}

int Tooltip() {
    Tip tip;
    EnumWindows(FindTip, reinterpret_cast<LPARAM>(&tip));
    if (tip.window == nullptr) {
        return 1;
    }
    RECT r{};
    GetWindowRect(tip.window, &r);
    std::printf("%lu\t%ld\t%s\n", XWindow(tip.window), r.right - r.left,
                Utf8(WindowText(tip.window)).c_str());
    return 0;
}

int Modules(const std::wstring& program) {
    const HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (processes == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD id = 0;
    PROCESSENTRY32W process{};
    process.dwSize = sizeof process;
    for (BOOL more = Process32FirstW(processes, &process); more;
         more = Process32NextW(processes, &process)) {
        if (_wcsicmp(process.szExeFile, program.c_str()) == 0) {
            id = process.th32ProcessID;
        }
    }
    CloseHandle(processes);
    if (id == 0) {
        return 1;
    }
    const HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, id);
    if (modules == INVALID_HANDLE_VALUE) {
        return 1;
    }
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    for (BOOL more = Module32FirstW(modules, &module); more;
         more = Module32NextW(modules, &module)) {
        std::printf("%s\n", Utf8(module.szModule).c_str());
    }
    CloseHandle(modules);
    return 0;
}

int Removed(const char* letter) {
    if (letter[0] < 'A' || letter[0] > 'Z') {
        return Usage();
    }
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1u << (letter[0] - 'A');
    EnumWindows(Notify, reinterpret_cast<LPARAM>(&volume));
    std::printf("sent\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || (argc < 3 && std::string(argv[1]) != "tooltip")) {
        return Usage();
    }
    const std::string command = argv[1];
    if (command == "removed") {
        return Removed(argv[2]);
    }
    if (command == "tooltip") {
        return Tooltip();
    }
    if (command == "cursor" && argc == 4) {
        // Windows keeps its own idea of the pointer, which moves made outside its windows do
        // not change; tooltips go by it. Wine sets up the screen with the first window made on
        // a display (and puts the pointer in its middle), and takes a move to where it thinks
        // the pointer is for no move: a window first, then two moves.
        const HWND window = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 1, 1, nullptr,
                                            nullptr, nullptr, nullptr);
        const int x = std::atoi(argv[2]);
        const int y = std::atoi(argv[3]);
        const bool moved = SetCursorPos(x + 1, y + 1) && SetCursorPos(x, y);
        if (window != nullptr) {
            DestroyWindow(window);
        }
        return moved ? 0 : 1;
    }
    const std::wstring title = Wide(argv[2]);
    if (command == "modules") {
        return Modules(title);
    }
    if (command == "box") {
        return Box(title);
    }
    if (argc < 4) {
        return Usage();
    }
    const HWND dialog = Dialog(title, std::atoi(argv[3]));
    if (dialog == nullptr) {
        return 1;
    }
    if (command == "find") {
        std::printf("%lu\n", XWindow(dialog));
        return 0;
    }
    if (argc < 5) {
        return Usage();
    }
    const HWND control = GetDlgItem(dialog, std::atoi(argv[4]));
    if (control == nullptr) {
        return 1;
    }
    if (command == "text") {
        std::printf("%s\n", Utf8(WindowText(control)).c_str());
    } else if (command == "state") {
        std::printf("%s %s\n", IsWindowEnabled(control) ? "enabled" : "disabled",
                    IsWindowVisible(control) ? "visible" : "hidden");
    } else if (command == "center") {
        RECT r{};
        GetWindowRect(control, &r);
        std::printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    } else if (command == "progress") {
        std::printf("%ld\n", static_cast<long>(SendMessageW(control, PBM_GETPOS, 0, 0)));
    } else {
        return Usage();
    }
    return 0;
}
