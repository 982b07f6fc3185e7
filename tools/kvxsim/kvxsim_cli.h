// The device tool's commands (create, info, log, replug, unplug, fault, machine), usable in
// process by tests as well as by the kvxsim program.
#pragma once

#include <ostream>
#include <span>
#include <string>

namespace kvx::sim {

// Runs one kvxsim command line (without the program name). Returns the exit code: 0 done,
// 1 the command failed, 2 the command line is wrong.
int RunKvxsim(std::span<const std::string> args, std::ostream& out, std::ostream& err);

}  // namespace kvx::sim
