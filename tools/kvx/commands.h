// The kvx commands: each one's options on the command line and what it does with the session.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/kvx/session.h"

namespace kvx::cli {

struct Command {
    CLI::App* app = nullptr;
    std::function<void(Session&)> run;
};

// Adds every command to `app`; the returned commands keep the option values they parse into.
std::vector<Command> AddCommands(CLI::App& app, GlobalOptions& globals);

}  // namespace kvx::cli
