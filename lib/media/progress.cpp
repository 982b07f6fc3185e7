#include "media/progress.h"

#include <string>

#include "frame/request_text.h"

namespace kvx::media {

void ReportProgress(Host& host, const QdaRequest& request, int percent,
                    std::optional<std::u16string_view> text) {
    if (request.progressPercent != 0) {
        host.SetControlText(request.progressPercent, FormatText("%d %%", percent));
    }
    if (request.progressBar != 0) {
        host.SetProgressPosition(request.progressBar, percent);
    }
    if (request.progressStatus != 0 && text) {
        host.SetControlText(request.progressStatus, *text);
    }
    if (request.progressDialog != 0) {
        host.PumpDialogMessages(request.progressDialog);
    }
}

void ProgressReporter::Update(std::uint64_t done, std::uint64_t total) {
    // An 8-bit percentage, as the writers have always reported it.
    const int percent =
        total == 0 ? 0 : static_cast<int>(static_cast<std::uint8_t>(done * 100 / total));
    if (percent != last_) {
        Report(percent);
    }
}

void ProgressReporter::Report(int percent) {
    last_ = percent;
    ReportProgress(host_, request_, percent, std::u16string_view(text_));
}

}  // namespace kvx::media
