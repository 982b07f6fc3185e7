#include "host/progress_sink.h"

#include <map>
#include <mutex>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

namespace kvx {
namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::uint32_t, ProgressSink> sinks;
    std::uint32_t next = 1;
};

}  // namespace
}  // namespace kvx

#if !defined(_WIN32)
// A program links this code and also loads the library, which carries its own copy; the program
// publishes its registry under this name so that the library's progress reaches the sinks the
// program's view registered.
extern "C" __attribute__((visibility("default"))) void* KvxProgressSinkRegistry() {
    static kvx::Registry registry;
    return &registry;
}
#endif

namespace kvx {
namespace {

Registry& TheRegistry() {
#if defined(_WIN32)
    // Windows programs show progress through real windows; each module keeps its own.
    static Registry registry;
    return registry;
#else
    // The first definition in the process's global scope: the program's when it exports one.
    static Registry* const shared = [] {
        using Accessor = void* (*)();
        void* const found = dlsym(RTLD_DEFAULT, "KvxProgressSinkRegistry");
        const Accessor accessor =
            found != nullptr ? reinterpret_cast<Accessor>(found) : &KvxProgressSinkRegistry;
        return static_cast<Registry*>(accessor());
    }();
    return *shared;
#endif
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
