// Paths on the emulated CD drive letter and the files of the machine's "cd" folder they name.
#include "sim/host/cd_folder.h"

#include <gtest/gtest.h>

#include <fstream>

#include "host/text.h"
#include "support/test_host.h"

namespace kvx::test {
namespace {

struct DrivePathCase {
    std::u16string_view path;
    char16_t letter;  // 0: not a path on a drive letter
    std::vector<std::u16string> parts;
};

TEST(CdFolder, ParsesAbsolutePathsOnADriveLetterOnly) {
    const DrivePathCase cases[] = {
        {u"E:\\ACME.EXE", u'E', {u"ACME.EXE"}},
        {u"e:/Tools//readme.txt", u'E', {u"Tools", u"readme.txt"}},
        {u"K:\\", u'K', {}},
        {u"E:", 0, {}},                           // drive-relative
        {u"E:ACME.EXE", 0, {}},                   // drive-relative
        {u"Tools\\README.TXT", 0, {}},            // relative
        {u"\\\\server\\share\\ACME.EXE", 0, {}},  // UNC
        {u"/home/cd/ACME.EXE", 0, {}},            // native
        {u"1:\\ACME.EXE", 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.path));
        const auto parsed = sim::ParseDrivePath(c.path);
        ASSERT_EQ(parsed.has_value(), c.letter != 0);
        if (parsed) {
            EXPECT_EQ(parsed->letter, c.letter);
            EXPECT_EQ(parsed->parts, c.parts);
        }
    }
}

class CdFolderFiles : public ::testing::Test {
  protected:
    CdFolderFiles() {
        std::filesystem::create_directories(cd / "Tools");
        std::filesystem::create_directories(scratch.path() / "cdx");
        std::ofstream(cd / "Tools" / "README.TXT") << "readme";
        std::ofstream(cd / "ACME.EXE") << "program";
    }

    ScratchDir scratch;
    std::filesystem::path cd = sim::CdFolder(scratch.path());
};

TEST_F(CdFolderFiles, NamesAreFoundInAnyLetterCase) {
    struct Case {
        std::vector<std::u16string> parts;
        std::filesystem::path file;
    };
    const Case cases[] = {
        {{u"tools", u"readme.txt"}, cd / "Tools" / "README.TXT"},
        {{u"Acme.Exe"}, cd / "ACME.EXE"},
        {{u"Tools", u"NEW.TXT"}, cd / "Tools" / "NEW.TXT"},  // not there: kept as given
        {{u"MISSING", u"readme.txt"}, cd / "MISSING" / "readme.txt"},
        {{}, cd},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.string());
        EXPECT_EQ(sim::FileInFolder(cd, c.parts), c.file);
    }
}

TEST_F(CdFolderFiles, ProgramPathsInsideTheFolderGoOnTheLetter) {
    struct Case {
        std::filesystem::path real;
        std::optional<std::u16string> name;
    };
    const Case cases[] = {
        {cd / "ACME.EXE", u"K:\\ACME.EXE"},
        {cd / "Tools" / "README.TXT", u"K:\\Tools\\README.TXT"},
        {cd / "Tools" / ".." / "ACME.EXE", u"K:\\ACME.EXE"},
        {scratch.path() / "ACME.EXE", std::nullopt},          // beside the folder
        {cd / ".." / "ACME.EXE", std::nullopt},               // climbs out of it
        {scratch.path() / "cdx" / "ACME.EXE", std::nullopt},  // a folder that starts alike
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.real.string());
        EXPECT_EQ(sim::DrivePathOf(cd, 'K', c.real.u16string()), c.name);
    }
}

}  // namespace
}  // namespace kvx::test
