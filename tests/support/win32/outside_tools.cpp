#ifdef _WIN32
// Under Wine a Windows program can start a Unix program: CreateProcess of a file that is not a
// Windows executable makes Wine execute it as a Unix process. Wine hands such a process neither
// the pipes of the caller nor a handle to wait on, so the command runs inside a small script
// that writes its output and, last, its exit code to files of a private folder.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "support/outside_tools.h"
#include "support/test_host.h"

namespace kvx::test {
namespace {

// The search path of the Unix process: Wine gives it the Windows one.
constexpr char kUnixSearchPath[] = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
constexpr char kUnixShell[] = "/bin/sh";
constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr auto kLongestStart = std::chrono::seconds(30);
constexpr auto kLongestRun = std::chrono::minutes(5);

// Wine's own path conversions (kernel32 exports of Wine only; the results are heap blocks).
using UnixFileNameFn = char*(CDECL*)(const wchar_t* dosName);
using DosFileNameFn = wchar_t*(CDECL*)(const char* unixName);

template <class Fn>
Fn WineExport(const char* name) {
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, name)));
}

std::optional<std::string> UnixName(const std::filesystem::path& path) {
    const auto convert = WineExport<UnixFileNameFn>("wine_get_unix_file_name");
    if (convert == nullptr) {
        return std::nullopt;
    }
    char* name = convert(std::filesystem::absolute(path).wstring().c_str());
    if (name == nullptr) {
        return std::nullopt;
    }
    std::string result(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

std::optional<std::wstring> DosName(const char* unixName) {
    const auto convert = WineExport<DosFileNameFn>("wine_get_dos_file_name");
    if (convert == nullptr) {
        return std::nullopt;
    }
    wchar_t* name = convert(unixName);
    if (name == nullptr) {
        return std::nullopt;
    }
    std::wstring result(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

std::wstring Widen(const std::string& utf8) {
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(n, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

// Waits for `file` to exist.
bool AppearsWithin(const std::filesystem::path& file, std::chrono::steady_clock::duration limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!std::filesystem::exists(file)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

}  // namespace

int Shell(const std::string& line, std::string* output) {
    const std::optional<std::wstring> shell = DosName(kUnixShell);
    ScratchDir dir;
    const std::optional<std::string> unixDir = UnixName(dir.path());
    if (!shell || !unixDir) {
        return -1;
    }
    const std::string out = *unixDir + "/out";
    const std::string started = *unixDir + "/started";
    const std::string code = *unixDir + "/code";
    const std::string script = *unixDir + "/run.sh";
    {
        std::ofstream file(dir.path() / "run.sh", std::ios::binary);
        file << ": >'" << started << "'\nPATH=" << kUnixSearchPath << "\n(\n"
             << line << "\n) >'" << out << "' 2>&1 </dev/null\n"
             << "echo $? >'" << code << ".part' && mv '" << code << ".part' '" << code << "'\n";
        if (!file) {
            return -1;
        }
    }
    // Wine splits the command line into the Unix arguments by the Windows rules: double quotes.
    std::wstring commandLine = Widen(std::string(kUnixShell) + " \"" + script + "\"");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(shell->c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        return -1;
    }
    if (process.hProcess != nullptr) {  // a Windows process after all: not the Unix shell
        TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return -1;
    }
    const auto codeFile = dir.path() / "code";
    if (!AppearsWithin(dir.path() / "started", kLongestStart) ||
        !AppearsWithin(codeFile, kLongestRun)) {
        return -1;
    }
    if (output != nullptr) {
        *output = ReadTextFile(dir.path() / "out");
    }
    int status = -1;
    std::istringstream(ReadTextFile(codeFile)) >> status;
    return status;
}

std::string ToolPath(const std::filesystem::path& path) {
    return UnixName(path).value_or(path.string());
}

}  // namespace kvx::test
#endif  // _WIN32
