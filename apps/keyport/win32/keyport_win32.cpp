// Keyport for Windows: the login application with real dialogs. It finds the device through the
// host (KVX_SIM names an emulated machine, as under Wine in the tests) and loads the device
// library and its English resource library from beside its own file.
#include "apps/keyport/keyport_app.h"
#include "apps/keyport/keyport_strings.h"
#include "common/win32/program_win32.h"

int main() {
    using namespace kvx;
    return ui::RunWin32Program<keyport::CKEYPORTApp>(
        keyport::KeyportStrings(),
        [](keyport::CKEYPORTApp& app) { return app.Run(ui::CommandLineTail()); });
}
