#include "support/outside_tools.h"

namespace kvx::test {

bool HaveTool(const std::string& name) {
    return Shell("command -v " + name + " >/dev/null", nullptr) == 0;
}

}  // namespace kvx::test
