// The terminal view on a console whose keys and clock the test controls.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>

#include "common/terminal_view.h"
#include "host/forwarding_host.h"
#include "support/fake_console.h"

namespace kvx::test {
namespace {

using namespace ui;

class DrivesHost final : public ForwardingHost {
  public:
    DrivesHost() : ForwardingHost(PlatformHost()) {}
    std::uint32_t LogicalDriveMask() override { return mask; }
    std::uint32_t mask = 0x34;  // C, E, F
};

const StringEntry kTips[] = {{10, u"Type your name here."}, {11, u"Go ahead."}};

// A small dialog: a label, a password field, two buttons, and a record of what happened.
class TestDialog final : public Dialog {
  public:
    const DialogSpec& Spec() const override {
        static const DialogSpec spec{500,
                                     {{9, ControlKind::kStatic},
                                      {10, ControlKind::kPasswordEdit},
                                      {11, ControlKind::kButton},
                                      {2, ControlKind::kDefaultButton},
                                      {12, ControlKind::kButton}}};
        return spec;
    }
    void OnInit(Window& w) override {
        w.SetTitle(u"Test Dialog");
        w.SetText(9, nameLabel);
        w.SetText(11, u"&Go");
        w.SetText(2, u"&Cancel");
        w.SetText(12, u"&Later");
        w.Enable(12, false);
        w.SetTextLimit(10, 6);
        w.CreateTooltips();
        if (timerMs != 0) {
            w.StartTimer(7, timerMs);
        }
    }
    void OnCommand(Window& w, ControlId id) override {
        events.push_back("command " + std::to_string(id));
        if (id == 11) {
            char16_t text[16] = {};
            const std::size_t n = w.GetText(10, text);
            typed.assign(text, n);
            if (askFirst) {
                answer =
                    w.ShowMessage(Message{u"Sure?", u"Test", 0, Icon::kQuestion, Buttons::kYesNo});
            }
            w.Close(kResultOk);
        } else if (id == kIdCancel) {
            w.Close(kResultCancel);
        }
    }
    void OnTextChanged(Window& w, ControlId id) override {
        char16_t text[16] = {};
        const std::size_t n = w.GetText(id, text);
        w.SetDefaultButton(n >= 3 ? 11 : 2);
    }
    void OnTimer(Window& w, unsigned id) override {
        events.push_back("timer " + std::to_string(id) + " at " + std::to_string(clock()));
        if (onTick) {
            onTick();
        }
        if (++ticks == 3) {
            w.Close(kResultOk);
        }
    }
    void OnDeviceRemoved(Window& w) override {
        events.push_back("removed");
        w.Close(kResultOk);
    }
    void OnCloseRequest(Window& w) override {
        events.push_back("close request");
        w.Close(kResultCancel);
    }

    std::function<std::uint64_t()> clock;
    std::function<void()> onTick;
    std::u16string nameLabel = u"&Name:";
    std::vector<std::string> events;
    std::u16string typed;
    unsigned timerMs = 0;
    int ticks = 0;
    bool askFirst = false;
    int answer = 0;
};

struct ViewRig {
    ViewRig() : view(console, host, tips) {
        dialog.clock = [this] { return console.now; };
    }
    FakeConsole console;
    DrivesHost host;
    StringTable tips{kTips};
    TerminalView view{console, host, tips};
    TestDialog dialog;
};

TEST(TerminalView, TypingIsMaskedAndEnterPressesTheDefaultButton) {
    ViewRig rig;
    rig.console.Type("Se", 1100);
    rig.console.Type("cret42", 1200);  // the field takes six characters at most
    rig.console.Type("\r", 1300);
    EXPECT_EQ(rig.view.RunModal(rig.dialog), kResultOk);
    EXPECT_EQ(rig.dialog.typed, u"Secret");
    EXPECT_EQ(rig.dialog.events, std::vector<std::string>{"command 11"});
    const std::string& out = rig.console.output;
    EXPECT_NE(out.find("=== Test Dialog ==="), std::string::npos);
    EXPECT_NE(out.find("> Name: [**    ]"), std::string::npos) << out;
    EXPECT_NE(out.find("> Name: [******]"), std::string::npos) << out;
    EXPECT_NE(out.find("Tip: Type your name here."), std::string::npos);
    EXPECT_NE(out.find("{ Later }"), std::string::npos);
    EXPECT_NE(out.find("[[Go]]"), std::string::npos);  // the default once three were typed
    EXPECT_EQ(out.find("Secret"), std::string::npos);
    EXPECT_EQ(out.find("Se"), std::string::npos);
}

// Labels keep characters of two UTF-16 units whole, also the one marked with '&', which a
// terminal underlines.
TEST(TerminalView, LabelsKeepCharactersBeyondTheBasicPlane) {
    struct Case {
        bool terminal;
        const char* label;
    };
    // U+1D11E and U+1F511 in UTF-8.
    const Case cases[] = {
        {false, "> \xF0\x9D\x84\x9E \xF0\x9F\x94\x91 & key: ["},
        {true, "> \xF0\x9D\x84\x9E \x1b[4m\xF0\x9F\x94\x91\x1b[24m & key: ["},
    };
    for (const Case& c : cases) {
        ViewRig rig;
        rig.console.terminal = c.terminal;
        rig.dialog.nameLabel = u"\U0001D11E &\U0001F511 && key:";
        rig.console.Type("\x1b", 1100);
        EXPECT_EQ(rig.view.RunModal(rig.dialog), kResultCancel);
        EXPECT_NE(rig.console.output.find(c.label), std::string::npos) << rig.console.output;
        EXPECT_EQ(rig.console.output.find("\xEF\xBF\xBD"), std::string::npos);  // U+FFFD
    }
}

// Typed UTF-8 reaches the field as UTF-16; a malformed sequence (here an overlong form of U+0080)
// is dropped.
TEST(TerminalView, TypedUtf8ReachesTheFieldWhole) {
    ViewRig rig;
    rig.console.Type(
        "a\xE0\x82\x80\xF0\x9F\x94\x91"
        "b\r",
        1100);
    EXPECT_EQ(rig.view.RunModal(rig.dialog), kResultOk);
    EXPECT_EQ(rig.dialog.typed, u"a\U0001F511b");
}

TEST(TerminalView, KeysForFocusAndButtons) {
    struct Case {
        std::string keys;
        std::vector<std::string> events;
        int result;
    };
    const Case cases[] = {
        {"\x1b", {"command 2"}, kResultCancel},      // Escape
        {"\x03", {"close request"}, kResultCancel},  // Ctrl-C
        {"\x1bg", {"command 11"}, kResultOk},        // Alt+G
        {"\x1bL\x1b"
         "c",
         {"command 2"},
         kResultCancel},                             // Alt+L: disabled, nothing
        {"\t ", {"command 11"}, kResultOk},          // Tab to Go, Space
        {"\t\t\r", {"command 2"}, kResultCancel},    // Tab, Tab to Cancel, Enter
        {"\x1b[Z\r", {"command 2"}, kResultCancel},  // Shift-Tab wraps to Cancel
        {"\t\x1bn", {"command 11"}, kResultOk},      // Alt+N: back to the field
        {"", {"close request"}, kResultCancel},      // input ended
    };
    for (const Case& c : cases) {
        ViewRig rig;
        rig.console.Type(c.keys, 1100);
        if (c.keys == "\t\x1bn") {
            rig.console.Type("abc\r", 1200);
        }
        EXPECT_EQ(rig.view.RunModal(rig.dialog), c.result) << c.keys;
        EXPECT_EQ(rig.dialog.events, c.events) << c.keys;
    }
}

TEST(TerminalView, TimersRunOnTheClockAlsoUnderAMessageBox) {
    ViewRig rig;
    rig.dialog.timerMs = 1000;
    rig.dialog.askFirst = true;
    rig.console.ended = false;
    rig.console.Type("abc\r", 1100);  // Go: a Yes/No box comes up
    rig.console.Type("y", 4500);      // answered after three ticks
    EXPECT_EQ(rig.view.RunModal(rig.dialog), kResultOk);
    EXPECT_EQ(rig.dialog.events, (std::vector<std::string>{"command 11", "timer 7 at 2000",
                                                           "timer 7 at 3000", "timer 7 at 4000"}));
    EXPECT_EQ(rig.dialog.answer, kResultYes);
    EXPECT_NE(rig.console.output.find("+--- Test (question) ---\n| Sure?\n+  [ Yes ] >[[No]]"),
              std::string::npos)
        << rig.console.output;
}

TEST(TerminalView, RemovedDriveReachesTheDialog) {
    ViewRig rig;
    rig.console.ended = false;  // nothing is typed, but the input stays open
    rig.dialog.timerMs = 700;
    rig.dialog.onTick = [&rig] { rig.host.mask = 0x04; };  // E and F go at the first tick
    EXPECT_EQ(rig.view.RunModal(rig.dialog), kResultOk);
    EXPECT_EQ(rig.dialog.events, (std::vector<std::string>{"timer 7 at 1700", "removed"}));
    // The drives are looked at every half second.
    EXPECT_EQ(rig.console.now, 2000u);
}

TEST(TerminalView, MessageBoxWithoutOwnerAndTheShell) {
    ViewRig rig;
    rig.console.Type("\r", 1100);
    EXPECT_EQ(rig.view.ShowMessage(
                  Message{u"First line\rsecond line", u"Caption ", 0, Icon::kError, Buttons::kOk}),
              kResultOk);
    EXPECT_NE(rig.console.output.find("+--- Caption  (error) ---\n| First line\n| second line\n"),
              std::string::npos)
        << rig.console.output;
    rig.view.ShellOpen(u"F:");
    EXPECT_NE(rig.console.output.find("shell: open F:"), std::string::npos);
}

}  // namespace
}  // namespace kvx::test
