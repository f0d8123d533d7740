// Which port driver library this Windows machine can load, from the library's
// own list for this bitness, and, for one that does not load, whether the
// file the loader finds is built for the other bitness.
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "port/driver_libraries.h"
#include "port_diagnosis.h"

namespace orvex::diagnosis {
namespace {

#ifdef _WIN64
constexpr std::uint16_t OWN_MACHINE = IMAGE_FILE_MACHINE_AMD64;
#else
constexpr std::uint16_t OWN_MACHINE = IMAGE_FILE_MACHINE_I386;
#endif

// The names in the library's list are plain ASCII.
std::string Narrow(const wchar_t* wide) {
  std::string narrow;
  for (; *wide != L'\0'; ++wide) narrow += static_cast<char>(*wide);
  return narrow;
}

std::string Utf8(const std::wstring& wide) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string text(static_cast<std::size_t>(size - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(), size, nullptr, nullptr);
  return text;
}

bool Loadable(const wchar_t* name) {
  HMODULE module = LoadLibraryW(name);
  if (module == nullptr) return false;
  FreeLibrary(module);
  return true;
}

// The file the loader would take for `name`: the program's folder, the system
// folders, the current folder, then PATH, as SearchPath looks.
std::optional<std::wstring> LoaderFile(const wchar_t* name) {
  wchar_t found[MAX_PATH];
  const DWORD length = SearchPathW(nullptr, name, nullptr, MAX_PATH, found, nullptr);
  if (length == 0 || length >= MAX_PATH) return std::nullopt;
  return std::wstring(found, length);
}

// A driver library that is there but did not load: built for another processor?
std::optional<DriverOfOtherBitness> OfOtherBitness(const wchar_t* name) {
  const std::optional<std::wstring> file = LoaderFile(name);
  if (!file) return std::nullopt;
  std::ifstream image(std::filesystem::path(*file), std::ios::binary);
  const std::optional<std::uint16_t> machine = PeMachine(image);
  if (!machine || *machine == OWN_MACHINE) return std::nullopt;
  return DriverOfOtherBitness{Narrow(name), Utf8(*file), *machine};
}

}  // namespace

DriverLibraries ProbeDriverLibraries() {
  DriverLibraries drivers;
  drivers.own_machine = OWN_MACHINE;
  for (const wchar_t* name : orvex::port::DriverLibraryNames()) {
    drivers.tried.push_back(Narrow(name));
    if (Loadable(name)) {
      drivers.loadable.push_back(Narrow(name));
    } else if (auto other = OfOtherBitness(name)) {
      drivers.other_bitness.push_back(*other);
    }
  }
  return drivers;
}

std::string ExplainRoute(unsigned base) {
  DriverLibraries drivers = ProbeDriverLibraries();
  drivers.base = base;
  return ExplainDriverLibraryRoute(drivers);
}

std::string ExplainSilentCard(unsigned base) {
  DriverLibraries drivers = ProbeDriverLibraries();
  drivers.base = base;
  return WithSharing(ProbeCardSharing(base), base, ExplainDriverLibraries(drivers));
}

}  // namespace orvex::diagnosis
