// A console whose keys and clock a test controls.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/console.h"

namespace kvx::test {

// Keys arrive at given times on a clock that moves only when the view waits.
class FakeConsole final : public ui::Console {
  public:
    void Type(std::string_view bytes, std::uint64_t at) {
        for (const char c : bytes) {
            keys.push_back({at, static_cast<unsigned char>(c)});
        }
    }
    std::optional<int> ReadByte(int timeoutMs) override {
        const std::uint64_t until = now + static_cast<std::uint64_t>(std::max(timeoutMs, 0));
        if (keys.empty()) {
            if (ended) {
                return ui::kEndOfInput;
            }
            now = until;
            return std::nullopt;
        }
        if (keys.front().first > until) {
            now = until;
            return std::nullopt;
        }
        now = std::max(now, keys.front().first);
        const int b = keys.front().second;
        keys.pop_front();
        return b;
    }
    void Sleep(int ms) override { now += static_cast<std::uint64_t>(std::max(ms, 0)); }
    void Write(std::string_view utf8) override { output += utf8; }
    std::uint64_t NowMs() override { return now; }
    bool IsTerminal() const override { return terminal; }

    std::deque<std::pair<std::uint64_t, int>> keys;
    std::uint64_t now = 1000;
    std::string output;
    bool ended = true;  // once the keys are used up, the input ends
    bool terminal = false;
};

}  // namespace kvx::test
