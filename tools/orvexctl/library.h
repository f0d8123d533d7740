// The library's functions, looked up in a loaded build by their names.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "library_loader.h"
#include "orvexportio.h"
#include "orvexportio_sim.h"

namespace orvexctl {

// The eleven functions every build exports.
struct LibraryExports {
  decltype(&::MA) MA = nullptr;
  decltype(&::MR) MR = nullptr;
  decltype(&::SV) SV = nullptr;
  decltype(&::ST) ST = nullptr;
  decltype(&::DH) DH = nullptr;
  decltype(&::GH) GH = nullptr;
  decltype(&::TP) TP = nullptr;
  decltype(&::OK) OK = nullptr;
  decltype(&::MT) MT = nullptr;
  decltype(&::WS) WS = nullptr;
  decltype(&::RT) RT = nullptr;
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
