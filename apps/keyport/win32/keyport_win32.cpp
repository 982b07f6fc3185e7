// Keyport for Windows: the login application with real dialogs. It finds the device through the
// host (KVX_SIM names an emulated machine, as under Wine in the tests) and loads the device
// library and its English resource library from beside its own file.
#include "apps/keyport/keyport_app.h"
#include "apps/keyport/keyport_strings.h"
#include "common/module_loader.h"
#include "common/win32/view_win32.h"
#include "host/host.h"

int main() {
    using namespace kvx;
    Host& host = ActiveHost();
    ui::ResourceStrings strings(keyport::KeyportStrings());
    ui::Win32View view(strings, host);
    ui::NativeModuleLoader loader(PlatformHost().ModuleFileName());
    keyport::CKEYPORTApp app(host, view, loader, strings);
    return keyport::ExitCode(app.Run(ui::CommandLineTail()));
}
