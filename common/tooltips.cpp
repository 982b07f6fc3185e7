#include "common/tooltips.h"

namespace kvx::ui {

const char16_t* TooltipTexts::Wide(ControlId id) {
    wide_ = id < 0 ? std::u16string() : strings_.Load(static_cast<StringId>(id));
    return wide_.c_str();
}

const char* TooltipTexts::Narrow(ControlId id) {
    narrow_ = host_.ToAnsi(id < 0 ? std::u16string() : strings_.Load(static_cast<StringId>(id)));
    return narrow_.c_str();
}

}  // namespace kvx::ui
