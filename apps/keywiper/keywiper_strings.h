// Keywiper's string resources: ids as named constants and the built-in table.
#pragma once

#include "common/strings.h"

namespace kvx::keywiper {

enum KeywiperString : ui::StringId {
#define KVX_STRING(name, id, text) name = id,
#include "apps/keywiper/keywiper_strings.inc"
#undef KVX_STRING
};

// Every text of the program, by id.
const ui::StringTable& KeywiperStrings();

}  // namespace kvx::keywiper
