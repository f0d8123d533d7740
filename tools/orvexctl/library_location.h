// Where orvexctl finds the library builds: beside itself, then in the library
// folder of the install layout.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace orvexctl {

// File names of the two builds, as the loader asks for them.
std::string_view HardwareLibraryName();
std::string_view SimulatedLibraryName();

// The places to look for `file_name`, in order, for a program in `tool_folder`.
std::vector<std::filesystem::path> LibraryCandidates(const std::filesystem::path& tool_folder,
                                                     std::string_view file_name);

// The first candidate that exists, or nothing.
std::optional<std::filesystem::path> FindLibrary(const std::filesystem::path& tool_folder,
                                                 std::string_view file_name);

}  // namespace orvexctl
