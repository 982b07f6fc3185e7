// kvx: the device library's exports from the command line, for scripts and people. See
// `kvx --help` and the README's scripting examples.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>

#include "tools/kvx/commands.h"
#include "tools/kvx/failure.h"
#include "tools/kvx/report.h"
#include "tools/kvx/session.h"
#include "tools/kvx/terminal.h"

namespace {

using namespace kvx::cli;

nlohmann::json ErrorJson(const Failure& failure) {
    nlohmann::json error = {{"exit_code", failure.exitCode()}, {"message", failure.what()}};
    if (const auto& library = failure.library()) {
        error["export"] = failure.exportName();
        error["code"] = library->code;
        error["name"] = library->name;
        error["text"] = library->text;
    }
    return error;
}

int Run(int argc, char** argv) {
    CLI::App app{
        "kvx: drive a password-protected KVX device from the command line.\n"
        "Passwords are never arguments: they are typed without echo, or read one per line from "
        "standard input with --password-stdin.\n"
        "Exit codes: 0 success, 1 library error, 2 usage, 3 wrong password, 4 no device."};
    app.name("kvx");
    app.require_subcommand(1);
    app.fallthrough();
    GlobalOptions globals;
    app.add_option("-d,--device", globals.device,
                   "the device's CD unit letter (default: the first device found)");
    app.add_option("-c,--config", globals.config,
                   "the configuration file (default: the library's file beside the program, "
                   "then the system's kvx/KVX.INI)");
    app.add_option("--log", globals.log, "write the library's diagnostic log to this file");
    app.add_flag("--json", globals.json, "print one JSON object on stdout");
    app.add_flag("-q,--quiet", globals.quiet, "no progress and no notes on stderr");
    app.add_flag("--password-stdin", globals.passwordStdin,
                 "read passwords (and hints) one per line from standard input");
    const std::vector<Command> commands = AddCommands(app, globals);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }
    for (const Command& command : commands) {
        if (!command.app->parsed()) {
            continue;
        }
        Report report(command.app->get_name(), globals.json);
        try {
            Session session(globals, report);
            command.run(session);
            report.PrintSuccess();
            return kExitOk;
        } catch (const Failure& failure) {
            std::fprintf(stderr, "kvx: %s\n", failure.what());
            report.PrintFailure(ErrorJson(failure));
            return failure.exitCode();
        }
    }
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    PrepareConsole();
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kvx: %s\n", e.what());
        return kExitLibraryError;
    }
}
