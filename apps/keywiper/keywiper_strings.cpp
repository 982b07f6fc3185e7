#include "apps/keywiper/keywiper_strings.h"

namespace kvx::keywiper {
namespace {

constexpr ui::StringEntry kEntries[] = {
#define KVX_STRING(name, id, text) {id, text},
#include "apps/keywiper/keywiper_strings.inc"
#undef KVX_STRING
};

}  // namespace

const ui::StringTable& KeywiperStrings() {
    static const ui::StringTable table(kEntries);
    return table;
}

}  // namespace kvx::keywiper
