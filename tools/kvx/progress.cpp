#include "tools/kvx/progress.h"

#include <algorithm>
#include <cstdio>

#include "host/sectors.h"

namespace kvx::cli {
namespace {

constexpr int kBarCells = 30;
constexpr int kFullPercent = 100;

}  // namespace

std::string RateText(int percent, double seconds, std::uint64_t totalBytes) {
    if (percent <= 0 || seconds <= 0) {
        return {};
    }
    const double perSecond = percent / seconds;
    char text[64];
    if (totalBytes != 0) {
        std::snprintf(text, sizeof text, "%.1f MB/s",
                      perSecond * static_cast<double>(totalBytes) / kFullPercent /
                          static_cast<double>(kBytesPerMb));
    } else {
        std::snprintf(text, sizeof text, "%.1f %%/s", perSecond);
    }
    std::string result = text;
    if (percent < kFullPercent) {
        const auto left = static_cast<long>((kFullPercent - percent) / perSecond + 0.5);
        std::snprintf(text, sizeof text, ", %ld:%02ld left", left / 60, left % 60);
        result += text;
    }
    return result;
}

ProgressBar::ProgressBar(bool shown, std::string label, std::uint64_t totalBytes)
    : shown_(shown), label_(std::move(label)), totalBytes_(totalBytes) {
    if (shown_) {
        sink_.emplace(ProgressSink{{}, [this](int percent) { Update(percent); }, {}, {}});
    }
}

ProgressBar::~ProgressBar() {
    if (request_ != nullptr) {
        request_->progressBar = 0;
    }
    if (shown_ && last_ >= 0) {
        std::fputs("\n", stderr);
        std::fflush(stderr);
    }
}

void ProgressBar::Into(QdaRequest& request) {
    if (sink_) {
        request.progressBar = sink_->handle();
        request_ = &request;
    }
}

void ProgressBar::Update(int percent) {
    percent = std::clamp(percent, 0, kFullPercent);
    if (!shown_ || percent == last_) {
        return;
    }
    last_ = percent;
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    const int filled = percent * kBarCells / kFullPercent;
    const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                            std::string(static_cast<std::size_t>(kBarCells - filled), '.');
    const std::string rate = RateText(percent, seconds, totalBytes_);
    // Back to the line's start, then clear what a longer line left.
    std::fprintf(stderr, "\r%s [%s] %3d%%%s%s\x1b[K", label_.c_str(), bar.c_str(), percent,
                 rate.empty() ? "" : "  ", rate.c_str());
    std::fflush(stderr);
}

}  // namespace kvx::cli
