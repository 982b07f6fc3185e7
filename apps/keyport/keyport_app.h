// Keyport's application object: start-up checks, the library binding, the command words, and
// the hidden main frame that drives the interactive login.
#pragma once

#include <string_view>

#include "apps/keyport/session.h"
#include "common/instance_marker.h"
#include "common/module_loader.h"
#include "common/strings.h"

namespace kvx::keyport {

enum class Outcome {
    kDone,            // a command word ran, or the main frame ran and closed
    kEndedSilently,   // another instance, no marker, access denied, not on the device's drive
    kFailed,          // start-up failed after its message
    kSiblingRunning,  // a sibling program holds its marker
    kNoCommand,       // the command line was not one of the command words
};

class CKEYPORTApp {
  public:
    // `strings` is the program's string source; start-up may switch it to the English resource
    // library. The loader keeps the libraries until the program ends.
    CKEYPORTApp(Host& host, ui::View& view, ui::ModuleLoader& loader, ui::ResourceStrings& strings);

    // Start-up and what follows, up to the end of the program. `commandLine` is the whole
    // command-line tail after the program name.
    Outcome Run(std::u16string_view commandLine);

    Session& session() { return session_; }

  private:
    Outcome StartUp();
    Outcome Command(std::u16string_view word);
    void SwitchOsg(bool enable);
    bool ReadPasswordStatus();
    void OpenSecure();
    int RunFrame();

    Host& host_;
    ui::View& view_;
    ui::ModuleLoader& loader_;
    ui::ResourceStrings& strings_;
    ui::InstanceMarkers markers_;
    Session session_;
};

// The exit code of the program for an outcome.
int ExitCode(Outcome outcome);

}  // namespace kvx::keyport
