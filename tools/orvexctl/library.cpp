#include "library.h"

#include <cstddef>
#include <string>
#include <vector>

#include "commands.h"
#include "library_loader.h"

namespace orvexctl {

LibraryExports LibraryExports::Find(const Finder& find, std::vector<std::string>& missing) {
  LibraryExports exports;
  for (const CommandSpec& command : Commands()) {
    const std::string name(command.function);
    const Symbol function = find(name.c_str());
    if (function == nullptr) missing.push_back(name);
    exports.functions_.push_back(function);
  }
  return exports;
}

std::size_t LibraryExports::RowOf(const CommandSpec& command) {
  return static_cast<std::size_t>(&command - Commands().data());
}

BoundLibrary BindExports(const DynamicLibrary& library) {
  BoundLibrary bound;
  bound.exports = LibraryExports::Find([&library](const char* name) { return library.Find(name); },
                                       bound.missing);
  const auto set_line_callback = reinterpret_cast<decltype(&::orvexsim_set_line_callback)>(
      library.Find("orvexsim_set_line_callback"));
  if (set_line_callback != nullptr) bound.virtual_controller = {set_line_callback};
  return bound;
}

}  // namespace orvexctl
