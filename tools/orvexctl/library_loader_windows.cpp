// Loading with LoadLibrary and GetProcAddress.
#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "library_loader.h"

namespace orvexctl {
namespace {

HMODULE Module(void* handle) {
  return static_cast<HMODULE>(handle);
}

std::string SystemMessage(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 && text != nullptr ? std::string(text, length) : std::string();
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return "error " + std::to_string(code) + (message.empty() ? "" : ": " + message);
}

}  // namespace

std::unique_ptr<DynamicLibrary> DynamicLibrary::Open(const std::filesystem::path& path,
                                                     std::string& error) {
  HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) {
    error = SystemMessage(GetLastError());
    return nullptr;
  }
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(module));
}

DynamicLibrary::~DynamicLibrary() {
  FreeLibrary(Module(handle_));
}

Symbol DynamicLibrary::Find(const char* name) const {
  return reinterpret_cast<Symbol>(GetProcAddress(Module(handle_), name));
}

std::filesystem::path ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::filesystem::path(std::wstring(buffer.data(), length));
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace orvexctl
