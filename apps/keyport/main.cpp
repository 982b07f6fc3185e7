// Keyport in a terminal: the login application with its dialogs drawn as text. It finds the
// device through the host (KVX_SIM names an emulated machine) and loads the device library
// beside its own file, as on Windows.
#include <string>

#include "apps/keyport/keyport_app.h"
#include "apps/keyport/keyport_strings.h"
#include "common/console.h"
#include "common/module_loader.h"
#include "common/terminal_view.h"
#include "host/host.h"
#include "host/text.h"

int main(int argc, char** argv) {
    using namespace kvx;
    // The command-line tail: the words after the program name.
    std::u16string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            commandLine += u' ';
        }
        commandLine += FromUtf8(argv[i]);
    }
    const auto console = ui::MakeStdioConsole();
    Host& host = ActiveHost();
    ui::ResourceStrings strings(keyport::KeyportStrings());
    ui::TerminalView view(*console, host, strings);
    ui::NativeModuleLoader loader(PlatformHost().ModuleFileName());
    keyport::CKEYPORTApp app(host, view, loader, strings);
    const int code = keyport::ExitCode(app.Run(commandLine));
    if (host.PassThroughPrivilegeMissing()) {
        console->Write(ui::kPrivilegeNotice);
    }
    return code;
}
