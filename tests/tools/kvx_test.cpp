// kvx end to end: the program against emulated devices made by the kvxsim program. Its JSON is
// read with a JSON parser, the device's state with `kvxsim info` and its plaintext with
// `kvxsim export`, so nothing here leans on kvx's own code.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/outside_tools.h"
#include "support/pty_program.h"
#include "support/sim_machine.h"
#include "support/test_host.h"

namespace kvx::test {
namespace {

constexpr char kPassword[] = "Wolke7Rot";
constexpr char kHint[] = "sky and colour";

struct KvxRun {
    int code = -1;
    std::string out;
    std::string err;
    nlohmann::json Json() const {
        return nlohmann::json::parse(out);  // throws, and so fails the test, on anything else
    }
};

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

// Runs a program with `input` on its standard input and the environment variables `env` added.
KvxRun RunWith(const std::filesystem::path& program, const std::vector<std::string>& args,
               const std::string& input, const std::vector<std::string>& env) {
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) {
        ADD_FAILURE() << "no pipes";
        return {};
    }
    std::vector<std::string> argvText{program.string()};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv = CStrings(argvText);
    std::vector<std::string> envText = env;
    for (char** e = environ; *e != nullptr; ++e) {
        envText.emplace_back(*e);
    }
    std::vector<char*> envp = CStrings(envText);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
            close(fd);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    // Inputs are small: they fit the pipe.
    EXPECT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(in[1]);
    KvxRun r;
    r.out = ReadAll(out[0]);
    r.err = ReadAll(err[0]);
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

std::map<std::string, std::string> KeyValueLines(const std::string& text) {
    std::map<std::string, std::string> kv;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t colon = line.find(": ");
        if (colon != std::string::npos && !kv.count(line.substr(0, colon))) {
            kv[line.substr(0, colon)] = line.substr(colon + 2);
        }
    }
    return kv;
}

std::filesystem::path KvxProgram() {
    return TestProgram().parent_path().parent_path() / "tools" / "kvx" / "kvx";
}

// A machine with one emulated device made by the kvxsim program, and the shipped configuration
// file that names it.
class KvxDevice : public ::testing::Test {
  protected:
    void Make(const std::vector<std::string>& options) {
        std::vector<std::string> args{"create", machine()};
        args.insert(args.end(), options.begin(), options.end());
        std::string output;
        ASSERT_EQ(RunProgram(KvxsimProgram(), args, &output), 0) << output;
        std::filesystem::copy_file(
            std::filesystem::path(KVX_SOURCE_DIR) / "cmake" / "cd-config.ini", config());
    }
    void SetUp() override { Make({"--password", kPassword, "--hint", kHint}); }

    std::string machine() const { return (scratch_.path() / "m").string(); }
    std::string config() const { return (scratch_.path() / "device.ini").string(); }
    std::filesystem::path dir() const { return scratch_.path(); }

    KvxRun Kvx(std::vector<std::string> args, const std::string& input = {}) const {
        args.insert(args.begin(), {"--config", config()});
        return RunWith(KvxProgram(), args, input, {"KVX_SIM=" + machine()});
    }
    std::map<std::string, std::string> Info() const {
        std::string output;
        EXPECT_EQ(RunProgram(KvxsimProgram(), {"info", machine()}, &output), 0) << output;
        return KeyValueLines(output);
    }
    void Replug() const { EXPECT_EQ(RunProgram(KvxsimProgram(), {"replug", machine()}), 0); }
    // Logs in with `password` and says whether the secure partition is open afterwards.
    bool OpensWith(const std::string& password) const {
        Replug();
        const KvxRun r = Kvx({"--password-stdin", "login"}, password + "\n");
        return r.code == 0 && Info()["secure_open"] == "yes";
    }

    ScratchDir scratch_;
};

TEST_F(KvxDevice, StatusAndDevicesAgreeWithTheEmulator) {
    const auto info = Info();
    const KvxRun status = Kvx({"--json", "status"});
    ASSERT_EQ(status.code, 0) << status.err;
    const auto j = status.Json();
    EXPECT_EQ(j["command"], "status");
    EXPECT_EQ(j["device"], info.at("cd_letter"));
    EXPECT_EQ(j["password_protected"], info.at("password_set") == "yes");
    EXPECT_EQ(j["open"], info.at("secure_open") == "yes");
    EXPECT_EQ(j["media"], info.at("media"));
    EXPECT_EQ(std::to_string(j["verify_count"].get<int>()), info.at("verify_count"));

    const KvxRun devices = Kvx({"--json", "devices"});
    ASSERT_EQ(devices.code, 0) << devices.err;
    const auto d = devices.Json();
    ASSERT_EQ(d["devices"].size(), 1u);
    EXPECT_EQ(d["devices"][0]["cd"], info.at("cd_letter"));
    EXPECT_EQ(d["devices"][0]["vendor"], info.at("vendor"));
    EXPECT_EQ(d["devices"][0]["product"], info.at("product"));
    EXPECT_EQ(d["devices"][0]["chip"], info.at("chip"));
    EXPECT_EQ(d["devices"][0]["open"], false);
}

TEST_F(KvxDevice, CapacityAndHintAsJsonAndAsText) {
    const auto info = Info();
    const KvxRun capacity = Kvx({"--json", "capacity"});
    ASSERT_EQ(capacity.code, 0) << capacity.err;
    EXPECT_EQ(std::to_string(capacity.Json()["medium_mb"].get<int>()), info.at("size_mb"));
    const KvxRun hint = Kvx({"--json", "hint"});
    ASSERT_EQ(hint.code, 0) << hint.err;
    EXPECT_EQ(hint.Json()["hint"], kHint);
    const KvxRun text = Kvx({"hint"});
    ASSERT_EQ(text.code, 0) << text.err;
    EXPECT_EQ(KeyValueLines(text.out)["hint"], kHint);
}

TEST_F(KvxDevice, WrongPasswordExitsThreeAndTheRightOneOpens) {
    const int before = std::stoi(Info().at("verify_count"));
    const KvxRun wrong = Kvx({"--json", "--password-stdin", "login"}, "Falsch123\n");
    EXPECT_EQ(wrong.code, 3) << wrong.err;
    const auto j = wrong.Json();
    EXPECT_EQ(j["ok"], false);
    EXPECT_EQ(j["error"]["code"], 25);
    EXPECT_EQ(j["error"]["name"], "kErrPasswordRefused");
    EXPECT_EQ(std::to_string(j["verify_count"].get<int>()), Info().at("verify_count"));
    EXPECT_LT(j["verify_count"].get<int>(), before);
    EXPECT_NE(wrong.err.find("error 25"), std::string::npos) << wrong.err;
    EXPECT_EQ(Info().at("secure_open"), "no");

    const KvxRun right =
        Kvx({"--json", "--password-stdin", "login"}, std::string(kPassword) + "\n");
    ASSERT_EQ(right.code, 0) << right.err;
    EXPECT_EQ(right.Json()["open"], true);
    EXPECT_EQ(Info().at("secure_open"), "yes");

    const KvxRun lock = Kvx({"--json", "lock"});
    ASSERT_EQ(lock.code, 0) << lock.err;
    EXPECT_EQ(Info().at("secure_open"), "no");
}

TEST_F(KvxDevice, BadInputIsAUsageErrorAndTouchesNothing) {
    struct Case {
        std::vector<std::string> args;
        std::string input;
        int code;
    };
    const std::vector<Case> cases = {
        {{"frobnicate"}, "", 2},
        {{"--device", "77", "status"}, "", 2},
        {{"--device", "Q", "status"}, "", 4},
        {{"login"}, "", 2},                                   // no terminal, no --password-stdin
        {{"--password-stdin", "login"}, "abc\n", 2},          // too short
        {{"--password-stdin", "login"}, "abcdefghijk\n", 2},  // too long
        {{"--password-stdin", "login"}, "", 2},               // input ended
        {{"--password-stdin", "reset", "--hint", "a new hint"}, "Neu12345\nNeu12345\n", 2},
        {{"--password-stdin", "passwd", "--hint", "hmm"}, "Wolke7Rot\nNeu12345\nNeu12345\n", 2},
        {{"cd-update", "/nonexistent/image.iso"}, "", 2},
        {{"read", "0", "0", "/tmp/unused"}, "", 2},
    };
    const auto infoBefore = Info();
    for (const Case& c : cases) {
        const KvxRun r = Kvx(c.args, c.input);
        EXPECT_EQ(r.code, c.code) << testing::PrintToString(c.args) << "\n" << r.err;
        EXPECT_FALSE(r.err.empty()) << testing::PrintToString(c.args);
    }
    const auto infoAfter = Info();
    EXPECT_EQ(infoAfter.at("verify_count"), infoBefore.at("verify_count"));
    EXPECT_EQ(infoAfter.at("password_stored"), "yes");
    EXPECT_TRUE(OpensWith(kPassword));
}

TEST_F(KvxDevice, NoDeviceExitsFour) {
    std::filesystem::remove_all(machine());
    std::filesystem::create_directories(machine());
    for (const char* command : {"status", "devices"}) {
        const KvxRun r = Kvx({"--json", command});
        EXPECT_EQ(r.code, 4) << command << ": " << r.err;
        EXPECT_EQ(r.Json()["error"]["exit_code"], 4);
    }
}

TEST_F(KvxDevice, PasswdChangesThePasswordAndHint) {
    const KvxRun r = Kvx({"--json", "--password-stdin", "passwd", "--hint", "a new hint"},
                         std::string(kPassword) + "\nNeu12345\nNeu12345\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.Json()["password_changed"], true);
    EXPECT_FALSE(OpensWith(kPassword));
    EXPECT_TRUE(OpensWith("Neu12345"));
    EXPECT_EQ(Kvx({"--json", "hint"}).Json()["hint"], "a new hint");

    // A wrong current password changes nothing.
    Replug();
    const KvxRun wrong =
        Kvx({"--password-stdin", "passwd"}, "Falsch12\nOther123\nOther123\nhint text\n");
    EXPECT_EQ(wrong.code, 3) << wrong.err;
    EXPECT_TRUE(OpensWith("Neu12345"));
}

TEST_F(KvxDevice, ResetWithYesFromAScriptStoresTheNewPasswordAndFormats) {
    const KvxRun r = Kvx({"--json", "--password-stdin", "reset", "--yes"},
                         "Frisch123\nFrisch123\nnew device hint\n");
    ASSERT_EQ(r.code, 0) << r.err;
    const auto j = r.Json();
    EXPECT_EQ(j["password_changed"], true);
    EXPECT_EQ(j["formatted"], true);
    // Not a terminal: no progress drawn.
    EXPECT_EQ(r.err.find('%'), std::string::npos) << r.err;
    EXPECT_TRUE(OpensWith("Frisch123"));
    EXPECT_FALSE(OpensWith(kPassword));
    // The emulator's plaintext of the secure partition starts with a partition table.
    const std::string image = (dir() / "secure.img").string();
    ASSERT_EQ(RunProgram(KvxsimProgram(), {"export", machine(), "--secure", image}), 0);
    std::string dump;
    EXPECT_EQ(Shell("sfdisk --dump '" + image + "'", &dump), 0) << dump;
    EXPECT_NE(dump.find("type="), std::string::npos) << dump;
}

TEST_F(KvxDevice, FormatNeedsYesWithoutATerminal) {
    EXPECT_EQ(Kvx({"format"}).code, 2);
    const KvxRun r = Kvx({"--json", "format", "--yes"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.Json()["formatted"], true);
    EXPECT_TRUE(OpensWith(kPassword));  // a format keeps the password
}

TEST_F(KvxDevice, ReadCopiesMediumSectorsToAFile) {
    // Something recognisable on the medium, written straight into the emulator's image.
    const auto info = Info();
    const std::string medium = machine() + "/devices/0/medium.img";
    std::string pattern(1024, '\0');
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        pattern[i] = static_cast<char>(i * 7 + 3);
    }
    {
        std::fstream f(medium, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(512 * 100);
        f.write(pattern.data(), static_cast<std::streamsize>(pattern.size()));
    }
    const std::string out = (dir() / "sectors.bin").string();
    const KvxRun r = Kvx({"--json", "read", "100", "2", out});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.Json()["count"], 2);
    EXPECT_EQ(ReadTextFile(out), pattern);
}

TEST(KvxHidden, WriteThenReadTheHiddenArea) {
    ScratchDir scratch;
    const std::string machine = (scratch.path() / "m").string();
    ASSERT_EQ(RunProgram(KvxsimProgram(), {"create", machine, "--aes-engine", "yes", "--password",
                                           kPassword, "--hint", kHint}),
              0);
    const std::string config = (scratch.path() / "c.ini").string();
    std::filesystem::copy_file(std::filesystem::path(KVX_SOURCE_DIR) / "cmake" / "cd-config.ini",
                               config);
    const std::string in = (scratch.path() / "in.bin").string();
    const std::string back = (scratch.path() / "back.bin").string();
    std::string data(1536, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i % 251);
    }
    std::ofstream(in, std::ios::binary) << data;
    const std::vector<std::string> env{"KVX_SIM=" + machine};
    const KvxRun w =
        RunWith(KvxProgram(), {"--config", config, "--json", "hidden", "write", "4", in}, "", env);
    ASSERT_EQ(w.code, 0) << w.err;
    EXPECT_EQ(nlohmann::json::parse(w.out)["count"], 3);
    const KvxRun r = RunWith(
        KvxProgram(), {"--config", config, "hidden", "read", "4", back, "--count", "3"}, "", env);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadTextFile(back), data);
}

TEST_F(KvxDevice, CdUpdateWritesTheImageAndKeepsTheBackup) {
    const std::filesystem::path folder = dir() / "cdroot";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "README.TXT") << "new CD content\n";
    const std::string iso = (dir() / "new.iso").string();
    std::string output;
    ASSERT_EQ(
        Shell("xorriso -as mkisofs -quiet -o '" + iso + "' '" + folder.string() + "'", &output), 0)
        << output;
    const std::string backup = (dir() / "old.iso").string();
    const KvxRun r = Kvx({"--json", "cd-update", iso, "--backup", backup});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.Json()["updated"], true);
    EXPECT_TRUE(std::filesystem::exists(backup));
    const std::string exported = (dir() / "cd.img").string();
    ASSERT_EQ(RunProgram(KvxsimProgram(), {"export", machine(), "--cd", exported}), 0);
    const std::string image = ReadTextFile(iso);
    EXPECT_EQ(ReadTextFile(exported).substr(0, image.size()), image);

    const KvxRun flag = Kvx({"--json", "cd-flag"});
    ASSERT_EQ(flag.code, 0) << flag.err;
    EXPECT_EQ(flag.Json()["cd_flag"], true);
    EXPECT_TRUE(OpensWith(kPassword));
}

TEST_F(KvxDevice, NothingSecretInTheLogOrTheArguments) {
    const std::string log = (dir() / "kvx-log.ini").string();
    const KvxRun r =
        Kvx({"--log", log, "--password-stdin", "login"}, std::string(kPassword) + "\n");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string text = ReadTextFile(log);
    EXPECT_NE(text.find("QDASHA2Auth"), std::string::npos) << "the log was written";
    EXPECT_EQ(text.find(kPassword), std::string::npos);
    EXPECT_EQ(text.find(Utf16Le(kPassword)), std::string::npos);
}

// Under a pseudo-terminal: passwords typed without echo, the three questions, and a moving
// progress bar; the program's arguments never hold the password.
TEST_F(KvxDevice, InteractiveResetAsksThreeTimesAndShowsProgress) {
    PtyProgram p(KvxProgram(), {"--config", config(), "reset", "--hint", "typed hint"},
                 {"KVX_SIM=" + machine()});
    ASSERT_TRUE(p.started());
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(p.WaitFor("[y/N]")) << p.output();
        p.Send("y\n");
    }
    ASSERT_TRUE(p.WaitFor("New password:")) << p.output();
    p.Send("Tipp1234\n");
    ASSERT_TRUE(p.WaitFor("Confirm new password:")) << p.output();
    p.Send("Tipp1234\n");
    const std::string cmdline = ReadTextFile("/proc/" + std::to_string(p.pid()) + "/cmdline");
    EXPECT_EQ(cmdline.find("Tipp1234"), std::string::npos);
    ASSERT_EQ(p.WaitExit(60000), 0) << p.output();
    const std::string& screen = p.output();
    EXPECT_EQ(screen.find("Tipp1234"), std::string::npos) << "echoed: " << screen;
    std::vector<int> percents;
    const std::regex percent(R"(\]\s*(\d+)%)");
    for (auto it = std::sregex_iterator(screen.begin(), screen.end(), percent);
         it != std::sregex_iterator(); ++it) {
        percents.push_back(std::stoi((*it)[1]));
    }
    // The percentage moves up to 100 (a zero-fill pass and the file system each count up).
    ASSERT_GE(percents.size(), 3u) << screen;
    EXPECT_LT(percents.front(), 50) << screen;
    EXPECT_EQ(percents.back(), 100) << screen;
    EXPECT_TRUE(std::adjacent_find(percents.begin(), percents.end(), std::less<int>()) !=
                percents.end())
        << screen;
    EXPECT_NE(screen.find("left"), std::string::npos) << screen;
    EXPECT_TRUE(OpensWith("Tipp1234"));
}

TEST_F(KvxDevice, InteractiveResetStopsAtANo) {
    PtyProgram p(KvxProgram(), {"--config", config(), "reset"}, {"KVX_SIM=" + machine()});
    ASSERT_TRUE(p.started());
    ASSERT_TRUE(p.WaitFor("[y/N]")) << p.output();
    p.Send("y\n");
    ASSERT_TRUE(p.WaitFor("[y/N]")) << p.output();
    p.Send("n\n");
    EXPECT_EQ(p.WaitExit(), 2) << p.output();
    EXPECT_TRUE(OpensWith(kPassword));
}

TEST(KvxHelp, EveryCommandExplainsItsOptions) {
    for (const char* command : {"devices", "status", "capacity", "login", "lock", "hint", "passwd",
                                "reset", "format", "cd-update", "cd-flag", "hidden", "read"}) {
        std::string output;
        EXPECT_EQ(RunProgram(KvxProgram(), {command, "--help"}, &output), 0) << command;
        EXPECT_NE(output.find(command), std::string::npos) << output;
    }
    std::string output;
    EXPECT_EQ(RunProgram(KvxProgram(), {"--help"}, &output), 0);
    for (const char* option :
         {"--device", "--config", "--log", "--json", "--quiet", "--password-stdin"}) {
        EXPECT_NE(output.find(option), std::string::npos) << option;
    }
}

}  // namespace
}  // namespace kvx::test

#endif  // _WIN32
