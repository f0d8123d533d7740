#include "library.h"

#include <cstddef>
#include <string>
#include <vector>

#include "commands.h"
#include "library_loader.h"

namespace orvexctl {
namespace {

// Calls visit(name, member) for every function of the card API, so that each
// name is written once, beside the member it fills.
template <typename Exports, typename Visit>
void ForEachCardFunction(Exports& exports, Visit visit) {
#define ORVEXCTL_CARD_FUNCTION(name) visit(#name, exports.name)
  ORVEXCTL_CARD_FUNCTION(orvex_error_message);
  ORVEXCTL_CARD_FUNCTION(orvex_base_conflict);
  ORVEXCTL_CARD_FUNCTION(orvex_default_base);
  ORVEXCTL_CARD_FUNCTION(orvex_open);
  ORVEXCTL_CARD_FUNCTION(orvex_card_base);
  ORVEXCTL_CARD_FUNCTION(orvex_count_of);
  ORVEXCTL_CARD_FUNCTION(orvex_value_for_count);
  ORVEXCTL_CARD_FUNCTION(orvex_ma);
  ORVEXCTL_CARD_FUNCTION(orvex_mr);
  ORVEXCTL_CARD_FUNCTION(orvex_sv);
  ORVEXCTL_CARD_FUNCTION(orvex_st);
  ORVEXCTL_CARD_FUNCTION(orvex_dh);
  ORVEXCTL_CARD_FUNCTION(orvex_gh);
  ORVEXCTL_CARD_FUNCTION(orvex_tp);
  ORVEXCTL_CARD_FUNCTION(orvex_ok);
  ORVEXCTL_CARD_FUNCTION(orvex_mt);
  ORVEXCTL_CARD_FUNCTION(orvex_ws);
  ORVEXCTL_CARD_FUNCTION(orvex_rt);
  ORVEXCTL_CARD_FUNCTION(orvex_card_holder);
#undef ORVEXCTL_CARD_FUNCTION
}

// The same for the virtual-controller build's functions.
template <typename Exports, typename Visit>
void ForEachVirtualControllerFunction(Exports& exports, Visit visit) {
  visit("orvexsim_set_line_callback", exports.set_line_callback);
  visit("orvexsim_set_clock", exports.set_clock);
  visit("orvexsim_record_vcd", exports.record_vcd);
  visit("orvexsim_stop_vcd", exports.stop_vcd);
  visit("orvexsim_add_card", exports.add_card);
  visit("orvexsim_card_set_line_callback", exports.card_set_line_callback);
  visit("orvexsim_card_record_vcd", exports.card_record_vcd);
  visit("orvexsim_card_stop_vcd", exports.card_stop_vcd);
}

// Fills `function` with the export `name`; false when there is none.
template <typename Function>
bool Bind(const LibraryExports::Finder& find, const char* name, Function& function) {
  function = reinterpret_cast<Function>(find(name));
  return function != nullptr;
}

}  // namespace

LibraryExports LibraryExports::Find(const Finder& find, std::vector<std::string>& missing) {
  LibraryExports exports;
  for (const CommandSpec& command : Commands()) {
    Symbol function = nullptr;
    if (!command.function.empty()) {  // a command of the card API alone has none
      const std::string name(command.function);
      function = find(name.c_str());
      if (function == nullptr) missing.push_back(name);
    }
    exports.functions_.push_back(function);
  }
  return exports;
}

std::size_t LibraryExports::RowOf(const CommandSpec& command) {
  return static_cast<std::size_t>(&command - Commands().data());
}

CardExports CardExports::Find(const LibraryExports::Finder& find,
                              std::vector<std::string>& missing) {
  CardExports exports;
  ForEachCardFunction(exports, [&](const char* name, auto& function) {
    if (!Bind(find, name, function)) missing.emplace_back(name);
  });
  return exports;
}

std::vector<std::string> CardExports::Names() {
  std::vector<std::string> names;
  CardExports unused;
  ForEachCardFunction(unused, [&](const char* name, auto&) { names.emplace_back(name); });
  return names;
}

std::vector<std::string> VirtualControllerNames() {
  std::vector<std::string> names;
  VirtualControllerExports unused;
  ForEachVirtualControllerFunction(unused,
                                   [&](const char* name, auto&) { names.emplace_back(name); });
  return names;
}

BoundLibrary BindExports(const DynamicLibrary& library) {
  const LibraryExports::Finder find = [&library](const char* name) { return library.Find(name); };
  BoundLibrary bound;
  bound.exports = LibraryExports::Find(find, bound.missing);
  bound.card = CardExports::Find(find, bound.missing);
  VirtualControllerExports virtual_controller;
  bool complete = true;
  ForEachVirtualControllerFunction(virtual_controller, [&](const char* name, auto& function) {
    complete = Bind(find, name, function) && complete;
  });
  if (complete) bound.virtual_controller = virtual_controller;
  return bound;
}

}  // namespace orvexctl
