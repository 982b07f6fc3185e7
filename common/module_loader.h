// Loading of the program's companion libraries. The program names them as the host sees them
// ("E:\KVX.DLL" when it runs from the device's CD drive); the loader opens the file of that name
// beside the program's real file.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "common/exports.h"
#include "common/strings.h"

namespace kvx::ui {

class ModuleLoader {
  public:
    virtual ~ModuleLoader() = default;
    // The device library; loaded at most once and kept until the loader is destroyed (the end
    // of the program). Null when it cannot be loaded.
    virtual SymbolSource* LoadDeviceLibrary(std::u16string_view path) = 0;
    // A resource library; null when it cannot be loaded.
    virtual std::unique_ptr<ResourceModule> LoadResources(std::u16string_view path) = 0;
};

class NativeModuleLoader final : public ModuleLoader {
  public:
    // `nativeProgramPath`: the running program's real file (the platform host's module name).
    explicit NativeModuleLoader(std::u16string nativeProgramPath)
        : program_(std::move(nativeProgramPath)) {}

    SymbolSource* LoadDeviceLibrary(std::u16string_view path) override;
    std::unique_ptr<ResourceModule> LoadResources(std::u16string_view path) override;

    // The native file a companion name maps to.
    std::string NativePath(std::u16string_view path) const;

  private:
    std::u16string program_;
    std::unique_ptr<LoadedModule> library_;
};

}  // namespace kvx::ui
