// The outside tools that judge what the library wrote (fsck.fat, mtools, sfdisk, xorriso,
// binutils). They are Linux programs: a native test runs them directly, a Windows test program
// under Wine starts them as Unix processes through Wine. On a Windows host without Wine none runs.
#pragma once

#include <filesystem>
#include <string>

namespace kvx::test {

// Runs a shell command line (the system directories sbin included in PATH); its exit code, with
// its stdout and stderr in `output`. -1 when no shell can be started.
int Shell(const std::string& line, std::string* output);

// Whether the tool `name` can be run by Shell.
bool HaveTool(const std::string& name);

// `path` as the tools see it: the path itself natively, its Unix file name under Wine.
std::string ToolPath(const std::filesystem::path& path);

}  // namespace kvx::test
