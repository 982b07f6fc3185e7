// Keyport's string resources: ids as named constants and the built-in table.
#pragma once

#include "common/strings.h"

namespace kvx::keyport {

enum KeyportString : ui::StringId {
#define KVX_STRING(name, id, text) name = id,
#include "apps/keyport/keyport_strings.inc"
#undef KVX_STRING
};

// Every text of the program, by id.
const ui::StringTable& KeyportStrings();

}  // namespace kvx::keyport
