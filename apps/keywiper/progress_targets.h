// The request record's window fields for a long export: the dialog, its progress bar, its
// percentage text and its status line.
//
// A view with windows of its own hands out their handles, and the library drives them with
// window messages. Where the host has no windows (host/progress_sink.h), the handles name sinks
// registered here for as long as the object lives: they move the window's controls, and the
// dialog's sink lets the view draw and take pending input through `pump`.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "common/view.h"
#include "frame/qda.h"
#include "host/progress_sink.h"

namespace kvx::keywiper {

class ProgressTargets {
  public:
    ProgressTargets(ui::Window& window, ui::ControlId bar, ui::ControlId percent,
                    ui::ControlId status, std::function<void()> pump);
    ProgressTargets(const ProgressTargets&) = delete;
    ProgressTargets& operator=(const ProgressTargets&) = delete;

    // Puts the handles into the record; the status line only when `withStatus`.
    void Into(QdaRequest& request, bool withStatus) const;
    // Takes them out again.
    static void Clear(QdaRequest& request);

  private:
    struct Target {
        std::uint32_t handle = 0;
        std::optional<ScopedProgressSink> sink;
    };
    // The window's own handle when it has one, else a sink's.
    static void Bind(Target& target, std::uint32_t own, ProgressSink sink);

    Target dialog_;
    Target bar_;
    Target percent_;
    Target status_;
};

// A hidden frame that closes at its first timer tick: running it lets a view that draws its own
// windows show what changed and take the input that is waiting, once. Keys it takes reach this
// frame only, so a long operation never sees them.
class EventPass final : public ui::Dialog {
  public:
    const ui::DialogSpec& Spec() const override;
    void OnInit(ui::Window& window) override;
    void OnTimer(ui::Window& window, unsigned id) override;
    void OnCommand(ui::Window& window, ui::ControlId id) override;
    void OnCloseRequest(ui::Window& window) override;
};

// The pump for Session::pump on a view that draws its own windows: one EventPass per report.
std::function<void()> EventPassPump(ui::View& view);

}  // namespace kvx::keywiper
