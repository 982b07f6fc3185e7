// The few terminal services kvx needs, one implementation per platform (posix/, win32/).
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

namespace kvx::cli {

// What ReadInputByte returns once standard input has ended.
inline constexpr int kInputEnded = -1;

bool InputIsTerminal();
bool ErrorIsTerminal();
// The next byte of standard input, unbuffered, so that nothing read stays in a library's buffer.
int ReadInputByte();

// Input typed on the terminal is not echoed while this lives.
class ScopedNoEcho {
  public:
    ScopedNoEcho();
    ~ScopedNoEcho();
    ScopedNoEcho(const ScopedNoEcho&) = delete;
    ScopedNoEcho& operator=(const ScopedNoEcho&) = delete;

  private:
    bool active_ = false;
    unsigned long saved_ = 0;
};

// Configuration files looked for when the library finds none beside the program, in order.
std::vector<std::filesystem::path> SystemConfigCandidates();

// Prepares the console for UTF-8 text where that is a setting.
void PrepareConsole();

}  // namespace kvx::cli
