// Port access on Windows goes through a port driver library.
#pragma once

#include <string>
#include <vector>

namespace orvexctl {

struct DriverLibraries {
  std::vector<std::string> loadable;  // those of DlPortIO.dll and inpout32.dll that loaded
};

DriverLibraries ProbeDriverLibraries();

std::string ExplainDriverLibraries(const DriverLibraries& drivers);

}  // namespace orvexctl
