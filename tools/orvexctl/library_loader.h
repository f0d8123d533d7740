// Loading a shared library at run time and looking its exports up by their
// undecorated names, as a host program does.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace orvexctl {

// An export as found; the caller converts it to the function type it expects.
using Symbol = void (*)();

class DynamicLibrary {
 public:
  // Loads the library at exactly `path`; on failure returns nullptr and puts
  // the system's reason into `error`.
  static std::unique_ptr<DynamicLibrary> Open(const std::filesystem::path& path,
                                              std::string& error);
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // The export with this name, or nullptr.
  Symbol Find(const char* name) const;

 private:
  explicit DynamicLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

// The file of the running program.
std::filesystem::path ExecutablePath();

}  // namespace orvexctl
