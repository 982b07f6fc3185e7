// The English resource library through the Windows loader.
#include <windows.h>

#include "common/strings.h"
#include "host/text.h"

namespace kvx::ui {
namespace {

class Win32ResourceModule final : public ResourceModule {
  public:
    explicit Win32ResourceModule(HMODULE module) : module_(module) {}
    ~Win32ResourceModule() override { FreeLibrary(module_); }
    Win32ResourceModule(const Win32ResourceModule&) = delete;
    Win32ResourceModule& operator=(const Win32ResourceModule&) = delete;

    std::u16string String(StringId id) const override {
        // With a zero buffer size LoadStringW hands out the resource's own read-only text.
        const wchar_t* text = nullptr;
        const int n = LoadStringW(module_, id, reinterpret_cast<LPWSTR>(&text), 0);
        if (n <= 0 || text == nullptr) {
            return {};
        }
        return std::u16string(reinterpret_cast<const char16_t*>(text), static_cast<std::size_t>(n));
    }

    void* NativeHandle() const override { return module_; }

  private:
    HMODULE module_;
};

}  // namespace

std::unique_ptr<ResourceModule> LoadResourceModule(const std::string& nativePath) {
    const std::u16string wide = FromUtf8(nativePath);
    HMODULE module = LoadLibraryW(reinterpret_cast<const wchar_t*>(wide.c_str()));
    if (module == nullptr) {
        return nullptr;
    }
    return std::make_unique<Win32ResourceModule>(module);
}

bool UserLanguageIsEnglish() {
    return PRIMARYLANGID(GetUserDefaultLangID()) == LANG_ENGLISH;
}

}  // namespace kvx::ui
