// Keywiper for Windows: the reset application with real dialogs. It finds the device through the
// host (KVX_SIM names an emulated machine, as under Wine in the tests) and loads the device
// library and its English resource library from beside its own file. While the device is
// formatted, the library moves the dialog's progress bar and handles its pending messages itself.
#include "apps/keywiper/KEYWIPER.h"
#include "apps/keywiper/keywiper_strings.h"
#include "common/win32/program_win32.h"

int main() {
    using namespace kvx;
    return ui::RunWin32Program<keywiper::CKEYWIPERApp>(
        keywiper::KeywiperStrings(), [](keywiper::CKEYWIPERApp& app) { return app.Run(); });
}
