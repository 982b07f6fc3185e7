// Emulated machines for tests: a temporary machine directory with devices, the sim host over it
// as the active host for a scope, and running the test program or kvxsim as a second process.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"
#include "sim/bridge/bridge.h"
#include "sim/bridge/bridge_state.h"
#include "sim/machine.h"
#include "support/test_host.h"

namespace kvx::test {

// A machine directory under the test scratch area, removed on destruction.
class SimMachine {
  public:
    SimMachine();

    // Adds a device with the default state of `media` and `sizeMb`, adjusted by `change`;
    // returns its number.
    unsigned AddDevice(const std::function<void(sim::BridgeState&)>& change = {},
                       sim::Media media = sim::Media::kHdd, std::uint64_t sizeMb = 64);

    // Changes the machine's settings (version, administrator, own drives).
    void SetMachine(const std::function<void(sim::MachineConfig&)>& change);

    const std::filesystem::path& dir() const { return scratch_.path(); }
    // The directory as KVX_SIM holds it.
    std::string DirText() const;
    sim::DevicePaths Device(unsigned number = 0) const;
    std::unique_ptr<sim::Bridge> MakeBridge(unsigned number = 0) const;
    sim::BridgeState State(unsigned number = 0) const;
    void Update(const std::function<void(sim::BridgeState&)>& change, unsigned number = 0) const;
    std::vector<sim::LogEntry> Log(std::size_t from = 0, unsigned number = 0) const;
    std::size_t LogSize(unsigned number = 0) const;

    // A sim host over this machine; `platform` serves what is not the machine's.
    std::unique_ptr<Host> MakeHost(Host& platform) const;

  private:
    ScratchDir scratch_;
};

// The sim host over a machine as ActiveHost() for the scope.
class ScopedSimHost {
  public:
    explicit ScopedSimHost(const SimMachine& machine, Host& platform = PlatformHost());
    Host& host() { return *host_; }

  private:
    std::unique_ptr<Host> host_;
    ScopedHostOverride override_;
};

// Sets (or with nullopt removes) an environment variable for the scope; children inherit it.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> previous_;
};

// Runs a program to its end and returns its exit code (-1 when it could not run); stdout and
// stderr together land in `output` when given, with "\n" line ends.
int RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
               std::string* output = nullptr);

// This test program's own file.
std::filesystem::path TestProgram();
// The kvxsim program of the same build.
std::filesystem::path KvxsimProgram();

}  // namespace kvx::test
