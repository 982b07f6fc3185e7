// Keywiper's application object: start-up checks, the library binding and the main dialog.
#pragma once

#include "apps/keywiper/session.h"
#include "common/module_loader.h"
#include "common/program_app.h"
#include "common/strings.h"

namespace kvx::keywiper {

using ui::ExitCode;
using ui::Outcome;

class CKEYWIPERApp final : private ui::ProgramApp {
  public:
    CKEYWIPERApp(Host& host, ui::View& view, ui::ModuleLoader& loader,
                 ui::ResourceStrings& strings);

    // Start-up and the main dialog, up to the end of the program.
    Outcome Run();

    Session& session() { return session_; }

  private:
    // The shared start-up, then the device's password state.
    Outcome StartUp();
    // A reset needs the raw volume: only an administrator may run it.
    Outcome OnVolume(const OsVersion& version, ui::VolumeAccess access) override;
    Outcome OnHubMode() override;

    Session session_;
};

}  // namespace kvx::keywiper
