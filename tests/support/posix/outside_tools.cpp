#ifndef _WIN32
#include "support/outside_tools.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace kvx::test {

int Shell(const std::string& line, std::string* output) {
    const std::string full = "PATH=\"$PATH:/usr/sbin:/sbin\"; (" + line + ") 2>&1";
    FILE* pipe = popen(full.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    std::array<char, 4096> buffer;
    std::string text;
    while (const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe)) {
        text.append(buffer.data(), n);
    }
    const int status = pclose(pipe);
    if (output != nullptr) {
        *output = text;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ToolPath(const std::filesystem::path& path) {
    return path.string();
}

}  // namespace kvx::test
#endif  // _WIN32
