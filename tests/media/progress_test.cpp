// The progress reporter: what reaches the caller's controls, and the dialog pump that never lets
// a confirming key or a click through during a long operation. On hosts without windows the
// controls are sinks the program's view registered.
#include "media/progress.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "host/progress_sink.h"
#include "tests/media/media_test_util.h"

namespace kvx::test {
namespace {

#ifndef _WIN32  // the platform host of the Windows builds drives real windows instead

// Sinks for a bar, a percentage label, a status line and a dialog with an input queue.
struct RecordingView {
    std::vector<int> positions;
    std::vector<std::u16string> percentTexts;
    std::vector<std::u16string> statusTexts;
    std::deque<DialogEvent> queue;
    std::vector<DialogEvent> dispatched;

    ScopedProgressSink bar{ProgressSink{{}, [this](int p) { positions.push_back(p); }, {}, {}}};
    ScopedProgressSink percent{
        ProgressSink{[this](std::u16string_view t) { percentTexts.emplace_back(t); }, {}, {}, {}}};
    ScopedProgressSink status{
        ProgressSink{[this](std::u16string_view t) { statusTexts.emplace_back(t); }, {}, {}, {}}};
    ScopedProgressSink dialog{
        ProgressSink{{},
                     {},
                     [this]() -> std::optional<DialogEvent> {
                         if (queue.empty()) {
                             return std::nullopt;
                         }
                         const DialogEvent e = queue.front();
                         queue.pop_front();
                         return e;
                     },
                     [this](const DialogEvent& e) { dispatched.push_back(e); }}};

    void Into(QdaRequest& r) const {
        r.progressBar = bar.handle();
        r.progressPercent = percent.handle();
        r.progressStatus = status.handle();
        r.progressDialog = dialog.handle();
    }
};

DialogEvent Key(std::uint32_t key) {
    return {DialogEvent::Kind::kKeyDown, key};
}
DialogEvent Other(std::uint32_t tag) {
    return {DialogEvent::Kind::kOther, tag};
}

TEST(ProgressReporter, ReachesTheRegisteredControls) {
    RecordingView view;
    QdaRequest r{};
    view.Into(r);
    media::ReportProgress(PlatformHost(), r, 42, std::u16string_view(u"Working..."));
    EXPECT_EQ(view.positions, std::vector<int>{42});
    EXPECT_EQ(view.percentTexts, std::vector<std::u16string>{u"42 %"});
    EXPECT_EQ(view.statusTexts, std::vector<std::u16string>{u"Working..."});
}

TEST(ProgressReporter, AllHandlesZeroDoNothing) {
    RecordingView view;
    view.queue = {Other(1)};
    QdaRequest r{};
    media::ReportProgress(PlatformHost(), r, 50, std::u16string_view(u"text"));
    EXPECT_TRUE(view.positions.empty());
    EXPECT_TRUE(view.percentTexts.empty());
    EXPECT_TRUE(view.statusTexts.empty());
    EXPECT_TRUE(view.dispatched.empty());
    EXPECT_EQ(view.queue.size(), 1u);
}

TEST(ProgressReporter, NoTextLeavesTheStatusLineAlone) {
    RecordingView view;
    QdaRequest r{};
    view.Into(r);
    media::ReportProgress(PlatformHost(), r, 10, std::nullopt);
    EXPECT_TRUE(view.statusTexts.empty());
    EXPECT_EQ(view.positions, std::vector<int>{10});
}

TEST(ProgressReporter, ConfirmingKeysAndClicksAreDiscardedAndStopThePump) {
    struct Case {
        const char* what;
        DialogEvent stopper;
    };
    const Case cases[] = {
        {"Escape", Key(kKeyEscape)},
        {"Enter", Key(kKeyReturn)},
        {"mouse button", {DialogEvent::Kind::kButtonDown, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingView view;
        view.queue = {Other(1), Key('A'), c.stopper, Other(2)};
        QdaRequest r{};
        view.Into(r);
        media::ReportProgress(PlatformHost(), r, 5, std::nullopt);
        ASSERT_EQ(view.dispatched.size(), 2u);
        EXPECT_EQ(view.dispatched[0].key, 1u);
        EXPECT_EQ(view.dispatched[1].key, std::uint32_t{'A'});
        // The stopper is gone, what came after it waits for the next report.
        ASSERT_EQ(view.queue.size(), 1u);
        EXPECT_EQ(view.queue.front().key, 2u);
    }
}

TEST(ProgressReporter, AFormatDrivesTheViewToOneHundred) {
    DeviceFixture fx(SecureLayout(sim::Media::kHdd, 40, true));
    RecordingView view;
    view.queue = {Other(7), Key(kKeyEscape)};
    QdaRequest r = fx.Request();
    view.Into(r);
    r.passwordSupported = 1;
    r.secureSizeMb = 40;
    r.changeOp = 4;
    ASSERT_EQ(QDAFormatHDD(&r), 1) << int(r.errorCode);
    ASSERT_FALSE(view.positions.empty());
    EXPECT_TRUE(std::is_sorted(view.positions.begin(), view.positions.end()));
    EXPECT_EQ(view.positions.back(), 100);
    EXPECT_GT(view.positions.size(), 10u);  // it moved step by step
    EXPECT_EQ(view.percentTexts.back(), u"100 %");
    EXPECT_EQ(view.statusTexts.back(), u"Writing the file system into Secure partition...");
    EXPECT_EQ(view.dispatched.size(), 1u);
    EXPECT_TRUE(view.queue.empty());
}

#endif

TEST(ProgressReporter, ReportsOnlyWhenThePercentageMoves) {
    // A host that counts what the reporter asks of it.
    struct Counting : ForwardingHost {
        Counting() : ForwardingHost(PlatformHost()) {}
        std::vector<int> positions;
        void SetProgressPosition(std::uint32_t, int percent) override {
            positions.push_back(percent);
        }
        void SetControlText(std::uint32_t, std::u16string_view) override {}
        void PumpDialogMessages(std::uint32_t) override {}
    } host;
    QdaRequest r{};
    r.progressBar = 1;
    media::ProgressReporter reporter(host, r, u"");
    for (std::uint64_t done = 0; done <= 1000; ++done) {
        reporter.Update(done, 1000);
    }
    reporter.Report(100);
    std::vector<int> expected;
    for (int p = 1; p <= 100; ++p) {
        expected.push_back(p);
    }
    expected.push_back(100);
    EXPECT_EQ(host.positions, expected);
}

}  // namespace
}  // namespace kvx::test
