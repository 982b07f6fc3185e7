#include "support/sim_library.h"

#include <cstring>
#include <fstream>
#include <type_traits>

#include "crypto/aes_reversed.h"
#include "crypto/byte_scramble.h"
#include "host/text.h"

namespace kvx::test {

std::string Letters(const std::uint8_t (&list)[12]) {
    std::string text;
    for (std::uint8_t l : list) {
        if (l != 0) {
            text.push_back(static_cast<char>(l));
        }
    }
    return text;
}

std::string DefaultVendorConfig(const std::string& extraLines) {
    return "[VENDOR]\n"
           "VENDORSTR0=KVXSIM\n"
           "PRODUCTSTR0=VIRTUAL CD\n"
           "SECVENDORSTR0=KVXSIM\n"
           "SECPRODUCTSTR0=VIRTUAL DISK\n"
           "VID0=0x1209\n"
           "PID0=0x0001\n" +
           extraLines;
}

SimLibraryTest::SimLibraryTest() {
    platform.moduleFileName = programDir.File("ACMELCK.EXE");
    sim = std::make_unique<ScopedSimHost>(machine, platform);
}

void SimLibraryTest::SetUp() {
    ResetDeviceState();
}

void SimLibraryTest::TearDown() {
    ResetDeviceState();
}

void SimLibraryTest::WriteConfig(const std::string& text) {
    std::ofstream(programDir.path() / "ACMEKVX.INI", std::ios::binary | std::ios::trunc) << text;
}

QdaRequest SimLibraryTest::Request(char letter, bool withLog) {
    QdaRequest request;
    std::memset(&request, 0, sizeof request);
    request.driveLetter = static_cast<std::uint8_t>(letter);
    if (withLog) {
        WriteFixedUtf16(programDir.File("trace.log"), request.logPath,
                        std::extent_v<decltype(request.logPath)>);
    }
    return request;
}

std::string SimLibraryTest::LogText() const {
    return ReadTextFile(programDir.path() / "trace.log");
}

std::array<std::uint8_t, 16> DecipherHalves(const sim::LogEntry& first, const sim::LogEntry& second,
                                            const std::uint8_t key[16]) {
    std::array<std::uint8_t, 16> block{};
    if (first.cdb.size() != 10 || second.cdb.size() != 10) {
        return block;
    }
    std::memcpy(block.data(), first.cdb.data() + 2, 8);
    std::memcpy(block.data() + 8, second.cdb.data() + 2, 8);
    AesBlockReversed(key, block.data(), kAesDecrypt);
    return block;
}

std::array<std::uint8_t, 10> Unscramble(const sim::LogEntry& command, std::uint8_t key) {
    std::array<std::uint8_t, 10> plain{};
    if (command.cdb.size() != 10) {
        return plain;
    }
    plain[0] = 0x20;
    for (std::size_t i = 1; i < plain.size(); ++i) {
        plain[i] = UnscrambleByte(command.cdb[i], key);
    }
    return plain;
}

std::vector<sim::LogEntry> Via(const std::vector<sim::LogEntry>& entries, const std::string& via) {
    std::vector<sim::LogEntry> out;
    for (const auto& e : entries) {
        if (e.via == via) {
            out.push_back(e);
        }
    }
    return out;
}

std::vector<std::uint8_t> Opcodes(const std::vector<sim::LogEntry>& entries) {
    std::vector<std::uint8_t> ops;
    for (const auto& e : entries) {
        ops.push_back(e.cdb.empty() ? 0 : e.cdb[0]);
    }
    return ops;
}

std::array<std::uint8_t, 16> VendorBlock(std::uint8_t sub, std::array<std::uint8_t, 8> rest) {
    std::array<std::uint8_t, 16> block{};
    block[0] = 0x20;
    block[1] = sub;
    std::copy(rest.begin(), rest.end(), block.begin() + 2);
    return block;
}

}  // namespace kvx::test
