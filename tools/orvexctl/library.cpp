#include "library.h"

#include <cstddef>
#include <string>
#include <vector>

#include "commands.h"
#include "library_loader.h"

namespace orvexctl {
namespace {

template <typename Function>
bool Bind(const DynamicLibrary& library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(library.Find(name));
  return function != nullptr;
}

}  // namespace

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
  VirtualControllerExports virtual_controller;
  if (Bind(library, "orvexsim_set_line_callback", virtual_controller.set_line_callback) &&
      Bind(library, "orvexsim_set_clock", virtual_controller.set_clock) &&
      Bind(library, "orvexsim_record_vcd", virtual_controller.record_vcd) &&
      Bind(library, "orvexsim_stop_vcd", virtual_controller.stop_vcd)) {
    bound.virtual_controller = virtual_controller;
  }
  return bound;
}

}  // namespace orvexctl
