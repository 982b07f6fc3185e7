// The change-password dialog, the hint dialog and the library error texts.
#include <gtest/gtest.h>

#include <set>

#include "apps/keyport/library_error.h"
#include "apps/support/keyport_fixture.h"

namespace kvx::test {
namespace {

using namespace keyport;
using ui::Icon;
using ui::ScriptedWindow;

struct Fields {
    const char16_t* current;
    const char16_t* fresh;
    const char16_t* confirm;
    const char16_t* hint;
};

// Opens the change-password dialog from the login dialog's Options button and fills it.
class ChangePasswordTest : public KeyportTest {
  protected:
    // Fills the fields, presses OK and returns the messages shown and the focus afterwards.
    void Apply(const Fields& f, const std::function<void(ScriptedWindow&)>& after) {
        view.OnOpen(kLoginTemplate, [](ScriptedWindow& w) {
            w.Press(kOptionsButton);
            if (!w.closed()) {
                w.Press(kCancelButton);
            }
        });
        view.OnOpen(kChangePasswordTemplate, [&](ScriptedWindow& w) {
            w.Type(kCurrentEdit, f.current);
            w.Type(kNewEdit, f.fresh);
            w.Type(kConfirmEdit, f.confirm);
            w.Type(kNewHintEdit, f.hint);
            w.Press(kApplyButton);
            after(w);
            if (!w.closed()) {
                w.Press(kChangeCancel);
            }
        });
        app.Run(u"");
    }
};

// First failing check wins; the dialog stays open and the focus goes to the field at fault.
TEST_F(ChangePasswordTest, ValidationOrder) {
    struct Case {
        Fields fields;
        ui::StringId message;
        Icon icon;
        ui::ControlId focus;
    };
    const Case cases[] = {
        {{u"abc", u"ab", u"a", u"hi"}, 147, Icon::kInformation, kCurrentEdit},
        {{u"abcd", u"ab", u"a", u"hi"}, 147, Icon::kInformation, kNewEdit},
        {{u"abcd", u"abcd", u"a", u"hi"}, 147, Icon::kInformation, kConfirmEdit},
        {{u"abcd", u"abcd", u"ABCD", u"hi"}, 144, Icon::kInformation, kConfirmEdit},
        {{u"abcd", u"abcd", u"abcd", u"four"}, 148, Icon::kInformation, kNewHintEdit},
        {{u"wrong1", u"abcd", u"abcd", u"five!"}, 151, Icon::kError, kCurrentEdit},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.fields.current) + "/" + ToUtf8(c.fields.fresh) + "/" +
                     ToUtf8(c.fields.confirm) + "/" + ToUtf8(c.fields.hint));
        ui::ScriptedView localView;
        FakeLoader localLoader(&library);
        ui::ResourceStrings localStrings(KeyportStrings());
        CKEYPORTApp localApp(host, localView, localLoader, localStrings);
        ui::ControlId focus = 0;
        bool closed = true;
        localView.OnOpen(kLoginTemplate, [](ScriptedWindow& w) {
            w.Press(kOptionsButton);
            w.Press(kCancelButton);
        });
        localView.OnOpen(kChangePasswordTemplate, [&](ScriptedWindow& w) {
            w.Type(kCurrentEdit, c.fields.current);
            w.Type(kNewEdit, c.fields.fresh);
            w.Type(kConfirmEdit, c.fields.confirm);
            w.Type(kNewHintEdit, c.fields.hint);
            w.Press(kApplyButton);
            focus = w.focus();
            closed = w.closed();
            w.Press(kChangeCancel);
        });
        localApp.Run(u"");
        EXPECT_FALSE(closed);
        ASSERT_EQ(localView.MessageIds(), std::vector<ui::StringId>{c.message});
        EXPECT_EQ(localView.messages()[0].message.icon, c.icon);
        EXPECT_EQ(focus, c.focus);
        EXPECT_EQ(library.CallCount("QDAChangePassWord"), 0u);
    }
    EXPECT_EQ(device.password, u"Secret42");
}

TEST_F(ChangePasswordTest, ChangesPasswordAndHint) {
    Apply({u"Secret42", u"NewOne55", u"NewOne55", u"a new hint"}, [](ScriptedWindow& w) {
        EXPECT_TRUE(w.closed());
        EXPECT_EQ(w.result(), ui::kResultOk);
    });
    EXPECT_EQ(device.password, u"NewOne55");
    EXPECT_EQ(device.hint, u"a new hint");
    EXPECT_EQ(view.MessageIds(), std::vector<ui::StringId>{146});
    EXPECT_EQ(view.messages()[0].message.icon, Icon::kInformation);
    // The current password was proved first, then the new one written; both left the record.
    EXPECT_EQ(library.passwordsSeen, (std::vector<std::u16string>{u"Secret42", u"NewOne55"}));
    EXPECT_EQ(ReadFixedUtf16(app.session().request.password, 11), u"");
    EXPECT_EQ(app.session().request.changeOp, 3);
    // The login dialog closed with the change-password dialog's OK.
    EXPECT_TRUE(JournalHas("close 102 1"));
}

TEST_F(ChangePasswordTest, FirstPasswordOnADeviceWithoutOne) {
    device.passwordSet = false;
    device.open = false;
    view.OnOpen(kChangePasswordTemplate, [](ScriptedWindow& w) {
        EXPECT_FALSE(w.Enabled(kCurrentEdit));
        EXPECT_EQ(w.Limit(kNewEdit), 10u);
        EXPECT_EQ(w.Limit(kNewHintEdit), 75u);
        w.Type(kNewEdit, u"Fresh123");
        w.Type(kConfirmEdit, u"Fresh123");
        w.Type(kNewHintEdit, u"12345");
        w.Press(kApplyButton);
        EXPECT_TRUE(w.closed());
    });
    EXPECT_EQ(app.Run(u"LOGIN"), Outcome::kDone);
    EXPECT_EQ(view.MessageIds(), std::vector<ui::StringId>{155});
    EXPECT_EQ(library.CallCount("QDASHA2Auth"), 0u);
    EXPECT_EQ(device.password, u"Fresh123");
}

TEST_F(ChangePasswordTest, WriteFailures) {
    struct Case {
        std::function<int(QdaRequest&)> change;
        std::vector<ui::StringId> messages;
    };
    const Case cases[] = {
        {[](QdaRequest& r) {
             r.errorCode = 50;
             return r.changeOp == 2 ? 1 : 0;
         },
         {1085, 125}},
        {[](QdaRequest& r) {
             r.errorCode = 0;
             return r.changeOp == 2 ? 1 : 0;
         },
         {125}},
        // A library without the export has written nothing: that is a failure too.
        {nullptr, {125}},
    };
    for (const Case& c : cases) {
        ui::ScriptedView localView;
        FakeLoader localLoader(&library);
        ui::ResourceStrings localStrings(KeyportStrings());
        CKEYPORTApp localApp(host, localView, localLoader, localStrings);
        library.changePassword = c.change;
        bool closed = true;
        localView.OnOpen(kLoginTemplate, [](ScriptedWindow& w) {
            w.Press(kOptionsButton);
            w.Press(kCancelButton);
        });
        localView.OnOpen(kChangePasswordTemplate, [&](ScriptedWindow& w) {
            w.Type(kCurrentEdit, u"Secret42");
            w.Type(kNewEdit, u"NewOne55");
            w.Type(kConfirmEdit, u"NewOne55");
            w.Type(kNewHintEdit, u"a new hint");
            w.Press(kApplyButton);
            closed = w.closed();
            EXPECT_EQ(w.focus(), kCurrentEdit);
            w.Press(kChangeCancel);
        });
        localApp.Run(u"");
        EXPECT_FALSE(closed);
        EXPECT_EQ(localView.MessageIds(), c.messages);
        EXPECT_EQ(localView.messages().back().message.icon, Icon::kError);
        EXPECT_EQ(device.password, u"Secret42");
        device.open = false;
    }
}

TEST_F(KeyportTest, HintReadFailureLeavesTheFieldEmpty) {
    library.changePassword = [](QdaRequest&) { return 0; };
    device.verifyCount = 1;
    view.OnOpen(kHintTemplate, [](ScriptedWindow& w) {
        EXPECT_TRUE(w.Text(kHintText).empty());
        EXPECT_FALSE(w.closed());
        w.Press(kHintOk);
    });
    view.OnOpen(kLoginTemplate, [&](ScriptedWindow& w) {
        for (int i = 0; i < 3; ++i) {
            LoginWith(w, u"wrong99");
        }
        w.Press(kHintButton);
        w.Press(kCancelButton);
    });
    app.Run(u"");
    EXPECT_EQ(view.MessageIds(), (std::vector<ui::StringId>{105, 105, 106, 143}));
    EXPECT_EQ(view.messages()[3].message.icon, Icon::kNone);
    EXPECT_EQ(app.session().request.changeOp, 2);
}

// --- Library error texts -------------------------------------------------------------------

TEST_F(KeyportTest, LibraryErrorTexts) {
    Session& s = app.session();
    s.names = ui::ProgramNames::From(u"E:\\ACMELCK.EXE");
    struct Case {
        std::uint8_t code;
        std::uint8_t media;
        const char16_t* text;
    };
    const Case cases[] = {
        {1, 1, u"Unable to load the file ACMEKVX.VXD!"},
        {3, 1, u"Device Control (GET_IVT) call failed for the device ACMEKVX.VXD!"},
        {2, 1, u"Unable to load the file WNASPI32.DLL."},
        {11, 2, u"Unable to write the file system of the flash media."},
        {11, 1, u"Unable to write the file system of the hard drive."},
        {28, 2, u"Unable to read the Flash Media Information."},
        {28, 1, u"Unable to read the Hard Drive Information."},
        {25, 1, u"Authentication verification failed"},
        {37, 1, u"Enabling the AES engine of the device failed."},
        {47, 1, u"Enabling the secure AES engine of the device failed."},
        {48, 1, u"Setting the AES key or IV of the device failed."},
        {50, 1, u"The password hint is too long. Please enter a shorter hint."},
        {51, 1, u"The password must not be empty. Please enter a password."},
        {52, 1, u"The device has no stamp record for the CD image. Nothing was written."},
    };
    for (const Case& c : cases) {
        const auto m = LibraryErrorMessage(s, c.code, c.media);
        ASSERT_TRUE(m.has_value()) << int(c.code);
        EXPECT_EQ(m->text, c.text) << int(c.code);
        EXPECT_EQ(m->icon, Icon::kNone);
        EXPECT_EQ(m->caption, u"Corvane Login ");
    }
    for (const std::uint8_t quiet : {0, 45, 49, 53, 200, 255}) {
        EXPECT_FALSE(LibraryErrorMessage(s, quiet, 1).has_value()) << int(quiet);
    }
    // Every code from 1 to 48 but 45 has a text of its own, and 50 to 52.
    for (int code = 1; code <= 52; ++code) {
        if (code == 45 || code == 49) {
            continue;
        }
        const auto m = LibraryErrorMessage(s, static_cast<std::uint8_t>(code), 1);
        ASSERT_TRUE(m.has_value()) << code;
        EXPECT_FALSE(m->text.empty()) << code;
    }
}

TEST(KeyportStrings, TableIsOneOfAKind) {
    const auto& table = KeyportStrings();
    std::set<ui::StringId> ids;
    for (const auto& e : table.entries()) {
        EXPECT_TRUE(ids.insert(e.id).second) << "duplicate id " << e.id;
        EXPECT_NE(e.text, nullptr);
    }
    // Texts the program must show exactly.
    EXPECT_EQ(table.Load(57344), u"Corvane Login ");
    EXPECT_EQ(table.Load(101), u"&About Corvane Login  ");
    EXPECT_EQ(table.Load(144),
              u"Confirm Password doesn't match with New Password \rPlease reenter the password");
    EXPECT_EQ(table.Load(155),
              u"Password Security enabled succesfully.Please unplug and plug in the USB cable for "
              u"the changes to take effect.");
    EXPECT_EQ(table.Load(1025), u" Click this button to see the hint.");
    EXPECT_EQ(table.Load(1070), u"INI Entries in the path ");
    EXPECT_TRUE(table.Load(9999).empty());
    // Every string a library error shows is in the table.
    for (const auto& e : LibraryErrorTable()) {
        EXPECT_TRUE(table.Contains(e.id)) << int(e.code);
    }
}

}  // namespace
}  // namespace kvx::test
