// Progress controls of a program's own view on hosts without windows. A view registers a sink
// for each control it shows (a progress bar, a label, a status line, the dialog itself) and puts
// the handles it got into the request record; the library's progress reports then reach the
// sinks through the host, as window messages reach real controls on Windows.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace kvx {

// One queued input event of a dialog, as far as the progress pump tells them apart.
struct DialogEvent {
    enum class Kind { kKeyDown, kButtonDown, kOther };
    Kind kind = Kind::kOther;
    std::uint32_t key = 0;  // virtual-key code of a key press
};

inline constexpr std::uint32_t kKeyReturn = 0x0D;
inline constexpr std::uint32_t kKeyEscape = 0x1B;

// Escape and Enter presses and mouse button presses never reach a dialog during a long
// operation: the pump drops the first one it meets and stops.
bool DiscardedWhilePumping(const DialogEvent& event);

struct ProgressSink {
    std::function<void(std::u16string_view)> setText;  // a label or a status line
    std::function<void(int)> setPosition;              // a progress bar, 0 to 100
    // A dialog: takes the next queued event off its queue (nullopt when empty) ...
    std::function<std::optional<DialogEvent>()> nextEvent;
    // ... and handles one that is not discarded.
    std::function<void(const DialogEvent&)> dispatch;
};

// Registers a sink for the whole process; the handle is never 0.
std::uint32_t RegisterProgressSink(ProgressSink sink);
void UnregisterProgressSink(std::uint32_t handle);

class ScopedProgressSink {
  public:
    explicit ScopedProgressSink(ProgressSink sink)
        : handle_(RegisterProgressSink(std::move(sink))) {}
    ~ScopedProgressSink() { UnregisterProgressSink(handle_); }
    ScopedProgressSink(const ScopedProgressSink&) = delete;
    ScopedProgressSink& operator=(const ScopedProgressSink&) = delete;
    std::uint32_t handle() const { return handle_; }

  private:
    std::uint32_t handle_;
};

// The progress operations of a host without windows; a handle without a sink (or without the
// callback) is ignored.
void SinkSetText(std::uint32_t handle, std::u16string_view text);
void SinkSetPosition(std::uint32_t handle, int percent);
void SinkPump(std::uint32_t dialog);

}  // namespace kvx
