#include "library.h"

#include <string>
#include <vector>

#include "library_loader.h"

namespace orvexctl {
namespace {

template <typename Function>
bool Bind(const DynamicLibrary& library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(library.Find(name));
  return function != nullptr;
}

template <typename Function>
void BindRequired(const DynamicLibrary& library, const char* name, Function& function,
                  std::vector<std::string>& missing) {
  if (!Bind(library, name, function)) missing.emplace_back(name);
}

}  // namespace

BoundLibrary BindExports(const DynamicLibrary& library) {
  BoundLibrary bound;
  LibraryExports& exports = bound.exports;
  BindRequired(library, "MA", exports.MA, bound.missing);
  BindRequired(library, "MR", exports.MR, bound.missing);
  BindRequired(library, "SV", exports.SV, bound.missing);
  BindRequired(library, "ST", exports.ST, bound.missing);
  BindRequired(library, "DH", exports.DH, bound.missing);
  BindRequired(library, "GH", exports.GH, bound.missing);
  BindRequired(library, "TP", exports.TP, bound.missing);
  BindRequired(library, "OK", exports.OK, bound.missing);
  BindRequired(library, "MT", exports.MT, bound.missing);
  BindRequired(library, "WS", exports.WS, bound.missing);
  BindRequired(library, "RT", exports.RT, bound.missing);
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
