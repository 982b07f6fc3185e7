#include <io.h>
#include <windows.h>

#include <cstdio>

#include "tools/kvx/terminal.h"

namespace kvx::cli {
namespace {

bool IsConsole(DWORD which) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

}  // namespace

bool InputIsTerminal() {
    return IsConsole(STD_INPUT_HANDLE);
}

bool ErrorIsTerminal() {
    return IsConsole(STD_ERROR_HANDLE);
}

int ReadInputByte() {
    unsigned char c = 0;
    return _read(0, &c, 1) == 1 ? c : kInputEnded;
}

ScopedNoEcho::ScopedNoEcho() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode) != 0) {
        saved_ = mode;
        active_ = SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
    }
}

ScopedNoEcho::~ScopedNoEcho() {
    if (active_) {
        SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), static_cast<DWORD>(saved_));
    }
}

std::vector<std::filesystem::path> SystemConfigCandidates() {
    // Windows programs keep their configuration beside them only.
    return {};
}

void PrepareConsole() {
    SetConsoleCP(CP_UTF8);
    SetConsoleOutputCP(CP_UTF8);
}

}  // namespace kvx::cli
