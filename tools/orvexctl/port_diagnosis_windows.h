// Port access on Windows goes through a port driver library.
#pragma once

#include <string>
#include <vector>

namespace orvexctl {

struct DriverLibraries {
  std::vector<std::string> loadable;  // the driver libraries of this bitness that loaded
};

DriverLibraries ProbeDriverLibraries();

std::string ExplainDriverLibraries(const DriverLibraries& drivers);

}  // namespace orvexctl
