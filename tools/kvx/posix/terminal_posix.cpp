#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "tools/kvx/terminal.h"

namespace kvx::cli {
namespace {

termios g_saved{};

}  // namespace

bool InputIsTerminal() {
    return isatty(STDIN_FILENO) != 0;
}

bool ErrorIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}

int ReadInputByte() {
    unsigned char c = 0;
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n == 1) {
            return c;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return kInputEnded;
    }
}

ScopedNoEcho::ScopedNoEcho() {
    if (InputIsTerminal() && tcgetattr(STDIN_FILENO, &g_saved) == 0) {
        termios quiet = g_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
}

ScopedNoEcho::~ScopedNoEcho() {
    if (active_) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
    }
}

std::vector<std::filesystem::path> SystemConfigCandidates() {
    // Installed under a prefix, the file lies in PREFIX/etc/kvx; a system install keeps it in
    // /etc/kvx.
    std::vector<std::filesystem::path> candidates;
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        candidates.push_back(self.parent_path().parent_path() / "etc" / "kvx" / "KVX.INI");
    }
    candidates.emplace_back("/etc/kvx/KVX.INI");
    return candidates;
}

void PrepareConsole() {}

}  // namespace kvx::cli
