// Library tests against an emulated machine: the sim host over a fresh machine as the active host,
// a program file in a scratch directory with its configuration file beside it, a clean library
// state before and after each test, and readers for what the device received.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame/device_state.h"
#include "frame/qda.h"
#include "sim/bridge/command_log.h"
#include "support/sim_machine.h"
#include "support/test_host.h"

namespace kvx::test {

// The [VENDOR] section that names the emulated device's default identity (index 0).
std::string DefaultVendorConfig(const std::string& extraLines = {});

// The letters of a request's CD or secure-unit list, in order.
std::string Letters(const std::uint8_t (&list)[12]);

class SimLibraryTest : public ::testing::Test {
  protected:
    SimLibraryTest();
    void SetUp() override;
    void TearDown() override;

    // Writes the configuration file the library reads (prefix "ACME" of the program ACMELCK.EXE).
    void WriteConfig(const std::string& text);
    // A zeroed request for a drive letter, with the diagnostic log switched on when asked.
    QdaRequest Request(char letter = 'E', bool withLog = false);
    // The diagnostic log's text.
    std::string LogText() const;
    // The commands a device received from log index `from` on.
    std::vector<sim::LogEntry> Commands(std::size_t from = 0, unsigned device = 0) const {
        return machine.Log(from, device);
    }

    SimMachine machine;
    ScratchDir programDir;
    TestHost platform;
    std::unique_ptr<ScopedSimHost> sim;
};

// The 16-byte block of a 0x22/0x24 pair deciphered under `key`.
std::array<std::uint8_t, 16> DecipherHalves(const sim::LogEntry& first, const sim::LogEntry& second,
                                            const std::uint8_t key[16]);

// Bytes 1..9 of a scrambled command unscrambled under `key`, byte 0 as 0x20.
std::array<std::uint8_t, 10> Unscramble(const sim::LogEntry& command, std::uint8_t key);

// The entries that came through one path ("scsi", "hub", "ctl", "vol").
std::vector<sim::LogEntry> Via(const std::vector<sim::LogEntry>& entries, const std::string& via);

// The opcodes of log entries, for a compact comparison.
std::vector<std::uint8_t> Opcodes(const std::vector<sim::LogEntry>& entries);

// A 10-byte vendor CDB in a 16-byte block.
std::array<std::uint8_t, 16> VendorBlock(std::uint8_t sub, std::array<std::uint8_t, 8> rest = {});

}  // namespace kvx::test
