#include "apps/keywiper/progress_targets.h"

#include <algorithm>
#include <string>

namespace kvx::keywiper {

ProgressTargets::ProgressTargets(ui::Window& window, ui::ControlId bar, ui::ControlId percent,
                                 ui::ControlId status, std::function<void()> pump) {
    Bind(dialog_, window.Handle(),
         ProgressSink{{},
                      {},
                      [pump = std::move(pump)]() -> std::optional<DialogEvent> {
                          if (pump) {
                              pump();
                          }
                          return std::nullopt;
                      },
                      {}});
    Bind(bar_, window.ControlHandle(bar),
         ProgressSink{{},
                      [&window, bar](int position) {
                          window.SetProgress(bar,
                                             static_cast<unsigned>(std::clamp(position, 0, 100)));
                      },
                      {},
                      {}});
    const auto textOf = [&window](ui::ControlId id) {
        return ProgressSink{
            [&window, id](std::u16string_view text) { window.SetText(id, text); }, {}, {}, {}};
    };
    Bind(percent_, window.ControlHandle(percent), textOf(percent));
    Bind(status_, window.ControlHandle(status), textOf(status));
}

void ProgressTargets::Bind(Target& target, std::uint32_t own, ProgressSink sink) {
    target.handle = own;
#ifdef _WIN32
    // The Windows host drives real windows only.
    (void)sink;
#else
    if (own == 0) {
        target.sink.emplace(std::move(sink));
        target.handle = target.sink->handle();
    }
#endif
}

void ProgressTargets::Into(QdaRequest& request, bool withStatus) const {
    request.progressDialog = dialog_.handle;
    request.progressBar = bar_.handle;
    request.progressPercent = percent_.handle;
    request.progressStatus = withStatus ? status_.handle : 0;
}

void ProgressTargets::Clear(QdaRequest& request) {
    request.progressDialog = 0;
    request.progressBar = 0;
    request.progressPercent = 0;
    request.progressStatus = 0;
}

const ui::DialogSpec& EventPass::Spec() const {
    static const ui::DialogSpec spec{0, {}};
    return spec;
}

void EventPass::OnInit(ui::Window& window) {
    window.StartTimer(1, 0);
}

void EventPass::OnTimer(ui::Window& window, unsigned id) {
    (void)id;
    window.Close(ui::kResultOk);
}

void EventPass::OnCommand(ui::Window& window, ui::ControlId id) {
    (void)window;
    (void)id;
}

void EventPass::OnCloseRequest(ui::Window& window) {
    window.Close(ui::kResultCancel);
}

std::function<void()> EventPassPump(ui::View& view) {
    return [&view] {
        EventPass pass;
        view.RunFrame(pass);
    };
}

}  // namespace kvx::keywiper
