#include "common/module_loader.h"

#include "common/program_names.h"

namespace kvx::ui {
namespace {

std::u16string_view FileNameOf(std::u16string_view path) {
    const std::size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string NativeModuleLoader::NativePath(std::u16string_view path) const {
    return NativeCompanionPath(program_, FileNameOf(path));
}

SymbolSource* NativeModuleLoader::LoadDeviceLibrary(std::u16string_view path) {
    if (!library_) {
        library_ = LoadedModule::Open(NativePath(path), &error_);
    }
    return library_.get();
}

std::unique_ptr<ResourceModule> NativeModuleLoader::LoadResources(std::u16string_view path) {
    return LoadResourceModule(NativePath(path));
}

}  // namespace kvx::ui
