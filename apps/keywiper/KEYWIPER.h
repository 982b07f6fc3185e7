// Keywiper's application object: start-up checks, the library binding and the main dialog.
#pragma once

#include "apps/keywiper/session.h"
#include "common/instance_marker.h"
#include "common/module_loader.h"
#include "common/strings.h"

namespace kvx::keywiper {

enum class Outcome {
    kDone,            // the main dialog ran and closed
    kEndedSilently,   // another instance, no marker, no volume access, not on the device's drive
    kFailed,          // start-up failed after its message
    kSiblingRunning,  // a sibling program holds its marker
    kRefused,         // no administrator rights, a public device or an open one (after a message)
};

class CKEYWIPERApp {
  public:
    // `strings` is the program's string source; start-up may switch it to the English resource
    // library. The loader keeps the libraries until the program ends.
    CKEYWIPERApp(Host& host, ui::View& view, ui::ModuleLoader& loader,
                 ui::ResourceStrings& strings);

    // Start-up and the main dialog, up to the end of the program.
    Outcome Run();

    Session& session() { return session_; }

  private:
    Outcome StartUp();

    Host& host_;
    ui::View& view_;
    ui::ModuleLoader& loader_;
    ui::ResourceStrings& strings_;
    ui::InstanceMarkers markers_;
    Session session_;
};

// The exit code of the program for an outcome.
int ExitCode(Outcome outcome);

}  // namespace kvx::keywiper
