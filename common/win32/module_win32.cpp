// Dynamic-link libraries through the Windows loader.
#include <windows.h>

#include "common/exports.h"
#include "host/text.h"

namespace kvx::ui {
namespace {

class Win32Module final : public LoadedModule {
  public:
    explicit Win32Module(HMODULE module) : module_(module) {}
    ~Win32Module() override { FreeLibrary(module_); }
    Win32Module(const Win32Module&) = delete;
    Win32Module& operator=(const Win32Module&) = delete;

    AnyFunction Find(const char* name) override {
        return reinterpret_cast<AnyFunction>(GetProcAddress(module_, name));
    }

  private:
    HMODULE module_;
};

}  // namespace

std::unique_ptr<LoadedModule> LoadedModule::Open(const std::string& nativePath) {
    const std::u16string wide = FromUtf8(nativePath);
    HMODULE module = LoadLibraryW(reinterpret_cast<const wchar_t*>(wide.c_str()));
    if (module == nullptr) {
        return nullptr;
    }
    return std::make_unique<Win32Module>(module);
}

}  // namespace kvx::ui
