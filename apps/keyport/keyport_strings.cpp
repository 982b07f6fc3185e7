#include "apps/keyport/keyport_strings.h"

namespace kvx::keyport {
namespace {

constexpr ui::StringEntry kEntries[] = {
#define KVX_STRING(name, id, text) {id, text},
#include "apps/keyport/keyport_strings.inc"
#undef KVX_STRING
};

}  // namespace

const ui::StringTable& KeyportStrings() {
    static const ui::StringTable table(kEntries);
    return table;
}

}  // namespace kvx::keyport
