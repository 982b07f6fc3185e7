// Keyport's application object: start-up checks, the library binding, the command words, and
// the hidden main frame that drives the interactive login.
#pragma once

#include <string_view>

#include "apps/keyport/session.h"
#include "common/module_loader.h"
#include "common/program_app.h"
#include "common/strings.h"

namespace kvx::keyport {

using ui::ExitCode;
using ui::Outcome;

class CKEYPORTApp final : private ui::ProgramApp {
  public:
    CKEYPORTApp(Host& host, ui::View& view, ui::ModuleLoader& loader, ui::ResourceStrings& strings);

    // Start-up and what follows, up to the end of the program. `commandLine` is the whole
    // command-line tail after the program name.
    Outcome Run(std::u16string_view commandLine);

    Session& session() { return session_; }

  private:
    // A user who may not open the raw volume needs the configuration's permission.
    Outcome OnVolume(const OsVersion& version, ui::VolumeAccess access) override;
    // Without the raw volume only the hub side channel works.
    Outcome OnHubMode() override;
    Outcome Command(std::u16string_view word);
    void SwitchOsg(bool enable);
    bool ReadPasswordStatus();
    void OpenSecure();
    int RunFrame();

    Session session_;
};

}  // namespace kvx::keyport
