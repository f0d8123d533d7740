#include "library_location.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

namespace orvexctl {

// The build defines ORVEXCTL_HARDWARE_LIBRARY and ORVEXCTL_SIMULATED_LIBRARY,
// the file names of the two builds, and ORVEXCTL_LIBRARY_FOLDER, the install
// layout's library folder relative to its program folder.

std::string_view HardwareLibraryName() {
  return ORVEXCTL_HARDWARE_LIBRARY;
}

std::string_view SimulatedLibraryName() {
  return ORVEXCTL_SIMULATED_LIBRARY;
}

std::vector<std::filesystem::path> LibraryCandidates(const std::filesystem::path& tool_folder,
                                                     std::string_view file_name) {
  const std::filesystem::path beside = tool_folder / file_name;
  const std::filesystem::path in_library_folder =
      (tool_folder / ORVEXCTL_LIBRARY_FOLDER / file_name).lexically_normal();
  if (in_library_folder == beside.lexically_normal()) return {beside};
  return {beside, in_library_folder};
}

std::optional<std::filesystem::path> FindLibrary(const std::filesystem::path& tool_folder,
                                                 std::string_view file_name) {
  for (const std::filesystem::path& candidate : LibraryCandidates(tool_folder, file_name)) {
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error)) return candidate;
  }
  return std::nullopt;
}

}  // namespace orvexctl
