#include "frame/config.h"

#include <string>

#include "frame/naming.h"
#include "frame/request_text.h"
#include "host/host.h"

namespace kvx {

Config::Config(Host& host) : Config(host, ConfigFilePath(host)) {}

Config::Config(Host& host, std::u16string path) : host_(host), path_(std::move(path)) {}

bool Config::Exists() const {
    const OpenResult file = host_.Open(path_, kAccessRead, kShareRead | kShareWrite);
    if (file.handle == kInvalidHandle) {
        return false;
    }
    host_.Close(file.handle);
    return true;
}

std::u16string Config::Read(std::u16string_view section, std::u16string_view key,
                            std::size_t maxChars, std::u16string_view defaultValue) const {
    return host_.ReadProfileString(section, key, defaultValue, path_, maxChars);
}

std::u16string Config::ReadIndexed(std::u16string_view section, std::u16string_view key,
                                   unsigned index, std::size_t maxChars) const {
    std::u16string name(key);
    name += Latin1ToUtf16(std::to_string(index));
    return Read(section, name, maxChars);
}

}  // namespace kvx
