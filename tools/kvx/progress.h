// A progress bar on stderr for the long exports (reset, format, cd-update): percentage, rate and
// time left, drawn only when stderr is a terminal and kvx is not --quiet. It receives the
// library's progress reports through the same seam Keywiper's terminal view uses: a progress
// sink whose handle goes into the request record's progress-bar field.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "frame/qda.h"
#include "host/progress_sink.h"

namespace kvx::cli {

class ProgressBar {
  public:
    // totalBytes: the work the whole bar stands for (0 when unknown: the rate is then in %/s).
    ProgressBar(bool shown, std::string label, std::uint64_t totalBytes);
    // Ends the line and takes the handle out of the record.
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Puts the bar's handle into the record (nothing when the bar is not shown).
    void Into(QdaRequest& request);
    // Draws the bar at `percent` (0 to 100).
    void Update(int percent);

  private:
    using Clock = std::chrono::steady_clock;

    bool shown_;
    std::string label_;
    std::uint64_t totalBytes_;
    Clock::time_point start_ = Clock::now();
    std::optional<ScopedProgressSink> sink_;
    QdaRequest* request_ = nullptr;
    int last_ = -1;
};

// The rate and time-left text of a bar: "12.5 MB/s, 0:42 left" (or "3.0 %/s" without a byte
// total); empty before anything can be said.
std::string RateText(int percent, double seconds, std::uint64_t totalBytes);

}  // namespace kvx::cli
