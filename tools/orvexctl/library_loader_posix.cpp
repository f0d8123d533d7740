// Loading with dlopen and dlsym.
#include <dlfcn.h>

#include <filesystem>
#include <memory>
#include <string>

#include "library_loader.h"

namespace orvexctl {

std::unique_ptr<DynamicLibrary> DynamicLibrary::Open(const std::filesystem::path& path,
                                                     std::string& error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    error = reason != nullptr ? reason : "dlopen failed";
    return nullptr;
  }
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle));
}

DynamicLibrary::~DynamicLibrary() {
  dlclose(handle_);
}

Symbol DynamicLibrary::Find(const char* name) const {
  return reinterpret_cast<Symbol>(dlsym(handle_, name));
}

std::filesystem::path ExecutablePath() {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/self/exe", error);
}

}  // namespace orvexctl
