// The start-up both applications run before their own work: the English resource library, the
// instance markers, the configuration file, the raw volume, the device library and the device's
// CD drive. The steps where the programs differ are theirs to decide.
#pragma once

#include <array>
#include <string_view>

#include "common/instance_marker.h"
#include "common/module_loader.h"
#include "common/program_session.h"
#include "common/strings.h"

namespace kvx::ui {

// How a run of a program ends; a program has only the outcomes it can reach.
enum class Outcome {
    kDone,            // the program did its work (a command word, or its window ran and closed)
    kEndedSilently,   // another instance, no marker, no volume access, not on the device's drive
    kFailed,          // start-up failed after its message
    kSiblingRunning,  // a sibling program holds its marker
    kRefused,         // not allowed on this machine or device (after a message)
    kNoCommand,       // the command line was not one of the command words
};

// The exit code of the program for an outcome.
int ExitCode(Outcome outcome);

// What the programs' start-ups differ in besides their own steps.
struct StartUpPlan {
    std::u16string_view resources;                // the English resource library's suffix
    std::array<std::u16string_view, 2> siblings;  // the programs that may not run meanwhile
    StringId siblingRunning = 0;
    StringId noConfig = 0;
    StringId deviceNotFound = 0;
};

// What opening the program's raw volume showed.
enum class VolumeAccess {
    kNotTried,  // not an NT system (or its version is unknown)
    kOpened,
    kDenied,
    kFailed,  // any other error
};

// The part of an application object both programs share.
class ProgramApp {
  public:
    ProgramApp(const ProgramApp&) = delete;
    ProgramApp& operator=(const ProgramApp&) = delete;

  protected:
    // `strings` is the program's string source; start-up may switch it to the English resource
    // library. The loader keeps the libraries until the program ends.
    ProgramApp(Host& host, View& view, ModuleLoader& loader, ResourceStrings& strings,
               const StartUpPlan& plan);
    virtual ~ProgramApp() = default;

    // The shared start-up; kDone when the program may go on.
    Outcome StartUp(ProgramSession& s);
    // What the program makes of its access to the raw volume.
    virtual Outcome OnVolume(const OsVersion& version, VolumeAccess access) = 0;
    // What the program makes of a library that reaches the device through the hub only.
    virtual Outcome OnHubMode() = 0;

    Host& host_;
    View& view_;
    ModuleLoader& loader_;
    ResourceStrings& strings_;
    InstanceMarkers markers_;

  private:
    StartUpPlan plan_;
};

}  // namespace kvx::ui
