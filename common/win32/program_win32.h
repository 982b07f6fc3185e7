// The main of a Windows program: the host (KVX_SIM names an emulated machine, as under Wine in
// the tests), the program's strings, the Win32 view and the loader of the libraries beside the
// program's own file, then the application object's run and its exit code.
#pragma once

#include "common/module_loader.h"
#include "common/program_app.h"
#include "common/strings.h"
#include "common/win32/view_win32.h"
#include "host/host.h"

namespace kvx::ui {

// `run` takes the application object and returns its outcome.
template <class App, class Run>
int RunWin32Program(const StringSource& builtIn, Run run) {
    Host& host = ActiveHost();
    ResourceStrings strings(builtIn);
    Win32View view(strings, host);
    NativeModuleLoader loader(PlatformHost().ModuleFileName());
    App app(host, view, loader, strings);
    return ExitCode(run(app));
}

}  // namespace kvx::ui
