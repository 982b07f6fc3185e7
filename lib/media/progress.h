// The one progress path of the long exports: the caller's progress bar, percentage label and
// status line, and its dialog kept responsive while sectors move.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "frame/qda.h"
#include "host/host.h"

namespace kvx::media {

// Shows percent (0-100) and, when given, a status text in the controls the record names; each
// handle that is 0 is skipped. Pumps the dialog's messages when the record names one.
void ReportProgress(Host& host, const QdaRequest& request, int percent,
                    std::optional<std::u16string_view> text);

// Reports only when the integer percentage changed since the last report.
class ProgressReporter {
  public:
    ProgressReporter(Host& host, const QdaRequest& request, std::u16string text)
        : host_(host), request_(request), text_(std::move(text)) {}

    // The share done of total, reported when it moved.
    void Update(std::uint64_t done, std::uint64_t total);
    // Reports percent now, whatever was reported before.
    void Report(int percent);
    void SetText(std::u16string text) { text_ = std::move(text); }

  private:
    Host& host_;
    const QdaRequest& request_;
    std::u16string text_;
    int last_ = 0;
};

}  // namespace kvx::media
