// kvxsim, in process and as a program, and two programs one after the other on one device.
#include "tools/kvxsim/kvxsim_cli.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "host/text.h"
#include "support/sim_machine.h"
#include "tests/sim/sim_test_util.h"

namespace kvx::test {
namespace {

TEST(Kvxsim, CreateThenInfoShowsTheDevice) {
    ScratchDir scratch;
    const std::string dir = ToUtf8((scratch.path() / "m").u16string());
    const CliResult made =
        Cli({"create",       dir,      "--media",  "flash",  "--size-mb",   "96",
             "--bus",        "atapi",  "--vendor", "ACME",   "--product",   "CD PART",
             "--vid",        "0x1a2b", "--pid",    "0x3C4D", "--chip",      "D3F5",
             "--aes-engine", "yes",    "--wrap",   "aes",    "--protected", "yes"});
    ASSERT_EQ(made.code, 0) << made.err;
    EXPECT_EQ(made.out, "device: 0\n");
    const CliResult info = Cli({"info", dir});
    ASSERT_EQ(info.code, 0) << info.err;
    const auto kv = KeyValues(info.out);
    const std::map<std::string, std::string> expected = {
        {"device", "0"},          {"media", "flash"},    {"sectors", "196608"},
        {"size_mb", "96"},        {"bus", "atapi"},      {"vendor", "ACME"},
        {"product", "CD PART"},   {"vid", "0x1a2b"},     {"pid", "0x3c4d"},
        {"chip", "D3F5"},         {"aes_engine", "yes"}, {"wrap", "aes"},
        {"password_set", "yes"},  {"secure_open", "no"}, {"cd_letter", "E"},
        {"sec_letter", "F"},      {"plugged", "yes"},    {"secure_letter_shown", "no"},
        {"commands_logged", "0"},
    };
    for (const auto& [key, value] : expected) {
        EXPECT_EQ(kv.count(key) ? kv.at(key) : "(missing)", value) << key;
    }
    // The image is as big as asked.
    EXPECT_EQ(std::filesystem::file_size(sim::MachinePath(dir) / "devices" / "0" / "medium.img"),
              96u << 20);
    // A second device gets the next number and letters.
    const CliResult second = Cli({"create", dir});
    EXPECT_EQ(second.out, "device: 1\n");
    EXPECT_EQ(KeyValues(Cli({"info", dir, "--device", "1"}).out).at("cd_letter"), "G");
    EXPECT_EQ(Cli({"create", dir, "--device", "0"}).code, 1);  // already there
}

TEST(Kvxsim, WrongCommandLinesAreRefused) {
    ScratchDir scratch;
    const std::string dir = ToUtf8((scratch.path() / "m").u16string());
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate", dir},
        {"create"},
        {"create", dir, "--media", "tape"},
        {"create", dir, "--size-mb", "ten"},
        {"create", dir, "--vid"},
        {"create", dir, "--colour", "blue"},
        {"create", dir, "--cd-letter", "e"},
        {"fault", dir},
        {"fault", dir, "explode"},
        {"fault", dir, "fail", "sub:zz"},
        {"fault", dir, "fail", "--sense", "1/2"},
        {"machine", dir, "--admin", "perhaps"},
        {"machine", dir, "--drive", "D:floppy"},
    };
    for (const auto& args : bad) {
        const CliResult r = Cli(args);
        EXPECT_EQ(r.code, 2) << (args.empty() ? "" : args[0]);
        EXPECT_NE(r.err.find("usage:"), std::string::npos);
    }
    EXPECT_EQ(Cli({"create", dir, "--chip", "TOOLONG"}).code, 1);  // the device checks it
    EXPECT_EQ(Cli({"info", dir}).code, 1);                         // no device
}

TEST(Kvxsim, FaultReplugAndLogAct) {
    SimMachine machine;
    machine.AddDevice([](sim::BridgeState& s) { s.passwordSet = true; });
    const std::string dir = machine.DirText();
    auto bridge = machine.MakeBridge();
    EXPECT_EQ(Cli({"fault", dir, "fail", "sub:80", "--count", "1", "--sense", "02/04/00"}).code, 0);
    EXPECT_EQ(Exec(*bridge, sim::Unit::kCd, Vendor(0x80), DataDirection::kIn, 4).sense(),
              (std::array<std::uint8_t, 3>{2, 4, 0}));
    EXPECT_TRUE(Exec(*bridge, sim::Unit::kCd, Vendor(0x80), DataDirection::kIn, 4).good());

    EXPECT_EQ(Cli({"replug", dir}).code, 0);
    EXPECT_FALSE(machine.State().secureOpen);
    EXPECT_EQ(Exec(*bridge, sim::Unit::kCd, Vendor(0x80), DataDirection::kIn, 4).sense()[0], 0x06);

    EXPECT_EQ(Cli({"unplug", dir}).code, 0);
    EXPECT_FALSE(
        Exec(*bridge, sim::Unit::kCd, Inquiry(36), DataDirection::kIn, 36).reply.delivered);

    const CliResult log = Cli({"log", dir, "--from", "1"});
    ASSERT_EQ(log.code, 0);
    EXPECT_EQ(log.out,
              "1 cd scsi 20800000000000000000 in 4 0 00/00/00 4\n"
              "2 cd scsi 20800000000000000000 in 4 2 06/29/00 0 unit attention\n");
    EXPECT_EQ(Cli({"log", dir, "--clear"}).code, 0);
    EXPECT_EQ(machine.LogSize(), 0u);

    EXPECT_EQ(Cli({"fault", dir, "short", "op:12", "--value", "5"}).code, 0);
    EXPECT_EQ(Cli({"fault", dir, "clear"}).code, 0);
    EXPECT_TRUE(machine.State().faults.empty());
}

TEST(Kvxsim, MachineSettings) {
    SimMachine machine;
    const std::string dir = machine.DirText();
    const CliResult r = Cli({"machine", dir, "--admin", "no", "--windows", "6.1.7601", "--drive",
                             "C:fixed", "--drive", "D:cdrom"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("windows: 6.1.7601\n"), std::string::npos);
    EXPECT_NE(r.out.find("drive: D cdrom\n"), std::string::npos);
    auto host = machine.MakeHost(PlatformHost());
    EXPECT_EQ(host->GetVersion(true).build, 7601u);
    EXPECT_EQ(host->GetDriveType(u'D'), kDriveCdRom);
    EXPECT_EQ(host->Open(u"\\\\.\\C:", kAccessRead, kShareRead).osError, kErrorAccessDenied);
}

TEST(KvxsimProgram, CreateInfoLogAsSeparatePrograms) {
    ScratchDir scratch;
    const std::string dir = ToUtf8((scratch.path() / "m").u16string());
    std::string output;
    ASSERT_EQ(RunProgram(KvxsimProgram(), {"create", dir, "--vendor", "PROGRAM", "--size-mb", "32"},
                         &output),
              0)
        << output;
    ASSERT_EQ(RunProgram(KvxsimProgram(), {"info", dir}, &output), 0) << output;
    EXPECT_EQ(KeyValues(output).at("vendor"), "PROGRAM");
    EXPECT_EQ(KeyValues(output).at("size_mb"), "32");

    // This process sends a command; the program's log shows it.
    sim::Bridge bridge(sim::DeviceDirectory(sim::MachinePath(dir), 0));
    ASSERT_TRUE(Exec(bridge, sim::Unit::kCd, Inquiry(36), DataDirection::kIn, 36).good());
    ASSERT_EQ(RunProgram(KvxsimProgram(), {"log", dir}, &output), 0) << output;
    EXPECT_EQ(output, "0 cd scsi 12000000240000000000 in 36 0 00/00/00 36\n");

    // A replug by the program is seen here.
    ASSERT_EQ(RunProgram(KvxsimProgram(), {"replug", dir}, &output), 0) << output;
    EXPECT_EQ(Exec(bridge, sim::Unit::kCd, {0, 0, 0, 0, 0, 0}, DataDirection::kNone, 0).sense()[0],
              0x06);
    EXPECT_EQ(RunProgram(KvxsimProgram(), {"nonsense"}, &output), 2);
}

// --- Two programs one after the other on one device, through the active host ------------------

// Runs only as a child of TwoProgramsSeeOneDevice, which sets these variables.
TEST(SimActiveHost, ChildStep) {
    const char* step = std::getenv("KVX_SIM_CHILD_STEP");
    if (step == nullptr || std::getenv("KVX_SIM") == nullptr) {
        GTEST_SKIP() << "runs as a child process only";
    }
    Host& host = ActiveHost();
    // The emulated device answers INQUIRY on its CD letter.
    const OpenResult cd =
        host.Open(u"\\\\.\\E:", kAccessRead | kAccessWrite, kShareRead | kShareWrite);
    ASSERT_NE(cd.handle, kInvalidHandle);
    std::vector<std::uint8_t> data(58, 0);
    ScsiCommand inquiry;
    const auto cdb = Inquiry(58);
    inquiry.cdb = cdb;
    inquiry.data = data;
    inquiry.direction = DataDirection::kIn;
    const ScsiOutcome out = host.ScsiPassThrough(cd.handle, inquiry);
    ASSERT_TRUE(out.sent);
    ASSERT_EQ(out.scsiStatus, 0);
    EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 15), "TWOPROG");

    const std::vector<std::uint8_t> pattern = Pattern(512, 42);
    ScsiCommand sector;
    std::vector<std::uint8_t> buffer = pattern;
    std::vector<std::uint8_t> cdbBytes;
    if (std::string(step) == "1") {
        // First program: writes a sector and ejects the secure unit.
        cdbBytes = SectorCdb(5000, 1, 0);
        sector.direction = DataDirection::kOut;
        EXPECT_NE(host.LogicalDriveMask() & (1u << ('F' - 'A')), 0u);
    } else {
        // Second program: finds the sector and the secure unit closed.
        cdbBytes = SectorCdb(5000, 1, 1);
        std::fill(buffer.begin(), buffer.end(), 0);
        sector.direction = DataDirection::kIn;
        EXPECT_EQ(host.LogicalDriveMask() & (1u << ('F' - 'A')), 0u);
    }
    sector.cdb = cdbBytes;
    sector.data = buffer;
    const ScsiOutcome io = host.ScsiPassThrough(cd.handle, sector);
    ASSERT_TRUE(io.sent);
    ASSERT_EQ(io.scsiStatus, 0);
    EXPECT_EQ(buffer, pattern);
    if (std::string(step) == "1") {
        const std::vector<std::uint8_t> eject{0x1B, 0, 0, 0, 2, 0};
        ScsiCommand stop;
        stop.cdb = eject;
        const OpenResult sec =
            host.Open(u"\\\\.\\F:", kAccessRead | kAccessWrite, kShareRead | kShareWrite);
        ASSERT_NE(sec.handle, kInvalidHandle);
        EXPECT_EQ(host.ScsiPassThrough(sec.handle, stop).scsiStatus, 0);
        host.Close(sec.handle);
    }
    host.Close(cd.handle);
}

TEST(SimActiveHost, TwoProgramsSeeOneDevice) {
    if (std::getenv("KVX_SIM_CHILD_STEP") != nullptr) {
        GTEST_SKIP() << "not inside a child";
    }
    SimMachine machine;
    machine.AddDevice([](sim::BridgeState& s) { s.vendor = "TWOPROG"; });
    const ScopedEnv sim("KVX_SIM", machine.DirText());
    for (const char* step : {"1", "2"}) {
        const ScopedEnv child("KVX_SIM_CHILD_STEP", std::string(step));
        std::string output;
        const int code =
            RunProgram(TestProgram(), {"--gtest_filter=SimActiveHost.ChildStep"}, &output);
        EXPECT_EQ(code, 0) << output;
        EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
    }
    EXPECT_FALSE(machine.State().secureOpen);
    // Each program's INQUIRY reached the device.
    int inquiries = 0;
    for (const auto& e : machine.Log()) {
        inquiries += !e.cdb.empty() && e.cdb[0] == 0x12 && e.transferred == 58 ? 1 : 0;
    }
    EXPECT_EQ(inquiries, 2);
}

}  // namespace
}  // namespace kvx::test
