#include "host/progress_sink.h"

#include <map>
#include <mutex>

namespace kvx {
namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::uint32_t, ProgressSink> sinks;
    std::uint32_t next = 1;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

// A copy of the sink, so that callbacks run without the lock (they may register sinks).
std::optional<ProgressSink> Find(std::uint32_t handle) {
    if (handle == 0) {
        return std::nullopt;
    }
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    const auto it = r.sinks.find(handle);
    if (it == r.sinks.end()) {
        return std::nullopt;
    }
    return it->second;
}

}  // namespace

bool DiscardedWhilePumping(const DialogEvent& event) {
    switch (event.kind) {
        case DialogEvent::Kind::kButtonDown:
            return true;
        case DialogEvent::Kind::kKeyDown:
            return event.key == kKeyEscape || event.key == kKeyReturn;
        case DialogEvent::Kind::kOther:
            return false;
    }
    return false;
}

std::uint32_t RegisterProgressSink(ProgressSink sink) {
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    while (r.next == 0 || r.sinks.contains(r.next)) {
        ++r.next;
    }
    const std::uint32_t handle = r.next++;
    r.sinks.emplace(handle, std::move(sink));
    return handle;
}

void UnregisterProgressSink(std::uint32_t handle) {
    Registry& r = TheRegistry();
    const std::lock_guard lock(r.mutex);
    r.sinks.erase(handle);
}

void SinkSetText(std::uint32_t handle, std::u16string_view text) {
    if (const auto sink = Find(handle); sink && sink->setText) {
        sink->setText(text);
    }
}

void SinkSetPosition(std::uint32_t handle, int percent) {
    if (const auto sink = Find(handle); sink && sink->setPosition) {
        sink->setPosition(percent);
    }
}

void SinkPump(std::uint32_t dialog) {
    const auto sink = Find(dialog);
    if (!sink || !sink->nextEvent) {
        return;
    }
    while (const std::optional<DialogEvent> event = sink->nextEvent()) {
        if (DiscardedWhilePumping(*event)) {
            return;
        }
        if (sink->dispatch) {
            sink->dispatch(*event);
        }
    }
}

}  // namespace kvx
