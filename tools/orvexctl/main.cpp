// orvexctl: calls the library's functions from the command line, for
// commissioning the controller and for scripts. It loads the library at run
// time and looks the functions up by name, exactly as a host program does.
#include <filesystem>
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

// orvexctl as the user would call it again on the same library.
std::string OrvexctlCall(const Request& request) {
  if (request.library == LibraryChoice::Path) return "orvexctl --library " + request.library_path;
  return "orvexctl";
}

// The first option given that only the virtual-controller build serves.
const char* VirtualControllerOption(const Request& request) {
  if (request.trace) return "--trace";
  if (request.fast) return "--fast";
  if (!request.vcd_path.empty()) return "--vcd";
  return nullptr;
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
  if (request.fast) bound.virtual_controller->set_clock(ORVEXSIM_CLOCK_VIRTUAL);
  if (!request.vcd_path.empty() &&
      bound.virtual_controller->record_vcd(request.vcd_path.c_str()) != 1) {
    std::cerr << "orvexctl: cannot write " << request.vcd_path << '\n';
    return kBadArguments;
  }
  TracePrinter trace(std::cout);
  if (request.trace) bound.virtual_controller->set_line_callback(TracePrinter::OnLine, &trace);
  Session session{bound.exports,
                  bound.virtual_controller ? SilentVirtualController
                                           : orvex::diagnosis::ExplainSilentController,
                  std::cout,
                  std::cerr,
                  request.trace ? &trace : nullptr,
                  bound.virtual_controller ? "" : OrvexctlCall(request)};
  if (!bound.virtual_controller) session.route = orvex::diagnosis::ExplainControllerRoute;
  const int status = RunInvocations(session, request.invocations);
  if (request.trace) bound.virtual_controller->set_line_callback(nullptr, nullptr);
  if (!request.vcd_path.empty()) bound.virtual_controller->stop_vcd();
  return status;
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
