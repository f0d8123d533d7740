// orvexctl: calls the library's functions from the command line, for
// commissioning the controller and for scripts. It loads the library at run
// time and looks the functions up by name, exactly as a host program does.
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "exit_status.h"
#include "library.h"
#include "library_loader.h"
#include "library_location.h"
#include "orvexportio.h"
#include "port_diagnosis.h"
#include "runner.h"
#include "trace.h"

namespace orvexctl {
namespace {

std::string Joined(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : ", ") + name;
  return joined;
}

// The library the request names, or nothing after telling why.
std::optional<std::filesystem::path> LocateLibrary(const Request& request) {
  if (request.library == LibraryChoice::Path) return std::filesystem::path(request.library_path);
  const std::string_view name =
      request.library == LibraryChoice::Simulated ? SimulatedLibraryName() : HardwareLibraryName();
  const std::filesystem::path tool_folder = ExecutablePath().parent_path();
  if (auto found = FindLibrary(tool_folder, name)) return found;
  std::cerr << "orvexctl: cannot find " << name << "; looked at:\n";
  for (const auto& candidate : LibraryCandidates(tool_folder, name)) {
    std::cerr << "  " << candidate.string() << '\n';
  }
  std::cerr << "give its path with --library PATH\n";
  return std::nullopt;
}

std::string SilentVirtualController() {
  return "the virtual controller did not answer, which it does only when told to misbehave";
}

// orvexctl as the user would call it again on the same library and card.
std::string OrvexctlCall(const Request& request) {
  std::string call = "orvexctl";
  if (request.library == LibraryChoice::Path) call += " --library " + request.library_path;
  if (request.base) call += " --base " + request.base_text;
  return call;
}

// What orvex_base_conflict says, as the end of a sentence: a device the
// card's registers would overlap, or the range they would leave.
std::string ConflictText(const std::string& conflict) {
  if (conflict.starts_with("outside")) return conflict;
  return "the card's registers would overlap " + conflict;
}

// The card the commands drive, found (on the virtual controller put on the
// bus) and opened; or nothing, after telling why on standard error.
std::optional<orvex_card*> OpenCard(const BoundLibrary& bound, const Request& request) {
  const unsigned base = *request.base;
  const std::string named = "--base " + request.base_text;
  if (const char* conflict = bound.card.orvex_base_conflict(base)) {
    std::cerr << "orvexctl: " << named << " is refused: " << ConflictText(conflict) << '\n';
    return std::nullopt;
  }
  if (bound.virtual_controller && bound.virtual_controller->add_card(base) != 1) {
    std::cerr << "orvexctl: " << named
              << ": no virtual card may sit there: its registers overlap another card's, or the "
                 "bus holds 16 cards already\n";
    return std::nullopt;
  }
  int error = ORVEX_SUCCESS;
  orvex_card* card = bound.card.orvex_open(base, &error);
  if (card == nullptr) {
    std::cerr << "orvexctl: " << named << ": " << bound.card.orvex_error_message(error) << '\n';
    return std::nullopt;
  }
  return card;
}

// The eleven functions' card, opened through the card API; or nothing when
// ORVEXPORTIO_BASE keeps them from every card, after telling why.
std::optional<orvex_card*> OpenDefaultCard(const BoundLibrary& bound) {
  unsigned base = 0;
  if (const int error = bound.card.orvex_default_base(&base); error != ORVEX_SUCCESS) {
    const std::string refusal = orvex::diagnosis::BaseSettingRefusal();
    std::cerr << "orvexctl: " << (refusal.empty() ? bound.card.orvex_error_message(error) : refusal)
              << '\n';
    return std::nullopt;
  }
  int error = ORVEX_SUCCESS;
  orvex_card* card = bound.card.orvex_open(base, &error);
  if (card == nullptr) {
    std::cerr << "orvexctl: the card at " << orvex::diagnosis::AddressText(base) << ": "
              << bound.card.orvex_error_message(error) << '\n';
    return std::nullopt;
  }
  return card;
}

// Why the processes on a card are not kept apart: a virtual bus of this
// process alone, or what the diagnosis finds about the card's record.
std::function<std::string()> WhyNotShared(const BoundLibrary& bound, unsigned base) {
  if (bound.virtual_controller) {
    return [] {
      return std::string(
          "the virtual bus belongs to this process alone; ORVEXPORTIO_SIM_SHARED=NAME puts "
          "several processes on one");
    };
  }
  return [base] {
    const orvex::diagnosis::CardSharing sharing = orvex::diagnosis::ProbeCardSharing(base);
    return std::string(sharing.problem != nullptr ? sharing.problem
                                                  : "its machine-wide record cannot be had");
  };
}

// The first option given that only the virtual-controller build serves.
const char* VirtualControllerOption(const Request& request) {
  if (request.trace) return "--trace";
  if (request.fast) return "--fast";
  if (!request.vcd_path.empty()) return "--vcd";
  return nullptr;
}

// The virtual controller's options, on the first card or the card of --base.
bool StartVirtualControllerOptions(const VirtualControllerExports& bus, const Request& request,
                                   TracePrinter& trace) {
  if (request.fast) bus.set_clock(ORVEXSIM_CLOCK_VIRTUAL);
  if (!request.vcd_path.empty()) {
    const int recording = request.base
                              ? bus.card_record_vcd(*request.base, request.vcd_path.c_str())
                              : bus.record_vcd(request.vcd_path.c_str());
    if (recording != 1) {
      std::cerr << "orvexctl: cannot write " << request.vcd_path << '\n';
      return false;
    }
  }
  if (request.trace) {
    if (request.base) {
      bus.card_set_line_callback(*request.base, TracePrinter::OnLine, &trace);
    } else {
      bus.set_line_callback(TracePrinter::OnLine, &trace);
    }
  }
  return true;
}

void StopVirtualControllerOptions(const VirtualControllerExports& bus, const Request& request) {
  if (request.trace) {
    if (request.base) {
      bus.card_set_line_callback(*request.base, nullptr, nullptr);
    } else {
      bus.set_line_callback(nullptr, nullptr);
    }
  }
  if (!request.vcd_path.empty()) {
    if (request.base) {
      bus.card_stop_vcd(*request.base);
    } else {
      bus.stop_vcd();
    }
  }
}

// The likely cause of a failure on the card the commands drive.
std::function<std::string()> LikelyCause(const BoundLibrary& bound, const Request& request) {
  if (bound.virtual_controller) return SilentVirtualController;
  if (request.base)
    return [base = *request.base] { return orvex::diagnosis::ExplainSilentCard(base); };
  return orvex::diagnosis::ExplainSilentController;
}

// How the library reaches the card the commands drive, told after a failure;
// none for the virtual controller.
std::function<std::string()> Route(const BoundLibrary& bound, const Request& request) {
  if (bound.virtual_controller) return {};
  if (request.base) return [base = *request.base] { return orvex::diagnosis::ExplainRoute(base); };
  return orvex::diagnosis::ExplainControllerRoute;
}

int RunOnLoadedLibrary(const BoundLibrary& bound, const Request& request, orvex_card* opened) {
  TracePrinter trace(std::cout);
  if (bound.virtual_controller &&
      !StartVirtualControllerOptions(*bound.virtual_controller, request, trace)) {
    return kBadArguments;
  }
  const CardSession card{bound.card, opened,
                         WhyNotShared(bound, bound.card.orvex_card_base(opened))};
  const Session session{bound.exports,
                        LikelyCause(bound, request),
                        std::cout,
                        std::cerr,
                        request.trace ? &trace : nullptr,
                        bound.virtual_controller ? "" : OrvexctlCall(request),
                        request.base ? &card : nullptr,
                        &card,
                        Route(bound, request)};
  const int status = RunInvocations(session, request.invocations);
  if (bound.virtual_controller) StopVirtualControllerOptions(*bound.virtual_controller, request);
  return status;
}

int Run(const Request& request) {
  const std::optional<std::filesystem::path> path = LocateLibrary(request);
  if (!path) return kLibraryUnusable;
  std::string error;
  const std::unique_ptr<DynamicLibrary> library = DynamicLibrary::Open(*path, error);
  if (!library) {
    std::cerr << "orvexctl: cannot load " << path->string() << ": " << error << '\n';
    return kLibraryUnusable;
  }
  const BoundLibrary bound = BindExports(*library);
  if (!bound.missing.empty()) {
    std::cerr << "orvexctl: " << path->string() << " lacks " << Joined(bound.missing) << '\n';
    return kLibraryUnusable;
  }
  if (const char* option = VirtualControllerOption(request); option && !bound.virtual_controller) {
    std::cerr << "orvexctl: " << option << " needs the virtual-controller build; " << path->string()
              << " is not one\n";
    return kBadArguments;
  }
  Request checked = request;
  if (auto refusal =
          ChooseValues({bound.card.orvex_count_of, bound.card.orvex_value_for_count}, checked)) {
    std::cerr << "orvexctl: " << *refusal << " (orvexctl --help lists the commands)\n";
    return kBadArguments;
  }
  const std::optional<orvex_card*> card =
      request.base ? OpenCard(bound, request) : OpenDefaultCard(bound);
  if (!card) return kBadArguments;
  return RunOnLoadedLibrary(bound, checked, *card);
}

}  // namespace
}  // namespace orvexctl

int main(int argc, char** argv) {
  using namespace orvexctl;
  const std::vector<std::string_view> arguments(argv + 1, argv + argc);
  const ParsedArguments parsed = ParseArguments(arguments);
  if (!parsed.request) {
    std::cerr << "orvexctl: " << parsed.error << " (orvexctl --help lists the commands)\n";
    return kBadArguments;
  }
  if (parsed.request->help) {
    std::cout << HelpText();
    return kAllDone;
  }
  if (parsed.request->version) {
    std::cout << "orvexctl " << ORVEX_VERSION << '\n';
    return kAllDone;
  }
  if (parsed.request->route) {
    std::cout << "route: " << orvex::diagnosis::ExplainControllerRoute() << '\n';
    return kAllDone;
  }
  return Run(*parsed.request);
}
