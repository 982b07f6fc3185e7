// Helpers for tests that run several instances of a program: another instance beside a fixture's,
// and a sibling program's marker held while a case runs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include "apps/support/fake_library.h"
#include "common/program_app.h"
#include "common/scripted_view.h"
#include "common/strings.h"

namespace kvx::test {

// Another instance of a program beside a fixture's: its own view and loader, the same library.
template <class App, const ui::StringTable& (*BuiltInStrings)()>
struct AnotherInstance {
    AnotherInstance(Host& host, ui::SymbolSource& library)
        : loader(&library), strings(BuiltInStrings()), app(host, view, loader, strings) {}
    ui::ScriptedView view;
    FakeLoader loader;
    ui::ResourceStrings strings;
    App app;
};

// A sibling program's marker ("SET", "PRT", ...) and the outcome a program start should have
// while the marker holds the value.
struct SiblingCase {
    const char* sibling;
    std::uint32_t value;
    ui::Outcome expected;

    std::string Name() const { return std::string(sibling) + "=" + std::to_string(value); }
};

// Holds a sibling program's marker with a value until it goes out of scope.
class HeldMarker {
  public:
    HeldMarker(const AppHost& host, const SiblingCase& c)
        : block_(PlatformHost().OpenOrCreateSharedBlock(host.MarkerName(c.sibling))) {
        written_ = block_ && PlatformHost().WriteSharedBlock(block_->handle, c.value);
    }
    ~HeldMarker() {
        if (block_) {
            PlatformHost().Close(block_->handle);
        }
    }
    HeldMarker(const HeldMarker&) = delete;
    HeldMarker& operator=(const HeldMarker&) = delete;

    // Whether the block exists and holds the value.
    bool held() const { return written_; }

  private:
    std::optional<Host::SharedBlock> block_;
    bool written_ = false;
};

// Runs `body` for each case while the case's marker is held.
template <class Body>
void WithEachSiblingMarker(const AppHost& host, std::initializer_list<SiblingCase> cases,
                           Body body) {
    for (const SiblingCase& c : cases) {
        SCOPED_TRACE(c.Name());
        const HeldMarker marker(host, c);
        ASSERT_TRUE(marker.held());
        body(c);
    }
}

}  // namespace kvx::test
