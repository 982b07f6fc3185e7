// The bridge to the outside tools: a command's exit code and output come back, and a path handed
// to a tool names the file the test wrote (natively, and from a Windows test program under Wine).
#include "support/outside_tools.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/test_host.h"

namespace kvx::test {
namespace {

struct ShellCase {
    const char* line;
    int code;
    const char* output;  // nullptr: the shell's own message, whatever its words
};

class OutsideShell : public ::testing::TestWithParam<ShellCase> {};

TEST_P(OutsideShell, ReturnsTheExitCodeWithStdoutAndStderr) {
    const ShellCase& c = GetParam();
    std::string output = "stale";
    ASSERT_EQ(Shell(c.line, &output), c.code) << output;
    if (c.output != nullptr) {
        EXPECT_EQ(output, c.output);
    } else {
        EXPECT_NE(output.find("no-such-tool-here"), std::string::npos) << output;
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, OutsideShell,
                         ::testing::Values(ShellCase{"echo one; echo two >&2", 0, "one\ntwo\n"},
                                           ShellCase{"printf 'x y'; exit 3", 3, "x y"},
                                           ShellCase{"false", 1, ""},
                                           ShellCase{"no-such-tool-here", 127, nullptr}));

TEST(OutsideTools, FindsInstalledToolsOnly) {
    EXPECT_TRUE(HaveTool("sh"));
    EXPECT_FALSE(HaveTool("no-such-tool-here"));
}

TEST(OutsideTools, ToolPathNamesTheFileTheTestWrote) {
    ScratchDir dir;
    const auto file = dir.path() / "note.txt";
    std::ofstream(file, std::ios::binary) << "written by the test";
    std::string output;
    ASSERT_EQ(Shell("cat '" + ToolPath(file) + "'", &output), 0) << output;
    EXPECT_EQ(output, "written by the test");
    ASSERT_EQ(Shell("echo from the tool >'" + ToolPath(dir.path() / "back.txt") + "'", &output), 0)
        << output;
    EXPECT_EQ(ReadTextFile(dir.path() / "back.txt"), "from the tool\n");
}

}  // namespace
}  // namespace kvx::test
