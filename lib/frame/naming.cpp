#include "frame/naming.h"

#include "frame/request_text.h"
#include "host/host.h"

namespace kvx {

std::u16string_view FileNamePart(std::u16string_view path) {
    const std::size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

std::u16string_view DirectoryPart(std::u16string_view path) {
    const std::size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string_view::npos ? std::u16string_view{} : path.substr(0, slash + 1);
}

std::u16string NamingPrefix(std::u16string_view programPath) {
    const std::u16string_view name = FileNamePart(programPath);
    constexpr std::size_t kSuffixLength = 7;  // e.g. "LCK.EXE"
    return std::u16string(
        name.size() < kSuffixLength ? name : name.substr(0, name.size() - kSuffixLength));
}

std::u16string ConfigFilePath(Host& host) {
    const std::u16string program = host.ModuleFileName();
    return std::u16string(DirectoryPart(program)) + NamingPrefix(program) + u"KVX.INI";
}

std::u16string BannerValue(Host& host) {
    return NamingPrefix(host.ModuleFileName()) + u"KVX.DLL Version " +
           Latin1ToUtf16(kLibraryVersion);
}

}  // namespace kvx
