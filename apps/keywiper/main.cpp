// Keywiper in a terminal: the reset application with its dialogs drawn as text and a live
// progress bar while the device is formatted. It finds the device through the host (KVX_SIM
// names an emulated machine) and loads the device library beside its own file, as on Windows.
// It takes no arguments.
#include "apps/keywiper/KEYWIPER.h"
#include "apps/keywiper/keywiper_strings.h"
#include "apps/keywiper/progress_targets.h"
#include "common/console.h"
#include "common/module_loader.h"
#include "common/terminal_view.h"
#include "host/host.h"

int main() {
    using namespace kvx;
    const auto console = ui::MakeStdioConsole();
    Host& host = ActiveHost();
    ui::ResourceStrings strings(keywiper::KeywiperStrings());
    ui::TerminalView view(*console, host, strings);
    ui::NativeModuleLoader loader(PlatformHost().ModuleFileName());
    keywiper::CKEYWIPERApp app(host, view, loader, strings);
    // While the device is formatted, each progress report gives the view one pass: it draws the
    // moved bar and takes the keys typed meanwhile, which reach nothing else.
    app.session().pump = keywiper::EventPassPump(view);
    const int code = keywiper::ExitCode(app.Run());
    if (host.PassThroughPrivilegeMissing()) {
        console->Write(ui::kPrivilegeNotice);
    }
    return code;
}
