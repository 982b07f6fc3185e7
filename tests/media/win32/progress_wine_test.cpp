// The progress reporter on real windows (run under Wine): WM_SETTEXT and PBM_SETPOS reach the
// controls, and the pump dispatches the dialog's queue up to the first Escape, which it drops.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/progress.h"

namespace kvx::test {
namespace {

struct Seen {
    std::vector<std::wstring> texts;
    std::vector<WPARAM> positions;
    std::vector<UINT> messages;
};
Seen* g_seen = nullptr;

LRESULT CALLBACK Recorder(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (g_seen != nullptr) {
        if (message == WM_SETTEXT) {
            g_seen->texts.emplace_back(reinterpret_cast<const wchar_t*>(lParam));
        } else if (message == WM_USER + 2) {  // PBM_SETPOS
            g_seen->positions.push_back(wParam);
        } else if (message == WM_KEYDOWN || message >= WM_APP) {
            g_seen->messages.push_back(message);
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

std::uint32_t Handle(HWND window) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window));
}

class RealWindows : public ::testing::Test {
  protected:
    void SetUp() override {
        WNDCLASSW wc{};
        wc.lpfnWndProc = Recorder;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KvxProgressRecorder";
        RegisterClassW(&wc);
        for (HWND* w : {&dialog, &bar, &label, &status}) {
            // Message-only windows: no display needed.
            *w = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 wc.hInstance, nullptr);
            ASSERT_NE(*w, nullptr);
        }
        g_seen = &seen;
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    void TearDown() override {
        g_seen = nullptr;
        for (HWND w : {dialog, bar, label, status}) {
            DestroyWindow(w);
        }
    }
    Seen seen;
    HWND dialog = nullptr, bar = nullptr, label = nullptr, status = nullptr;
};

TEST_F(RealWindows, ControlsGetTextAndPosition) {
    QdaRequest r{};
    r.progressBar = Handle(bar);
    r.progressPercent = Handle(label);
    r.progressStatus = Handle(status);
    media::ReportProgress(PlatformHost(), r, 37, std::u16string_view(u"Writing"));
    EXPECT_EQ(seen.positions, std::vector<WPARAM>{37});
    ASSERT_EQ(seen.texts.size(), 2u);
    EXPECT_EQ(seen.texts[0], L"37 %");
    EXPECT_EQ(seen.texts[1], L"Writing");
    wchar_t text[32] = {};
    GetWindowTextW(label, text, 32);
    EXPECT_EQ(std::wstring(text), L"37 %");

    // No text: the status line keeps what it shows.
    media::ReportProgress(PlatformHost(), r, 38, std::nullopt);
    EXPECT_EQ(seen.texts.size(), 3u);
    GetWindowTextW(status, text, 32);
    EXPECT_EQ(std::wstring(text), L"Writing");
}

TEST_F(RealWindows, EscapeIsDroppedAndStopsThePump) {
    PostMessageW(dialog, WM_APP + 1, 0, 0);
    PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(dialog, WM_APP + 2, 0, 0);
    QdaRequest r{};
    r.progressDialog = Handle(dialog);
    media::ReportProgress(PlatformHost(), r, 1, std::nullopt);
    EXPECT_EQ(seen.messages, std::vector<UINT>{WM_APP + 1});
    MSG m;
    ASSERT_TRUE(PeekMessageW(&m, dialog, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_APP + 2));
    EXPECT_FALSE(PeekMessageW(&m, dialog, 0, 0, PM_REMOVE));
}

TEST_F(RealWindows, AllHandlesZeroLeaveTheQueueAlone) {
    PostMessageW(dialog, WM_APP + 3, 0, 0);
    QdaRequest r{};
    media::ReportProgress(PlatformHost(), r, 50, std::u16string_view(u"x"));
    EXPECT_TRUE(seen.texts.empty());
    EXPECT_TRUE(seen.messages.empty());
    MSG m;
    EXPECT_TRUE(PeekMessageW(&m, dialog, 0, 0, PM_REMOVE));
}

}  // namespace
}  // namespace kvx::test
