// The portable profile-string functions against the system's own GetPrivateProfileStringW and
// WritePrivateProfileStringW: the same operations on two files must read back the same values
// and leave the same text.
#ifdef _WIN32

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/profile_ini.h"
#include "host/text.h"

namespace kvx {
namespace {

namespace fs = std::filesystem;

struct Step {
    enum Kind { kWrite, kRead, kDelete } kind;
    std::u16string section;
    std::u16string key;
    std::u16string value;  // written value, or default for a read
    std::size_t maxChars = 256;
};

struct Scenario {
    const char* name;
    std::optional<std::string> seed;  // initial file bytes; nullopt: no file
    std::vector<Step> steps;
};

Step W(std::u16string s, std::u16string k, std::u16string v) {
    return {Step::kWrite, s, k, v};
}
Step R(std::u16string s, std::u16string k, std::u16string def = u"<none>", std::size_t n = 256) {
    return {Step::kRead, s, k, def, n};
}
Step D(std::u16string s, std::u16string k) {
    return {Step::kDelete, s, k, u""};
}

const wchar_t* Wide(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The text of a file the system wrote: with a byte-order mark as marked, else the ANSI code page.
std::u16string SystemFileText(const std::string& bytes) {
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF") ||
        bytes.starts_with("\xEF\xBB\xBF") || bytes.empty()) {
        return profile::DecodeFileText(bytes);
    }
    const int n =
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
    return std::u16string(wide.begin(), wide.end());
}

class ProfileWineOracle : public ::testing::TestWithParam<Scenario> {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
        dir_ = fs::path(temp) / ("kvx-profile-oracle-" + std::to_string(GetCurrentProcessId()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    fs::path dir_;
};

TEST_P(ProfileWineOracle, SameValuesAndText) {
    const Scenario& scenario = GetParam();
    const fs::path system = dir_ / (std::string(scenario.name) + "-system.ini");
    const fs::path portable = dir_ / (std::string(scenario.name) + "-portable.ini");
    if (scenario.seed) {
        std::ofstream(system, std::ios::binary) << *scenario.seed;
        std::ofstream(portable, std::ios::binary) << *scenario.seed;
    }
    const std::wstring systemPath = system.wstring();

    for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
        const Step& step = scenario.steps[i];
        SCOPED_TRACE("step " + std::to_string(i) + ": [" + ToUtf8(step.section) + "] " +
                     ToUtf8(step.key) + " / " + ToUtf8(step.value));
        switch (step.kind) {
            case Step::kWrite:
                ASSERT_TRUE(WritePrivateProfileStringW(Wide(step.section), Wide(step.key),
                                                       Wide(step.value), systemPath.c_str()));
                ASSERT_TRUE(profile::Write(step.section, step.key, step.value, portable));
                break;
            case Step::kDelete:
                ASSERT_TRUE(WritePrivateProfileStringW(Wide(step.section), Wide(step.key), nullptr,
                                                       systemPath.c_str()));
                ASSERT_TRUE(profile::DeleteKey(step.section, step.key, portable));
                break;
            case Step::kRead: {
                std::vector<wchar_t> buffer(step.maxChars + 1, L'#');
                const DWORD n = GetPrivateProfileStringW(
                    Wide(step.section), Wide(step.key), Wide(step.value), buffer.data(),
                    static_cast<DWORD>(step.maxChars), systemPath.c_str());
                const std::u16string expected(buffer.begin(), buffer.begin() + n);
                EXPECT_EQ(ToUtf8(profile::Read(step.section, step.key, step.value, portable,
                                               step.maxChars)),
                          ToUtf8(expected));
                break;
            }
        }
    }
    EXPECT_EQ(ToUtf8(profile::DecodeFileText(Slurp(portable))),
              ToUtf8(SystemFileText(Slurp(system))));
}

const std::string kUtf16Seed = [] {
    const std::u16string text = u"[Main]\r\nName=Zoë\r\n";
    std::string bytes = "\xFF\xFE";
    for (const char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}();

const Scenario kScenarios[] = {
    {"fresh",
     std::nullopt,
     {W(u"Options", u"Drive", u"E"), W(u"Options", u"Count", u"3"), W(u"Other", u"Flag", u"1"),
      W(u"options", u"DRIVE", u"F"), W(u"Options", u"Last", u"x"), W(u"OTHER", u"flag", u"2"),
      R(u"OPTIONS", u"drive"), R(u"Options", u"Count"), R(u"Options", u"Missing", u"dflt"),
      R(u"Nowhere", u"Drive", u"dflt"), R(u"Options", u"Missing", u"dflt   "),
      R(u"Options", u"Missing", u" "), R(u"Options", u"Missing", u""),
      W(u"Options", u"Count", u"   padded"), R(u"Options", u"Count"),
      W(u" Options ", u" Spaced ", u"s"), R(u"Options", u"Spaced")}},
    {"truncation",
     std::nullopt,
     {W(u"S", u"Long", u"0123456789"), R(u"S", u"Long", u"", 1), R(u"S", u"Long", u"", 2),
      R(u"S", u"Long", u"", 10), R(u"S", u"Long", u"", 11), R(u"S", u"Long", u"", 12),
      R(u"S", u"None", u"abcdef", 4)}},
    {"quotes",
     std::nullopt,
     {W(u"Q", u"Double", u"\"quoted value\""), W(u"Q", u"Single", u"'single'"),
      W(u"Q", u"Mixed", u"\"mixed'"), W(u"Q", u"Lone", u"\""), W(u"Q", u"Empty", u"\"\""),
      W(u"Q", u"Inner", u"a \"b\" c"), R(u"Q", u"Double"), R(u"Q", u"Single"), R(u"Q", u"Mixed"),
      R(u"Q", u"Lone"), R(u"Q", u"Empty"), R(u"Q", u"Inner"), R(u"Q", u"Missing", u"\"def\""),
      // Not maxChars 13 (closing quote exactly at the limit): Wine then drops the last real
      // character as well; the portable reader returns the whole value.
      R(u"Q", u"Double", u"", 20), R(u"Q", u"Double", u"", 12), R(u"Q", u"Double", u"", 14),
      R(u"Q", u"Double", u"", 15)}},
    {"blanks",
     std::string("[B]\r\n"
                 "tab=\tx\t\r\n"
                 "vt=\x0Bx\x0B\r\n"
                 "ff=\x0Cx\x0C\r\n"
                 "eof=\x1Ax\x1A\r\n"
                 "cr=x\rlf=y\n"
                 "nbsp=\xA0x\xA0\r\n"),
     {R(u"B", u"tab"), R(u"B", u"vt"), R(u"B", u"ff"), R(u"B", u"eof"), R(u"B", u"cr"),
      R(u"B", u"lf"), R(u"B", u"nbsp"), W(u"B", u"tab", u"\t\ty")}},
    {"seeded",
     std::string("; leading comment\n"
                 "top=level\n"
                 "\n"
                 "[First]\r\n"
                 "  a = 1  \r\n"
                 "; a comment = with equals\r\n"
                 "b=\t2\t\r\n"
                 "novalue\r\n"
                 "empty=\r\n"
                 "\r\n"
                 "\r\n"
                 "[Second]  \n"
                 "c=3\n"
                 "[ Third ]\n"
                 "d=4\n"),
     {R(u"First", u"a"), R(u"First", u"b"), R(u"First", u"novalue", u"dflt"),
      R(u"First", u"empty", u"dflt"), R(u"Second", u"c"), R(u"Third", u"d", u"dflt"),
      R(u"", u"top", u"dflt"), W(u"First", u"b", u"22"), W(u"Second", u"e", u"5"),
      W(u"First", u"novalue", u"now"), R(u"First", u"novalue"), W(u"Fourth", u"f", u"6")}},
    {"duplicates",
     std::string("[A]\r\nx=1\r\n[a]\r\ny=2\r\nx=3\r\n"),
     {R(u"A", u"x"), R(u"a", u"y", u"dflt"), W(u"A", u"y", u"new"), R(u"a", u"y")}},
    {"delete",
     std::string("[A]\r\nx=1\r\ny=2\r\nz=3\r\n"),
     {D(u"A", u"Y"), D(u"A", u"missing"), D(u"Nowhere", u"x"), R(u"A", u"y", u"gone"),
      W(u"A", u"y", u"back")}},
    // Only ASCII letters differ in case here: Wine folds no other case, Windows folds all.
    {"latin1",
     std::nullopt,
     {W(u"Ärger", u"Schlüssel", u"café €5"), W(u"ÄRGER", u"SCHLüSSEL", u"neu é"),
      R(u"ÄrgEr", u"schlüssel"), W(u"Ärger", u"Ÿ", u"y"), R(u"Ärger", u"Ÿ")}},
    {"utf16",
     kUtf16Seed,
     {R(u"main", u"name"), W(u"Main", u"Name", u"Zoé Ω"), W(u"Main", u"Other", u"€"),
      R(u"MAIN", u"other")}},
};

INSTANTIATE_TEST_SUITE_P(Scenarios, ProfileWineOracle, ::testing::ValuesIn(kScenarios),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kvx

#endif  // _WIN32
