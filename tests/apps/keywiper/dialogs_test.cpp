// Keywiper's dialogs through the scripted view: the main dialog with the stored hint, the About
// box, and the reset dialog's checks, warnings, device calls, progress and endings.
#include <gtest/gtest.h>

#include "media/progress.h"
#include "tests/apps/keywiper/keywiper_fixture.h"

namespace kvx::test {
namespace {

using namespace keywiper;
using ui::Icon;
using ui::ScriptedWindow;

const std::u16string kWarningBody =
    u"If you reset your password the HD partition will be ERASED and you will LOSE ALL OF YOUR "
    u"DATA. Are you sure you wish to proceed? Click Yes to reset the password. Click No to "
    u"cancel.";

// --- Main dialog and About box --------------------------------------------------------------

TEST_F(KeywiperTest, MainDialogShowsTheWarningAndTheStoredHint) {
    view.OnOpen(kMainTemplate, [&](ScriptedWindow& w) {
        EXPECT_EQ(w.title(), u"Reset Password");
        EXPECT_EQ(w.Text(kStopText), S(172));
        EXPECT_TRUE(w.Text(kStopText).starts_with(u"STOP! RESETTING THE PASSWORD"));
        EXPECT_EQ(w.Text(kHintLabel), u"Hint:");
        EXPECT_EQ(w.Text(kResetOpen), u"&Reset Password");
        EXPECT_EQ(w.Text(kMainCancel), u"&Cancel");
        EXPECT_EQ(w.Text(kHintText), u"the usual one");
        EXPECT_EQ(w.aboutEntry(), std::optional<std::u16string>(u"&About KEYWIPER..."));
        EXPECT_TRUE(w.tooltips());
        EXPECT_EQ(w.icon(), kMainIcon);
        w.Press(kMainCancel);
        EXPECT_TRUE(w.closed());
        EXPECT_EQ(w.result(), ui::kResultCancel);
    });
    EXPECT_EQ(app.Run(), Outcome::kDone);
    EXPECT_TRUE(view.messages().empty());
    EXPECT_EQ(int{app.session().request.changeOp}, 2);
}

TEST_F(KeywiperTest, HintReadFailureSaysSo) {
    device.hintRead = 0;
    view.OnOpen(kMainTemplate, [](ScriptedWindow& w) {
        EXPECT_EQ(w.Text(kHintText), u"");
        w.Press(kMainCancel);
    });
    app.Run();
    ASSERT_EQ(view.MessageIds(), std::vector<ui::StringId>{187});
    EXPECT_EQ(view.messages()[0].message.text,
              u"Reading the password hint from the device failed.");
    EXPECT_EQ(view.messages()[0].message.icon, Icon::kNone);
    EXPECT_EQ(view.messages()[0].ownerTemplate, kMainTemplate);
}

TEST_F(KeywiperTest, WithoutTooltipsTheHintIsStillShown) {
    view.tooltipsAvailable = false;
    view.OnOpen(kMainTemplate, [](ScriptedWindow& w) {
        EXPECT_EQ(w.Text(kHintText), u"the usual one");
        w.Press(kResetOpen);
    });
    view.OnOpen(kResetTemplate, [](ScriptedWindow& w) { w.Press(kResetCancel); });
    app.Run();
    ASSERT_EQ(view.MessageIds(), (std::vector<ui::StringId>{181, 181}));
    EXPECT_EQ(view.messages()[0].message.text, u"Unable to create ToolTip.");
    EXPECT_EQ(view.messages()[0].ownerTemplate, kMainTemplate);
    EXPECT_EQ(view.messages()[1].ownerTemplate, kResetTemplate);
}

TEST_F(KeywiperTest, AboutBox) {
    view.OnOpen(kMainTemplate, [](ScriptedWindow& w) {
        w.About();
        w.Press(kMainCancel);
    });
    view.OnOpen(kAboutTemplate, [](ScriptedWindow& w) {
        EXPECT_EQ(w.Text(kAboutVersion), u"Reset Password Version 1.20.05");
        EXPECT_FALSE(w.Text(kAboutNotice).empty());
        EXPECT_EQ(w.Text(kAboutOk), u"&OK");
        w.Press(kAboutOk);
        EXPECT_EQ(w.result(), ui::kResultOk);
    });
    app.Run();
    EXPECT_TRUE(JournalHas("close 100 1"));
}

TEST_F(KeywiperTest, RemovingTheDeviceClosesEveryDialog) {
    for (const int top : {kAboutTemplate, kResetTemplate}) {
        SCOPED_TRACE(top);
        host.driveMask = 0;
        ui::ScriptedView v;
        FakeLoader l(&fake);
        ui::ResourceStrings st(KeywiperStrings());
        CKEYWIPERApp run(host, v, l, st);
        bool mainClosed = false;
        bool topClosed = false;
        v.OnOpen(kMainTemplate, [&](ScriptedWindow& w) {
            if (top == kAboutTemplate) {
                w.About();
            } else {
                w.Press(kResetOpen);
            }
            mainClosed = w.closed() && w.result() == ui::kResultOk;
        });
        v.OnOpen(top, [&](ScriptedWindow& w) {
            w.Type(kNewEdit, u"abcd");
            // Another drive going away changes nothing.
            host.driveMask = (1u << ('E' - 'A')) | (1u << ('Z' - 'A'));
            v.DeviceRemoved();
            EXPECT_FALSE(w.closed());
            host.driveMask = 1u << ('C' - 'A');
            v.DeviceRemoved();
            topClosed = w.closed() && w.result() == ui::kResultOk;
        });
        EXPECT_EQ(run.Run(), Outcome::kDone);
        EXPECT_TRUE(topClosed);
        EXPECT_TRUE(mainClosed);
        EXPECT_TRUE(stores.empty());
        EXPECT_TRUE(v.messages().empty());
    }
}

// --- Reset dialog ---------------------------------------------------------------------------

TEST_F(KeywiperTest, ResetDialogTextsAndLimits) {
    InReset([&](ScriptedWindow& w) {
        EXPECT_EQ(w.title(), u"Reset Password");
        EXPECT_EQ(w.Text(kResetIntro), S(174));
        EXPECT_EQ(w.Text(kNewLabel), u"&New Password:");
        EXPECT_EQ(w.Text(kConfirmLabel), u"Con&firm New Password:");
        EXPECT_EQ(w.Text(kNewHintLabel), u"&Hint:");
        EXPECT_EQ(w.Text(kResetButton), u"&Reset Password");
        EXPECT_EQ(w.Text(kResetCancel), u"&Cancel");
        EXPECT_TRUE(w.tooltips());
        // The fields refuse an eleventh password character and a seventy-sixth hint character.
        w.Type(kNewEdit, u"abcdefghijK");
        w.Type(kConfirmEdit, u"0123456789X");
        w.Type(kNewHintEdit, std::u16string(75, u'h') + u"X");
        EXPECT_EQ(w.Text(kNewEdit), u"abcdefghij");
        EXPECT_EQ(w.Text(kConfirmEdit), u"0123456789");
        EXPECT_EQ(w.Text(kNewHintEdit), std::u16string(75, u'h'));
        w.Press(kResetCancel);
        EXPECT_EQ(w.result(), ui::kResultCancel);
    });
    view.OnOpen(kMainTemplate, [](ScriptedWindow& w) {
        // Back in the main dialog after Cancel.
        w.Press(kMainCancel);
    });
    EXPECT_EQ(app.Run(), Outcome::kDone);
    EXPECT_TRUE(stores.empty());
}

TEST_F(KeywiperTest, ValidationOrderMessagesAndFocus) {
    struct Case {
        const char16_t* password;
        const char16_t* confirm;
        const char16_t* hint;
        ui::StringId message;
        ui::ControlId focus;
    };
    const Case cases[] = {
        {u"abc", u"abcd", u"hint5", 166, kNewEdit},
        {u"", u"", u"", 166, kNewEdit},
        {u"abc", u"xyz", u"no", 166, kNewEdit},  // the first rule that fails is shown
        {u"abcd", u"abc", u"hint5", 166, kConfirmEdit},
        {u"abcd", u"abc", u"", 166, kConfirmEdit},
        {u"abcd", u"abce", u"hint5", 167, kConfirmEdit},
        {u"Secret", u"secret", u"hint5", 167, kConfirmEdit},  // letter case counts
        {u"abcd", u"abcd", u"four", 168, kNewHintEdit},
        {u"abcd", u"abcd", u"", 168, kNewHintEdit},
    };
    InReset([&](ScriptedWindow& w) {
        for (const Case& c : cases) {
            SCOPED_TRACE(ToUtf8(c.password) + "/" + ToUtf8(c.confirm) + "/" + ToUtf8(c.hint));
            const std::size_t before = view.messages().size();
            Enter(w, c.password, c.confirm, c.hint);
            ASSERT_EQ(view.messages().size(), before + 1);
            const ui::ShownMessage& m = view.messages().back();
            EXPECT_EQ(m.message.id, c.message);
            EXPECT_EQ(m.message.text, S(c.message));
            EXPECT_EQ(m.message.icon, Icon::kInformation);
            EXPECT_EQ(m.message.caption, u"Reset Password");
            EXPECT_EQ(m.ownerTemplate, kResetTemplate);
            // Back to the fields, with what the user typed.
            EXPECT_FALSE(w.closed());
            EXPECT_EQ(w.focus(), c.focus);
            for (const ui::ControlId id :
                 {kNewEdit, kConfirmEdit, kNewHintEdit, kResetButton, kResetCancel}) {
                EXPECT_TRUE(w.Enabled(id)) << id;
            }
            EXPECT_EQ(w.Text(kConfirmEdit), c.confirm);
        }
        w.Press(kResetCancel);
    });
    view.OnOpen(kMainTemplate, [](ScriptedWindow& w) { w.Press(kMainCancel); });
    app.Run();
    EXPECT_TRUE(stores.empty());
    EXPECT_TRUE(formats.empty());
}

TEST_F(KeywiperTest, ANoAtAnyWarningSendsNothing) {
    for (int no = 1; no <= 3; ++no) {
        SCOPED_TRACE(no);
        ui::ScriptedView v;
        FakeLoader l(&fake);
        ui::ResourceStrings st(KeywiperStrings());
        CKEYWIPERApp run(host, v, l, st);
        v.OnOpen(kMainTemplate, [](ScriptedWindow& w) { w.Press(kResetOpen); });
        int resetResult = 0;
        v.OnOpen(kResetTemplate, [&](ScriptedWindow& w) {
            // The shortest entries that pass: four characters and a five-character hint.
            Enter(w, u"abcd", u"abcd", u"hint5");
            resetResult = w.closed() ? w.result() : -1;
            EXPECT_TRUE(w.Enabled(kResetButton));
            EXPECT_TRUE(w.Enabled(kResetCancel));
        });
        for (int i = 1; i < no; ++i) {
            v.Answer(ui::kResultYes);
        }
        v.Answer(ui::kResultNo);
        fake.calls.clear();
        EXPECT_EQ(run.Run(), Outcome::kDone);
        EXPECT_EQ(resetResult, ui::kResultOk);
        ASSERT_EQ(v.messages().size(), static_cast<std::size_t>(no));
        for (int i = 1; i <= no; ++i) {
            const ui::Message& m = v.messages()[static_cast<std::size_t>(i - 1)].message;
            EXPECT_EQ(m.text,
                      u"Warning " + FromUtf8(std::to_string(i)) + u" of 3\n" + kWarningBody);
            EXPECT_EQ(m.buttons, ui::Buttons::kYesNo);
            EXPECT_EQ(m.caption, u"Reset Password");
        }
        // Start-up and the hint read only; the main dialog closed with the reset dialog.
        EXPECT_EQ(fake.calls, (std::vector<std::string>{"QDACheckCD", "QDAGetPasswordStatus",
                                                        "QDAChangePassWord"}));
        EXPECT_TRUE(stores.empty());
        EXPECT_EQ(v.journal().back(), "close 102 1");
    }
}

TEST_F(KeywiperTest, ResetStoresThenFormatsWithProgress) {
    bool statusShownBeforeFormat = false;
    ScriptedWindow* reset = nullptr;
    int pumps = 0;
    app.session().pump = [&] { ++pumps; };
    duringFormat = [&](QdaRequest& r) {
        statusShownBeforeFormat = reset->Text(kStatusText) == S(1026);
        // What the library does while it writes.
        for (const int p : {0, 40, 100}) {
            media::ReportProgress(PlatformHost(), r, p, std::u16string_view(u"Writing..."));
        }
    };
    InReset([&](ScriptedWindow& w) {
        reset = &w;
        Enter(w, u"Neu-Pass9", u"Neu-Pass9", u"a new hint");
        EXPECT_TRUE(w.closed());
        EXPECT_EQ(w.result(), ui::kResultOk);
#ifndef _WIN32  // there the library drives real windows
        EXPECT_EQ(w.History(kPercentText),
                  (std::vector<std::u16string>{u"0 %", u"40 %", u"100 %"}));
        const ui::ControlState* bar = w.Find(kProgressBar);
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(bar->progress, 100u);
        // The format has no status line of its own: the dialog's text stays.
        EXPECT_EQ(w.History(kStatusText), std::vector<std::u16string>{S(1026)});
        EXPECT_EQ(pumps, 3);
#endif
    });
    for (int i = 0; i < 3; ++i) {
        view.Answer(ui::kResultYes);
    }
    EXPECT_EQ(app.Run(), Outcome::kDone);
    EXPECT_EQ(view.MessageIds(), (std::vector<ui::StringId>{102, 102, 102, 171}));
    EXPECT_EQ(view.messages().back().message.icon, Icon::kInformation);
    EXPECT_TRUE(statusShownBeforeFormat);

    ASSERT_EQ(stores.size(), 1u);
    ASSERT_EQ(formats.size(), 1u);
    EXPECT_EQ(stores[0].changeOp, 4);
    EXPECT_EQ(stores[0].password, u"Neu-Pass9");
    EXPECT_EQ(stores[0].hint, u"a new hint");
    // The format runs with the change's mode still in the record.
    EXPECT_EQ(formats[0].changeOp, 4);
    EXPECT_EQ(formats[0].password, u"");
    EXPECT_EQ(formats[0].status, 0u);
#ifndef _WIN32
    for (const SeenRequest& s : {stores[0], formats[0]}) {
        EXPECT_NE(s.dialog, 0u);
        EXPECT_NE(s.bar, 0u);
        EXPECT_NE(s.percent, 0u);
    }
    EXPECT_NE(stores[0].status, 0u);
#endif
    // Nothing of the password, and no window handle, is left in the record.
    const QdaRequest& r = app.session().request;
    EXPECT_EQ(ReadFixedUtf16(r.password, std::extent_v<decltype(r.password)>), u"");
    EXPECT_EQ(std::uint32_t{r.progressDialog} | std::uint32_t{r.progressBar} |
                  std::uint32_t{r.progressPercent},
              0u);
    EXPECT_EQ(fake.calls.back(), "QDAFormatHDD");
    EXPECT_EQ(view.journal().back(), "close 102 1");
}

TEST_F(KeywiperTest, DeviceFailuresEndTheReset) {
    struct Case {
        const char* why;
        std::function<void(KeywiperTest&)> arrange;
        ui::StringId message;
        std::size_t formatsCalled;
    };
    const Case cases[] = {
        {"password not stored", [](KeywiperTest& t) { t.device.stored = 0; }, 130, 0},
        {"format failed", [](KeywiperTest& t) { t.device.formatted = 0; }, 170, 1},
        // A library without the export cannot store the password: nothing is erased.
        {"no password change export",
         [](KeywiperTest& t) {
             const auto change = t.fake.changePassword;
             t.fake.changePassword = [change, &t](QdaRequest& r) {
                 if (r.changeOp == 2) {
                     const int read = change(r);
                     t.fake.changePassword = nullptr;  // gone from the library from now on
                     return read;
                 }
                 return change(r);
             };
         },
         130, 0},
        {"no format export", [](KeywiperTest& t) { t.fake.format = nullptr; }, 170, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        device = WiperDevice{};
        Wire();
        stores.clear();
        formats.clear();
        c.arrange(*this);
        ui::ScriptedView v;
        FakeLoader l(&fake);
        ui::ResourceStrings st(KeywiperStrings());
        CKEYWIPERApp run(host, v, l, st);
        v.OnOpen(kMainTemplate, [](ScriptedWindow& w) { w.Press(kResetOpen); });
        v.OnOpen(kResetTemplate, [](ScriptedWindow& w) {
            Enter(w, u"Neu-Pass9", u"Neu-Pass9", u"a new hint");
            EXPECT_EQ(w.result(), ui::kResultOk);
        });
        for (int i = 0; i < 3; ++i) {
            v.Answer(ui::kResultYes);
        }
        EXPECT_EQ(run.Run(), Outcome::kDone);
        ASSERT_EQ(v.MessageIds(), (std::vector<ui::StringId>{102, 102, 102, c.message}));
        EXPECT_EQ(v.messages().back().message.icon, Icon::kError);
        EXPECT_EQ(v.messages().back().message.text, S(c.message));
        EXPECT_EQ(formats.size(), c.formatsCalled);
        EXPECT_EQ(v.journal().back(), "close 102 1");
        const QdaRequest& r = run.session().request;
        EXPECT_EQ(ReadFixedUtf16(r.password, std::extent_v<decltype(r.password)>), u"");
    }
}

TEST_F(KeywiperTest, DuringTheFormatCancelCloseAndRemovalAreIgnored) {
    ScriptedWindow* mainWindow = nullptr;
    ScriptedWindow* reset = nullptr;
    bool stayedOpen = false;
    duringFormat = [&](QdaRequest&) {
        reset->Escape();
        reset->CloseBox();
        mainWindow->CloseBox();
        host.driveMask = 1u << ('C' - 'A');
        view.DeviceRemoved();
        stayedOpen = !reset->closed() && !mainWindow->closed();
    };
    view.OnOpen(kMainTemplate, [&](ScriptedWindow& w) {
        mainWindow = &w;
        w.Press(kResetOpen);
    });
    view.OnOpen(kResetTemplate, [&](ScriptedWindow& w) {
        reset = &w;
        Enter(w, u"Neu-Pass9", u"Neu-Pass9", u"a new hint");
    });
    for (int i = 0; i < 3; ++i) {
        view.Answer(ui::kResultYes);
    }
    EXPECT_EQ(app.Run(), Outcome::kDone);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(view.MessageIds(), (std::vector<ui::StringId>{102, 102, 102, 171}));
    EXPECT_TRUE(JournalHas("close 130 1"));
    EXPECT_FALSE(app.session().busy);
}

}  // namespace
}  // namespace kvx::test
