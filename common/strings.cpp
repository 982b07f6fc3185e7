#include "common/strings.h"

#include <algorithm>

namespace kvx::ui {

std::u16string StringTable::Load(StringId id) const {
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [id](const StringEntry& e) { return e.id == id; });
    return it == entries_.end() || it->text == nullptr ? std::u16string() : it->text;
}

bool StringTable::Contains(StringId id) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [id](const StringEntry& e) { return e.id == id; });
}

std::u16string ResourceStrings::Load(StringId id) const {
    return module_ ? module_->String(id) : builtIn_.Load(id);
}

std::u16string FormatStrings(std::u16string_view format,
                             std::initializer_list<std::u16string_view> args) {
    std::u16string out;
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == u'%' && i + 1 < format.size()) {
            if (format[i + 1] == u's') {
                if (next != args.end()) {
                    out += *next++;
                }
                ++i;
                continue;
            }
            if (format[i + 1] == u'%') {
                out += u'%';
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

}  // namespace kvx::ui
