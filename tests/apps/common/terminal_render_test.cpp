// The renderer on its own: texts wrapped at word boundaries to the terminal's width, message
// boxes and dialogs drawn without a console.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "common/terminal_render.h"
#include "common/view.h"
#include "host/text.h"

namespace kvx::test {
namespace {

using ui::WrapText;

std::vector<std::string> ScreenLines(const std::string& screen) {
    std::vector<std::string> lines;
    std::istringstream in(screen);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(TerminalRender, WrapsAtWordBoundaries) {
    struct Case {
        std::u16string text;
        std::size_t width;
        std::vector<std::u16string> lines;
    };
    const Case cases[] = {
        {u"short", 10, {u"short"}},
        {u"exactly ten", 11, {u"exactly ten"}},
        {u"WE STRONGLY RECOMMEND a backup", 14, {u"WE STRONGLY", u"RECOMMEND a", u"backup"}},
        {u"one\r\ntwo\nthree four", 6, {u"one", u"two", u"three", u"four"}},
        {u"abcdefghij klm", 4, {u"abcd", u"efgh", u"ij", u"klm"}},  // a word too wide is cut
        {u"\U0001F600\U0001F600\U0001F600 x", 2, {u"\U0001F600\U0001F600", u"\U0001F600", u"x"}},
        {u"a  b", 80, {u"a  b"}},  // a line that fits keeps its spacing
        {u"", 5, {u""}},
        {u"no wrapping at width zero, however long the line",
         0,
         {u"no wrapping at width zero, however long the line"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        EXPECT_EQ(WrapText(c.text, c.width), c.lines);
    }
}

TEST(TerminalRender, MessageBoxLinesStayInsideTheTerminal) {
    ui::Message m;
    m.caption = u"Reset";
    m.icon = ui::Icon::kWarning;
    m.buttons = ui::Buttons::kYesNo;
    m.text =
        u"All data on the secure partition will be erased. WE STRONGLY RECOMMEND THAT YOU BACK UP "
        u"YOUR DATA BEFORE YOU GO ON.";
    const std::string screen = ui::RenderBox(m, false, {false, 40});
    for (const std::string& line : ScreenLines(screen)) {
        EXPECT_LT(line.size(), 40u) << line;
    }
    EXPECT_NE(screen.find("RECOMMEND"), std::string::npos) << screen;  // never "REC" / "OMMEND"
    EXPECT_NE(screen.find("+--- Reset (warning) ---"), std::string::npos);
    EXPECT_NE(screen.find("+  [ Yes ] >[[No]]"), std::string::npos);
    // Without a width the text stays on one line.
    EXPECT_NE(ui::RenderBox(m, true, {}).find(ToUtf8(m.text)), std::string::npos);
}

}  // namespace
}  // namespace kvx::test
