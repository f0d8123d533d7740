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

// The card API, each function under its own name, as orvexportio.h types it.
struct CardExports {
  decltype(&::orvex_error_message) orvex_error_message = nullptr;
  decltype(&::orvex_base_conflict) orvex_base_conflict = nullptr;
  decltype(&::orvex_default_base) orvex_default_base = nullptr;
  decltype(&::orvex_open) orvex_open = nullptr;
  decltype(&::orvex_card_base) orvex_card_base = nullptr;
  decltype(&::orvex_count_of) orvex_count_of = nullptr;
  decltype(&::orvex_value_for_count) orvex_value_for_count = nullptr;
  decltype(&::orvex_ma) orvex_ma = nullptr;
  decltype(&::orvex_mr) orvex_mr = nullptr;
  decltype(&::orvex_sv) orvex_sv = nullptr;
  decltype(&::orvex_st) orvex_st = nullptr;
  decltype(&::orvex_dh) orvex_dh = nullptr;
  decltype(&::orvex_gh) orvex_gh = nullptr;
  decltype(&::orvex_tp) orvex_tp = nullptr;
  decltype(&::orvex_ok) orvex_ok = nullptr;
  decltype(&::orvex_mt) orvex_mt = nullptr;
  decltype(&::orvex_ws) orvex_ws = nullptr;
  decltype(&::orvex_rt) orvex_rt = nullptr;
  decltype(&::orvex_card_holder) orvex_card_holder = nullptr;

  // Looks every one up; the names not found go to `missing`.
  static CardExports Find(const LibraryExports::Finder& find, std::vector<std::string>& missing);
  // The names it looks up, in order: for the test against the export list.
  static std::vector<std::string> Names();
};

// What only the virtual-controller build exports: on the first card, and on
// the card at a base (orvexsim_card_...).
struct VirtualControllerExports {
  decltype(&::orvexsim_set_line_callback) set_line_callback = nullptr;
  decltype(&::orvexsim_set_clock) set_clock = nullptr;
  decltype(&::orvexsim_record_vcd) record_vcd = nullptr;
  decltype(&::orvexsim_stop_vcd) stop_vcd = nullptr;
  decltype(&::orvexsim_add_card) add_card = nullptr;
  decltype(&::orvexsim_card_set_line_callback) card_set_line_callback = nullptr;
  decltype(&::orvexsim_card_record_vcd) card_record_vcd = nullptr;
  decltype(&::orvexsim_card_stop_vcd) card_stop_vcd = nullptr;
};

// The names of the virtual-controller build's functions orvexctl looks up.
std::vector<std::string> VirtualControllerNames();

struct BoundLibrary {
  LibraryExports exports;
  CardExports card;
  std::optional<VirtualControllerExports> virtual_controller;  // when it is that build
  std::vector<std::string> missing;  // names of the eleven and the card API it lacks
};

BoundLibrary BindExports(const DynamicLibrary& library);

}  // namespace orvexctl
