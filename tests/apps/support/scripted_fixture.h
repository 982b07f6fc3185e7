// The scripted view a program test drives, and a look into its journal.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "common/scripted_view.h"

namespace kvx::test {

class ScriptedViewTest : public ::testing::Test {
  public:
    // Whether the view's journal holds `line`.
    bool JournalHas(const std::string& line) const {
        const auto& j = view.journal();
        return std::find(j.begin(), j.end(), line) != j.end();
    }

    ui::ScriptedView view;
};

}  // namespace kvx::test
