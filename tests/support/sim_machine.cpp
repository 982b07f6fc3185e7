#include "support/sim_machine.h"

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "sim/host/sim_host.h"
#include "host/text.h"
#include "sim/bridge/command_log.h"
#include "sim/bridge/device_dir.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace kvx::test {
namespace {

#ifdef _WIN32
constexpr char kProgramSuffix[] = ".exe";

void SetEnvironment(const std::string& name, const std::optional<std::string>& value) {
    _putenv_s(name.c_str(), value ? value->c_str() : "");
}

// cmd.exe strips the outermost pair of quotes of a /c line, so the whole line gets one more.
std::string ShellLine(const std::string& line) {
    return "\"" + line + "\"";
}

int ExitCode(int status) {
    return status;
}
#else
constexpr char kProgramSuffix[] = "";

void SetEnvironment(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
        setenv(name.c_str(), value->c_str(), 1);
    } else {
        unsetenv(name.c_str());
    }
}

std::string ShellLine(const std::string& line) {
    return line;
}

int ExitCode(int status) {
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string PathText(const std::filesystem::path& path) {
    return ToUtf8(path.u16string());
}

}  // namespace

SimMachine::SimMachine() {
    if (!sim::SaveMachine(dir(), sim::MachineConfig{})) {
        throw std::runtime_error("cannot write the machine file");
    }
}

unsigned SimMachine::AddDevice(const std::function<void(sim::BridgeState&)>& change,
                               sim::Media media, std::uint64_t sizeMb) {
    sim::BridgeState state = sim::DefaultState(media, sizeMb * 2048);
    const unsigned number = static_cast<unsigned>(sim::DeviceNumbers(dir()).size());
    state.cdLetter = static_cast<char>('E' + 2 * number);
    state.secLetter = static_cast<char>('F' + 2 * number);
    if (change) {
        change(state);
    }
    std::string error;
    const auto made = sim::CreateDevice(dir(), state, number, &error);
    if (!made) {
        throw std::runtime_error("cannot create the device: " + error);
    }
    return *made;
}

void SimMachine::SetMachine(const std::function<void(sim::MachineConfig&)>& change) {
    auto config = sim::LoadMachine(dir()).value_or(sim::MachineConfig{});
    change(config);
    if (!sim::SaveMachine(dir(), config)) {
        throw std::runtime_error("cannot write the machine file");
    }
}

std::string SimMachine::DirText() const {
    return PathText(dir());
}

sim::DevicePaths SimMachine::Device(unsigned number) const {
    return sim::DevicePaths(sim::DeviceDirectory(dir(), number));
}

std::unique_ptr<sim::Bridge> SimMachine::MakeBridge(unsigned number) const {
    return std::make_unique<sim::Bridge>(sim::DeviceDirectory(dir(), number));
}

sim::BridgeState SimMachine::State(unsigned number) const {
    std::string error;
    const auto state = sim::LoadDeviceState(Device(number), &error);
    if (!state) {
        throw std::runtime_error("cannot read the device state: " + error);
    }
    return *state;
}

void SimMachine::Update(const std::function<void(sim::BridgeState&)>& change,
                        unsigned number) const {
    std::string error;
    if (!sim::UpdateDeviceState(Device(number), change, &error)) {
        throw std::runtime_error("cannot change the device state: " + error);
    }
}

std::vector<sim::LogEntry> SimMachine::Log(std::size_t from, unsigned number) const {
    return sim::ReadCommandLog(Device(number).log, from);
}

std::size_t SimMachine::LogSize(unsigned number) const {
    return sim::CommandLogSize(Device(number).log);
}

std::unique_ptr<Host> SimMachine::MakeHost(Host& platform) const {
    return MakeSimHost(platform, DirText());
}

ScopedSimHost::ScopedSimHost(const SimMachine& machine, Host& platform)
    : host_(machine.MakeHost(platform)), override_(*host_) {}

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) {
        previous_ = old;
    }
    SetEnvironment(name_, value);
}

ScopedEnv::~ScopedEnv() {
    SetEnvironment(name_, previous_);
}

int RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
               std::string* output) {
    static std::atomic<unsigned> counter{0};
    const ScratchDir scratch;
    const std::filesystem::path capture =
        scratch.path() / ("out" + std::to_string(counter++) + ".txt");
    std::string line = Quoted(PathText(program));
    for (const auto& a : args) {
        line += " " + Quoted(a);
    }
    line += " > " + Quoted(PathText(capture)) + " 2>&1";
    const int code = ExitCode(std::system(ShellLine(line).c_str()));
    if (output != nullptr) {
        // Windows programs end their lines with CR LF; tests compare plain "\n" lines.
        *output = ReadTextFile(capture);
        std::erase(*output, '\r');
    }
    return code;
}

std::filesystem::path TestProgram() {
    return std::filesystem::path(PlatformHost().ModuleFileName());
}

std::filesystem::path KvxsimProgram() {
    // build/tests/kvx_tests and build/tools/kvxsim/kvxsim
    return TestProgram().parent_path().parent_path() / "tools" / "kvxsim" /
           (std::string("kvxsim") + kProgramSuffix);
}

}  // namespace kvx::test
