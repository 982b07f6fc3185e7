// Bridge chip codes (INQUIRY bytes 54-57) that choose model-specific behaviour, in the library and
// in the programs.
#pragma once

#include <string_view>

namespace kvx {

// The chip whose hard disks carry the CD partition at sector 0.
inline constexpr std::u16string_view kSpecialChipCode = u"8A1C";

// Chips whose secure unit the login application opens with the launch export instead of a
// partition refresh.
inline constexpr std::u16string_view kLaunchChipCodes[] = {u"7E4A", u"D3F5"};

// Whether an upper-cased chip text contains one of the launch chips' codes.
constexpr bool IsLaunchChip(std::u16string_view upperText) {
    for (const std::u16string_view code : kLaunchChipCodes) {
        if (upperText.find(code) != std::u16string_view::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace kvx
