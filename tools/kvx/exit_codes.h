// The exit codes of kvx, for scripts.
#pragma once

namespace kvx::cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitLibraryError = 1,   // an export failed; its code and text are on stderr
    kExitUsage = 2,          // a wrong command line or input, or a refused confirmation
    kExitWrongPassword = 3,  // the device refused the password
    kExitNoDevice = 4,       // no device found, or none at the letter asked for
};

}  // namespace kvx::cli
