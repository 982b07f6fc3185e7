// Shared libraries through the dynamic loader.
#include <dlfcn.h>

#include "common/exports.h"

namespace kvx::ui {
namespace {

class PosixModule final : public LoadedModule {
  public:
    explicit PosixModule(void* handle) : handle_(handle) {}
    ~PosixModule() override { dlclose(handle_); }
    PosixModule(const PosixModule&) = delete;
    PosixModule& operator=(const PosixModule&) = delete;

    AnyFunction Find(const char* name) override {
        // POSIX guarantees that a data pointer from dlsym converts to a function pointer.
        return reinterpret_cast<AnyFunction>(dlsym(handle_, name));
    }

  private:
    void* handle_;
};

}  // namespace

std::unique_ptr<LoadedModule> LoadedModule::Open(const std::string& nativePath) {
    // A path without a slash would make dlopen search the library path; the file beside the
    // program is meant.
    const std::string path =
        nativePath.find('/') == std::string::npos ? "./" + nativePath : nativePath;
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        return nullptr;
    }
    return std::make_unique<PosixModule>(handle);
}

}  // namespace kvx::ui
