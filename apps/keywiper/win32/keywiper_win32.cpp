// Keywiper for Windows: the reset application with real dialogs. It finds the device through the
// host (KVX_SIM names an emulated machine, as under Wine in the tests) and loads the device
// library and its English resource library from beside its own file. While the device is
// formatted, the library moves the dialog's progress bar and handles its pending messages itself.
#include "apps/keywiper/KEYWIPER.h"
#include "apps/keywiper/keywiper_strings.h"
#include "common/module_loader.h"
#include "common/win32/view_win32.h"
#include "host/host.h"

int main() {
    using namespace kvx;
    Host& host = ActiveHost();
    ui::ResourceStrings strings(keywiper::KeywiperStrings());
    ui::Win32View view(strings, host);
    ui::NativeModuleLoader loader(PlatformHost().ModuleFileName());
    keywiper::CKEYWIPERApp app(host, view, loader, strings);
    return keywiper::ExitCode(app.Run());
}
