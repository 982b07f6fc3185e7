#include "host/profile_ini.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/text.h"

namespace kvx {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Spit(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Utf16Le(std::u16string_view text, bool bom = true) {
    std::string out = bom ? "\xFF\xFE" : "";
    for (const char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

std::string Utf16Be(std::u16string_view text) {
    std::string out = "\xFE\xFF";
    for (const char16_t c : text) {
        out.push_back(static_cast<char>(c >> 8));
        out.push_back(static_cast<char>(c & 0xFF));
    }
    return out;
}

class ProfileFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* base = std::getenv("KVX_TEST_TMP");
        const fs::path root = base != nullptr ? fs::path(base) : fs::temp_directory_path();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string leaf = std::string(info->test_suite_name()) + "." + info->name();
        for (char& c : leaf) {
            if (c == '/') {
                c = '_';  // parameterised test names contain slashes
            }
        }
        dir_ = root / "profile_ini" / leaf;
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        file_ = dir_ / "TEST.INI";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    fs::path dir_;
    fs::path file_;
};

// --- Reading ------------------------------------------------------------------------------------

struct ReadCase {
    const char* name;
    std::optional<std::string> file;  // bytes; nullopt: no file
    std::u16string section;
    std::u16string key;
    std::u16string defaultValue;
    std::size_t maxChars;
    std::u16string expected;
};

class ProfileRead : public ProfileFiles, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ProfileRead, ReturnsValueOrDefault) {
    const ReadCase& c = GetParam();
    if (c.file) {
        Spit(file_, *c.file);
    }
    EXPECT_EQ(ToUtf8(profile::Read(c.section, c.key, c.defaultValue, file_, c.maxChars)),
              ToUtf8(c.expected));
}

const std::string kBasic = "[Options]\r\nDrive=E\r\nPath = C:\\Dir \\ \t\r\nEmpty=\r\nBare\r\n";

INSTANTIATE_TEST_SUITE_P(
    Table, ProfileRead,
    ::testing::Values(
        ReadCase{"missing_file", std::nullopt, u"Options", u"Drive", u"D", 256, u"D"},
        ReadCase{"missing_section", kBasic, u"Other", u"Drive", u"D", 256, u"D"},
        ReadCase{"missing_key", kBasic, u"Options", u"Letter", u"D", 256, u"D"},
        ReadCase{"found", kBasic, u"Options", u"Drive", u"D", 256, u"E"},
        ReadCase{"ascii_case", kBasic, u"oPTIONS", u"dRIVE", u"D", 256, u"E"},
        ReadCase{"blank_padded_names", kBasic, u" Options\t", u" Drive ", u"D", 256, u"E"},
        ReadCase{"value_trimmed", kBasic, u"Options", u"Path", u"", 256, u"C:\\Dir \\"},
        ReadCase{"empty_value_is_not_default", kBasic, u"Options", u"Empty", u"D", 256, u""},
        ReadCase{"key_without_equals_gives_default", kBasic, u"Options", u"Bare", u"D", 256, u"D"},
        ReadCase{"latin1_case",
                 "[\xC3\x84rger]\nSCHL\xC3\x9C"
                 "SSEL=1\n",
                 u"\u00E4RGER", u"schl\u00FCssel", u"", 256, u"1"},
        ReadCase{"y_diaeresis_case", "[S]\n\xC5\xB8=1\n", u"s", u"\u00FF", u"", 256, u"1"},
        ReadCase{"greek_cyrillic_case", "[\xCE\xA3]\n\xD0\x96\xD0\x81=1\n", u"\u03C3",
                 u"\u0436\u0451", u"", 256, u"1"},
        ReadCase{"double_quotes", "[Q]\nk=\"a b \"\n", u"Q", u"k", u"", 256, u"a b "},
        ReadCase{"single_quotes", "[Q]\nk='x'\n", u"Q", u"k", u"", 256, u"x"},
        ReadCase{"mismatched_quotes", "[Q]\nk=\"x'\n", u"Q", u"k", u"", 256, u"\"x'"},
        ReadCase{"lone_quote", "[Q]\nk=\"\n", u"Q", u"k", u"", 256, u"\""},
        ReadCase{"empty_quotes", "[Q]\nk=\"\"\n", u"Q", u"k", u"D", 256, u""},
        ReadCase{"only_one_pair", "[Q]\nk=\"\"x\"\"\n", u"Q", u"k", u"", 256, u"\"x\""},
        ReadCase{"default_quotes", std::nullopt, u"Q", u"k", u"\"d\"", 256, u"d"},
        ReadCase{"default_trailing_spaces", std::nullopt, u"Q", u"k", u"a b  ", 256, u"a b"},
        ReadCase{"default_trailing_tab_kept", std::nullopt, u"Q", u"k", u"a\t", 256, u"a\t"},
        ReadCase{"default_single_space_kept", std::nullopt, u"Q", u"k", u" ", 256, u" "},
        ReadCase{"max_zero", kBasic, u"Options", u"Drive", u"D", 0, u""},
        ReadCase{"max_one", kBasic, u"Options", u"Drive", u"D", 1, u""},
        ReadCase{"truncated", "[S]\nk=0123456789\n", u"S", u"k", u"", 4, u"012"},
        ReadCase{"exact_fit", "[S]\nk=0123456789\n", u"S", u"k", u"", 11, u"0123456789"},
        ReadCase{"default_truncated", std::nullopt, u"S", u"k", u"abcdef", 3, u"ab"},
        // The closing quote sitting exactly at the limit must not cost a real character.
        ReadCase{"quoted_exact_fit", "[S]\nk=\"quoted value\"\n", u"S", u"k", u"", 13,
                 u"quoted value"},
        ReadCase{"quoted_truncated", "[S]\nk=\"quoted value\"\n", u"S", u"k", u"", 7, u"quoted"},
        ReadCase{"pair_not_split", "[S]\nk=ab\xF0\x9F\x98\x80\n", u"S", u"k", u"", 4, u"ab"},
        ReadCase{"pair_kept", "[S]\nk=ab\xF0\x9F\x98\x80\n", u"S", u"k", u"", 5, u"ab\U0001F600"},
        ReadCase{"first_of_duplicate_sections_only", "[A]\nx=1\n[a]\ny=2\n", u"A", u"y", u"D", 256,
                 u"D"},
        ReadCase{"first_of_duplicate_keys", "[A]\nx=1\nX=2\n", u"a", u"x", u"", 256, u"1"},
        ReadCase{"lines_before_first_section", "top=1\n[A]\nx=2\n", u"", u"top", u"D", 256, u"1"},
        ReadCase{"header_text_after_bracket", "[A] ; note\nx=1\n", u"A", u"x", u"", 256, u"1"},
        ReadCase{"header_name_trimmed", "[ A\t]\nx=1\n", u"A", u"x", u"", 256, u"1"},
        ReadCase{"header_without_bracket_is_a_key", "[A]\n[B\nx=1\n", u"A", u"x", u"", 256, u"1"},
        ReadCase{"comment_is_not_a_key", "[A]\n;x=1\n", u"A", u"x", u"D", 256, u"D"},
        ReadCase{"cr_only_lines", "[A]\rx=1\ry=2\r", u"A", u"y", u"", 256, u"2"},
        ReadCase{"control_blanks_trimmed", "[A]\nx=\x0B\x0C\x1Av\x1A\x0C\x0B\n", u"A", u"x", u"",
                 256, u"v"},
        ReadCase{"equals_in_value", "[A]\nx=a=b\n", u"A", u"x", u"", 256, u"a=b"},
        ReadCase{"utf8_bom", "\xEF\xBB\xBF[A]\nx=\xE2\x82\xAC\n", u"A", u"x", u"", 256, u"\u20AC"},
        ReadCase{"cp1252_file", "[A]\r\nx=caf\xE9 \x80\r\n", u"A", u"x", u"", 256,
                 u"caf\u00E9 \u20AC"},
        ReadCase{"utf16le_bom", Utf16Le(u"[A]\r\nx=Zo\u00EB \u03A9\r\n"), u"a", u"X", u"", 256,
                 u"Zo\u00EB \u03A9"},
        ReadCase{"utf16be_bom", Utf16Be(u"[A]\r\nx=\u20AC\r\n"), u"A", u"x", u"", 256, u"\u20AC"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(ProfileFiles, ReadOfAFolderGivesTheDefault) {
    EXPECT_EQ(profile::Read(u"A", u"x", u"D", dir_, 256), u"D");
}

// --- Writing ------------------------------------------------------------------------------------

struct Change {
    std::u16string section;
    std::u16string key;
    std::optional<std::u16string> value;  // nullopt: delete the key
};

struct WriteCase {
    const char* name;
    std::optional<std::string> seed;
    std::vector<Change> changes;
    std::string expected;  // file bytes afterwards
};

class ProfileWrite : public ProfileFiles, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(ProfileWrite, LeavesExpectedText) {
    const WriteCase& c = GetParam();
    if (c.seed) {
        Spit(file_, *c.seed);
    }
    for (const Change& change : c.changes) {
        if (change.value) {
            ASSERT_TRUE(profile::Write(change.section, change.key, *change.value, file_));
        } else {
            ASSERT_TRUE(profile::DeleteKey(change.section, change.key, file_));
        }
    }
    EXPECT_EQ(Slurp(file_), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProfileWrite,
    ::testing::Values(
        WriteCase{"creates_file", std::nullopt, {{u"S", u"a", u"1"}}, "[S]\r\na=1\r\n"},
        WriteCase{"new_keys_and_sections_in_order",
                  std::nullopt,
                  {{u"A", u"x", u"1"}, {u"B", u"y", u"2"}, {u"a", u"z", u"3"}},
                  "[A]\r\nx=1\r\nz=3\r\n[B]\r\ny=2\r\n"},
        WriteCase{"rewrite_keeps_place_and_spelling",
                  "[S]\r\nKey=1\r\nz=2\r\n",
                  {{u"s", u"KEY", u"9"}},
                  "[S]\r\nKey=9\r\nz=2\r\n"},
        WriteCase{"new_key_at_end_of_its_section",
                  "[A]\r\nx=1\r\n[B]\r\ny=2\r\n",
                  {{u"A", u"n", u"3"}},
                  "[A]\r\nx=1\r\nn=3\r\n[B]\r\ny=2\r\n"},
        WriteCase{"comments_kept_blank_lines_dropped",
                  "; c1\n\n[A]\n; c2\nx = 1\n\n\n[B]\ny=2\n",
                  {{u"B", u"y", u"3"}},
                  "; c1\r\n[A]\r\n; c2\r\nx=1\r\n[B]\r\ny=3\r\n"},
        WriteCase{"value_leading_blanks_dropped",
                  std::nullopt,
                  {{u"A", u"x", u" \t v "}},
                  "[A]\r\nx=v \r\n"},
        WriteCase{
            "bare_key_gets_value", "[A]\r\nflag\r\n", {{u"A", u"FLAG", u"1"}}, "[A]\r\nflag=1\r\n"},
        WriteCase{"empty_value", std::nullopt, {{u"A", u"x", u""}}, "[A]\r\nx=\r\n"},
        WriteCase{"unchanged_value_leaves_file_alone",
                  "[A]\nx=1\n\n",
                  {{u"a", u"X", u"1"}},
                  "[A]\nx=1\n\n"},
        WriteCase{
            "delete_key", "[A]\r\nx=1\r\ny=2\r\n", {{u"a", u"X", std::nullopt}}, "[A]\r\ny=2\r\n"},
        WriteCase{"delete_missing_key_leaves_file_alone",
                  "[A]\nx=1\n",
                  {{u"A", u"q", std::nullopt}, {u"Q", u"x", std::nullopt}},
                  "[A]\nx=1\n"},
        WriteCase{"latin1_names_fold",
                  "[\xC3\x84rger]\r\nK=1\r\n",
                  {{u"\u00E4RGER", u"k", u"2"}},
                  "[\xC3\x84rger]\r\nK=2\r\n"},
        WriteCase{"new_file_is_utf8",
                  std::nullopt,
                  {{u"\u00C4", u"\u20AC", u"\u03A9"}},
                  "[\xC3\x84]\r\n\xE2\x82\xAC=\xCE\xA9\r\n"},
        WriteCase{"utf8_bom_kept",
                  "\xEF\xBB\xBF[A]\nx=1\n",
                  {{u"A", u"x", u"\u00E9"}},
                  "\xEF\xBB\xBF[A]\r\nx=\xC3\xA9\r\n"},
        WriteCase{"cp1252_file_stays_cp1252",
                  "[A]\r\nk=caf\xE9\r\n",
                  {{u"A", u"n", u"\u20AC"}},
                  "[A]\r\nk=caf\xE9\r\nn=\x80\r\n"},
        WriteCase{"utf16le_file_stays_utf16le",
                  Utf16Le(u"[A]\r\nx=1\r\n"),
                  {{u"A", u"y", u"\u03A9"}},
                  Utf16Le(u"[A]\r\nx=1\r\ny=\u03A9\r\n")},
        WriteCase{"utf16be_file_stays_utf16be",
                  Utf16Be(u"[A]\r\nx=1\r\n"),
                  {{u"A", u"x", u"2"}},
                  Utf16Be(u"[A]\r\nx=2\r\n")}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(ProfileFiles, WrittenValuesReadBack) {
    ASSERT_TRUE(profile::Write(u"Main", u"Path", u"C:\\Program Files\\X", file_));
    ASSERT_TRUE(profile::Write(u"Main", u"Quoted", u"\"  kept  \"", file_));
    EXPECT_EQ(profile::Read(u"MAIN", u"path", u"", file_, 256), u"C:\\Program Files\\X");
    EXPECT_EQ(profile::Read(u"Main", u"Quoted", u"", file_, 256), u"  kept  ");
}

// A Windows-1252 file whose first line, once its leading blanks are dropped, begins with the
// bytes of a UTF-16 byte-order mark: rewritten as it was, it would read back as UTF-16.
TEST_F(ProfileFiles, ARewrittenFileReadsBackWhateverItsBytesBecame) {
    std::ofstream(file_, std::ios::binary) << "\x0C\xFF\xFE[A]\r\nx=caf\xE9\r\n";
    ASSERT_TRUE(profile::Write(u"A", u"y", u"value 1", file_));
    EXPECT_EQ(profile::Read(u"A", u"y", u"", file_, 256), u"value 1");
    EXPECT_EQ(profile::Read(u"", u"x", u"", file_, 256), u"caf\u00E9");
}

struct RejectCase {
    const char* name;
    std::u16string section;
    std::u16string key;
    std::u16string value;
};

class ProfileRejects : public ProfileFiles, public ::testing::WithParamInterface<RejectCase> {};

// Text that would split or forge lines is refused, and the file stays as it was.
TEST_P(ProfileRejects, LineBreakingText) {
    const std::string seed = "[A]\r\nx=1\r\n";
    Spit(file_, seed);
    EXPECT_FALSE(profile::Write(GetParam().section, GetParam().key, GetParam().value, file_));
    EXPECT_EQ(Slurp(file_), seed);
}

INSTANTIATE_TEST_SUITE_P(Table, ProfileRejects,
                         ::testing::Values(RejectCase{"lf_in_value", u"A", u"x", u"1\n[B]"},
                                           RejectCase{"cr_in_value", u"A", u"x", u"1\rz=2"},
                                           RejectCase{"lf_in_key", u"A", u"x\ny", u"1"},
                                           RejectCase{"lf_in_section", u"A]\n[B", u"x", u"1"},
                                           RejectCase{"equals_in_key", u"A", u"x=y", u"1"},
                                           RejectCase{"key_looks_like_header", u"A", u" [B]",
                                                      u"1"}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(ProfileFiles, WriteFailsWithoutThrowing) {
    EXPECT_FALSE(profile::Write(u"A", u"x", u"1", dir_ / "missing" / "X.INI"));
    EXPECT_FALSE(fs::exists(dir_ / "missing"));
    EXPECT_FALSE(profile::Write(u"A", u"x", u"1", dir_));  // a folder, not a file
    EXPECT_FALSE(profile::DeleteKey(u"A", u"x", dir_));
    EXPECT_FALSE(profile::Write(u"A", u"x", u"1", fs::path()));
}

TEST_F(ProfileFiles, ReadOnlyFileIsNotReplaced) {
    const std::string seed = "[A]\r\nx=1\r\n";
    Spit(file_, seed);
    fs::permissions(file_,
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_FALSE(profile::Write(u"A", u"x", u"2", file_));
    EXPECT_FALSE(profile::DeleteKey(u"A", u"x", file_));
    EXPECT_EQ(Slurp(file_), seed);
    fs::permissions(file_, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_TRUE(profile::Write(u"A", u"x", u"2", file_));
    EXPECT_EQ(profile::Read(u"A", u"x", u"", file_, 16), u"2");
}

TEST_F(ProfileFiles, WriteThroughASymlinkKeepsTheLink) {
    Spit(dir_ / "real.ini", "[A]\r\nx=1\r\n");
    std::error_code ec;
    fs::create_symlink("real.ini", file_, ec);
    if (ec) {
        GTEST_SKIP() << "no symbolic links here: " << ec.message();
    }
    ASSERT_TRUE(profile::Write(u"A", u"x", u"2", file_));
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_EQ(Slurp(dir_ / "real.ini"), "[A]\r\nx=2\r\n");
}

TEST_F(ProfileFiles, WriteLeavesNoTemporaryFiles) {
    ASSERT_TRUE(profile::Write(u"A", u"x", u"1", file_));
    ASSERT_TRUE(profile::Write(u"A", u"x", u"2", file_));
    std::vector<fs::path> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
        names.push_back(entry.path().filename());
    }
    EXPECT_EQ(names, std::vector<fs::path>{"TEST.INI"});
}

}  // namespace
}  // namespace kvx
