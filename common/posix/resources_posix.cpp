// Without Windows there are no resource libraries: the built-in tables are the program's strings.
#include "common/strings.h"

namespace kvx::ui {

std::unique_ptr<ResourceModule> LoadResourceModule(const std::string&) {
    return nullptr;
}

bool UserLanguageIsEnglish() {
    return true;
}

}  // namespace kvx::ui
