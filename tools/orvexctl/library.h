// The library's functions, looked up in a loaded build by their names.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "library_loader.h"
#include "orvexportio_sim.h"

namespace orvexctl {

// The function behind each row of the command table, found by its name.
class LibraryExports {
 public:
  // Where to look a name up: the address, or nullptr.
  using Finder = std::function<Symbol(const char* name)>;

  // Looks every command's function up; the names not found go to `missing`.
  static LibraryExports Find(const Finder& find, std::vector<std::string>& missing);

  // The function behind `command`, as the type orvexportio.h gives it.
  template <typename FunctionPointer>
  FunctionPointer FunctionOf(const CommandSpec& command) const {
    return reinterpret_cast<FunctionPointer>(functions_.at(RowOf(command)));
  }

 private:
  static std::size_t RowOf(const CommandSpec& command);
  std::vector<Symbol> functions_;  // in the order of Commands()
};

// What only the virtual-controller build exports.
struct VirtualControllerExports {
  decltype(&::orvexsim_set_line_callback) set_line_callback = nullptr;
  decltype(&::orvexsim_set_clock) set_clock = nullptr;
  decltype(&::orvexsim_record_vcd) record_vcd = nullptr;
  decltype(&::orvexsim_stop_vcd) stop_vcd = nullptr;
};

struct BoundLibrary {
  LibraryExports exports;
  std::optional<VirtualControllerExports> virtual_controller;  // when it is that build
  std::vector<std::string> missing;                            // names of the eleven it lacks
};

BoundLibrary BindExports(const DynamicLibrary& library);

}  // namespace orvexctl
