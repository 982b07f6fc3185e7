// Checks a program's resources (its own file, or its English resource library) against the
// presenters that use them, through Windows' own resource loader and dialog manager:
// - every string of the presenters' table loads with the same text, and the resources hold no
//   string the table lacks;
// - every dialog template the presenters open creates a dialog with a caption and a system menu
//   whose controls are exactly the presenter's, in its tab order, each of the kind it expects
//   (password-style and read-only edits, default buttons, icons, progress bars);
// - the icons the presenters show exist.
//
//   resource_check keyport|keywiper FILE
#include <windows.h>
#undef GetDriveType
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "apps/keyport/change_password.h"
#include "apps/keyport/keyport_strings.h"
#include "apps/keyport/login_dialog.h"
#include "apps/keyport/resource_ids.h"
#include "apps/keyport/session.h"
#include "apps/keyport/small_dialogs.h"
#include "apps/keywiper/keywiper_strings.h"
#include "apps/keywiper/main_dialog.h"
#include "apps/keywiper/reset_dialog.h"
#include "apps/keywiper/resource_ids.h"
#include "apps/keywiper/session.h"
#include "common/scripted_view.h"
#include "host/host.h"

namespace {

using kvx::ui::ControlKind;

int failures = 0;

void Fail(const std::string& what) {
    std::printf("FAIL: %s\n", what.c_str());
    ++failures;
}

std::string Narrow(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text) {
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// Collects the number of a string block (an enumeration callback: the system's calling
// convention, which a lambda does not have in a 32-bit program).
BOOL CALLBACK CollectBlock(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR blocks) {
    if (IS_INTRESOURCE(name)) {
        reinterpret_cast<std::vector<unsigned>*>(blocks)->push_back(
            static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(name)));
    }
    return TRUE;
}

void CheckStrings(HMODULE module, const kvx::ui::StringTable& table) {
    for (const kvx::ui::StringEntry& entry : table.entries()) {
        const wchar_t* text = nullptr;
        const int n = LoadStringW(module, entry.id, reinterpret_cast<LPWSTR>(&text), 0);
        const std::u16string loaded = n > 0 && text != nullptr
                                          ? std::u16string(reinterpret_cast<const char16_t*>(text),
                                                           static_cast<std::size_t>(n))
                                          : std::u16string();
        if (loaded != entry.text) {
            Fail("string " + std::to_string(entry.id) + " is '" + Narrow(loaded) +
                 "', the table has '" + Narrow(entry.text) + "'");
        }
    }
    // Strings live in blocks of sixteen; every id of every block must be one of the table's.
    std::vector<unsigned> blocks;
    EnumResourceNamesW(module, RT_STRING, CollectBlock, reinterpret_cast<LONG_PTR>(&blocks));
    if (blocks.empty()) {
        Fail("no string table");
    }
    for (const unsigned block : blocks) {
        for (unsigned id = (block - 1) * 16; id < block * 16; ++id) {
            const wchar_t* text = nullptr;
            if (LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0) > 0 &&
                !table.Contains(id)) {
                Fail("string " + std::to_string(id) + " is not in the program's table");
            }
        }
    }
}

bool KindMatches(HWND control, ControlKind kind, std::string* seen) {
    const std::wstring name = ClassName(control);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    *seen = Narrow(std::u16string(name.begin(), name.end())) + " style 0x" + [&] {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08lx", static_cast<unsigned long>(style));
        return std::string(hex);
    }();
    const bool edit = _wcsicmp(name.c_str(), L"Edit") == 0;
    const bool button = _wcsicmp(name.c_str(), L"Button") == 0;
    const bool isStatic = _wcsicmp(name.c_str(), L"Static") == 0;
    const LONG buttonType = style & BS_TYPEMASK;
    const LONG staticType = style & SS_TYPEMASK;
    switch (kind) {
        case ControlKind::kStatic:
            return isStatic && staticType != SS_ICON;
        case ControlKind::kIcon:
            return isStatic && staticType == SS_ICON;
        case ControlKind::kEdit:
            return edit && (style & (ES_PASSWORD | ES_READONLY)) == 0;
        case ControlKind::kPasswordEdit:
            return edit && (style & ES_PASSWORD) != 0 && (style & ES_READONLY) == 0;
        case ControlKind::kReadOnlyEdit:
            return edit && (style & ES_READONLY) != 0 && (style & ES_PASSWORD) == 0;
        case ControlKind::kButton:
            return button && buttonType == BS_PUSHBUTTON;
        case ControlKind::kDefaultButton:
            return button && buttonType == BS_DEFPUSHBUTTON;
        case ControlKind::kProgress:
            return _wcsicmp(name.c_str(), PROGRESS_CLASSW) == 0;
    }
    return false;
}

INT_PTR CALLBACK Quiet(HWND, UINT msg, WPARAM, LPARAM) {
    return msg == WM_INITDIALOG ? TRUE : FALSE;
}

void CheckDialog(HMODULE module, const kvx::ui::DialogSpec& spec) {
    const std::string name = "dialog " + std::to_string(spec.templateId);
    HWND dialog = CreateDialogParamW(module, MAKEINTRESOURCEW(spec.templateId), nullptr, Quiet, 0);
    if (dialog == nullptr) {
        Fail(name + " cannot be created (error " + std::to_string(GetLastError()) + ")");
        return;
    }
    const LONG style = GetWindowLongW(dialog, GWL_STYLE);
    if ((style & WS_CAPTION) != WS_CAPTION || (style & WS_SYSMENU) == 0) {
        Fail(name + " lacks a caption or a system menu");
    }
    std::vector<int> order;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(child);
        if (id == -1 || id == 0xFFFF) {
            continue;  // a label or picture nobody addresses
        }
        order.push_back(id);
    }
    std::vector<int> expected;
    for (const kvx::ui::ControlSpec& control : spec.controls) {
        expected.push_back(control.id);
        const HWND window = GetDlgItem(dialog, control.id);
        if (window == nullptr) {
            Fail(name + ": control " + std::to_string(control.id) + " is missing");
            continue;
        }
        std::string seen;
        if (!KindMatches(window, control.kind, &seen)) {
            Fail(name + ": control " + std::to_string(control.id) + " is " + seen +
                 ", not the kind its presenter expects (" +
                 std::to_string(static_cast<int>(control.kind)) + ")");
        }
    }
    if (order != expected) {
        std::string got;
        std::string want;
        for (const int id : order) {
            got += " " + std::to_string(id);
        }
        for (const int id : expected) {
            want += " " + std::to_string(id);
        }
        Fail(name + ": controls in tab order" + got + ", the presenter's" + want);
    }
    DestroyWindow(dialog);
}

void CheckIcon(HMODULE module, int id) {
    if (FindResourceW(module, MAKEINTRESOURCEW(id), RT_GROUP_ICON) == nullptr) {
        Fail("icon " + std::to_string(id) + " is missing");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: resource_check keyport|keywiper FILE\n");
        return 2;
    }
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    const std::string app = argv[1];
    const HMODULE module = LoadLibraryExA(argv[2], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        std::printf("FAIL: cannot load %s (error %lu)\n", argv[2], GetLastError());
        return 1;
    }
    kvx::ui::ScriptedView view;
    kvx::Host& host = kvx::PlatformHost();
    if (app == "keyport") {
        using namespace kvx::keyport;
        kvx::keyport::Session session(host, view, KeyportStrings());
        CheckStrings(module, KeyportStrings());
        CKEYPORTDlg login(session);
        CPrcSucc success(session);
        HINTDLG hint(session);
        CChangePassword change(session);
        CAboutDlg about(session);
        for (const kvx::ui::Dialog* d : std::initializer_list<const kvx::ui::Dialog*>{
                 &login, &success, &hint, &change, &about}) {
            CheckDialog(module, d->Spec());
        }
        CheckIcon(module, kMainIcon);
        CheckIcon(module, kHintIcon);
    } else if (app == "keywiper") {
        using namespace kvx::keywiper;
        kvx::keywiper::Session session(host, view, KeywiperStrings());
        CheckStrings(module, KeywiperStrings());
        CKEYWIPERDlg mainDialog(session);
        CResetPasDlg reset(session);
        CAboutDlg about(session);
        for (const kvx::ui::Dialog* d :
             std::initializer_list<const kvx::ui::Dialog*>{&mainDialog, &reset, &about}) {
            CheckDialog(module, d->Spec());
        }
        CheckIcon(module, kMainIcon);
    } else {
        std::fprintf(stderr, "unknown program %s\n", app.c_str());
        return 2;
    }
    FreeLibrary(module);
    if (failures == 0) {
        std::printf("%s: strings, dialogs and icons match the presenters\n", argv[2]);
    }
    return failures == 0 ? 0 : 1;
}
