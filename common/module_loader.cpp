#include "common/module_loader.h"

#include "common/program_names.h"
#include "frame/naming.h"

namespace kvx::ui {

std::string NativeModuleLoader::NativePath(std::u16string_view path) const {
    return NativeCompanionPath(program_, FileNamePart(path));
}

SymbolSource* NativeModuleLoader::LoadDeviceLibrary(std::u16string_view path) {
    if (!library_) {
        library_ = LoadedModule::Open(NativePath(path));
    }
    return library_.get();
}

std::unique_ptr<ResourceModule> NativeModuleLoader::LoadResources(std::u16string_view path) {
    return LoadResourceModule(NativePath(path));
}

}  // namespace kvx::ui
