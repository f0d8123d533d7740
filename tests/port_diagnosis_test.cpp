// The diagnosis that orvexctl and the Python package share: the cause for
// each combination of refusals on Linux and of driver libraries on Windows,
// the probe on this machine with and without CAP_SYS_RAWIO, and the C
// function of liborvexportio-diagnosis that hands the same line to hosts.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "orvexportio_diagnosis.h"
#include "port_diagnosis.h"
#include "raw_io_capability.h"

namespace orvex::diagnosis {
using orvex::testing::DropRawIoCapability;

namespace {

struct CauseCase {
  std::string name;
  LinuxPortAccess access;
  std::vector<std::string> mentions;
  std::vector<std::string> never_mentions;
};

TEST(PortDiagnosis, EachRefusalHasItsOwnCause) {
  const std::string program = "/opt/orvex/bin/orvexctl";
  const CauseCase cases[] = {
      {"ports granted",
       {0, ENOENT, true, "none", program},
       {"reachable", "ioperm granted", "no controller answered at 0x340", "powered"},
       {"setcap", "lockdown"}},
      {"only /dev/port",
       {EPERM, 0, false, "none", program},
       {"reachable", "/dev/port", "no controller answered at 0x340"},
       {"setcap"}},
      {"no port I/O in the kernel",
       {ENOSYS, ENOENT, false, "", program},
       {"no port I/O", "ioperm() is not implemented", "no /dev/port"},
       {"setcap", "lockdown"}},
      {"no ioperm, /dev/port not allowed",
       {ENOSYS, EACCES, false, "", program},
       {"run it as root", "setcap cap_sys_rawio+ep /opt/orvex/bin/orvexctl",
        "/dev/port: Permission denied"},
       {"no port I/O"}},
      {"no capability",
       {EPERM, EPERM, false, "none", program},
       {"run it as root", "`sudo setcap cap_sys_rawio+ep /opt/orvex/bin/orvexctl`", "host program",
        "ioperm: Operation not permitted"},
       {"lockdown"}},
      {"lockdown, even for root",
       {EPERM, EPERM, true, "integrity", program},
       {"kernel lockdown is on (`/sys/kernel/security/lockdown` says integrity): port "
        "instructions and /dev/port are refused even for root; install the driver",
        "Secure Boot"},
       {"setcap"}},
      {"lockdown and no capability",
       {EPERM, EPERM, false, "confidentiality", program},
       {"kernel lockdown is on (`/sys/kernel/security/lockdown` says confidentiality)"},
       {"setcap"}},
      {"the driver carries the card",
       {EPERM,
        EPERM,
        false,
        "integrity",
        program,
        0x340,
        {true, "/dev/orvex0", 0, "orvex", true, true}},
       {"the driver carries the exchanges, /dev/orvex0", "no controller answered at 0x340"},
       {"lockdown", "setcap", "install the driver"}},
      {"not in the driver's group",
       {EPERM,
        EPERM,
        false,
        "none",
        program,
        0x340,
        {true, "/dev/orvex1", EACCES, "motion", true, false}},
       {"the driver is loaded but you are not in the group that may open /dev/orvex1 (motion)",
        "sudo usermod -aG motion"},
       {"setcap", "install the driver"}},
      {"the driver offers no card at the base",
       {EPERM, EPERM, false, "integrity", program, 0x300, {true}},
       {"kernel lockdown is on",
        "give the driver this card's base too (options orvex "
        "bases=0x300 in /etc/modprobe.d/orvex.conf)"},
       {"install the driver"}},
      {"the driver's node is root's",
       {EPERM,
        EPERM,
        false,
        "none",
        program,
        0x340,
        {true, "/dev/orvex0", EACCES, "root", false, false}},
       {"is open to no group of yours", "udev rule"},
       {"setcap", "usermod"}},
      {"refused with the capability",
       {EPERM, ENOENT, true, "", program},
       {"holds CAP_SYS_RAWIO", "security module"},
       {"setcap"}},
  };
  for (const CauseCase& cause : cases) {
    SCOPED_TRACE(cause.name);
    const std::string text = ExplainLinuxPortAccess(cause.access);
    for (const std::string& mention : cause.mentions) {
      EXPECT_NE(text.find(mention), std::string::npos) << mention << " in: " << text;
    }
    for (const std::string& absent : cause.never_mentions) {
      EXPECT_EQ(text.find(absent), std::string::npos) << absent << " in: " << text;
    }
    EXPECT_EQ(text.find('\n'), std::string::npos);
  }
}

struct RouteCase {
  LinuxPortAccess access;
  std::string route;
};

// The route is the first way open in the library's order, and tells why each
// better one is closed.
TEST(PortDiagnosis, EachRouteSaysWhyTheBetterOnesAreClosed) {
  const DriverOffer not_loaded{};
  const DriverOffer elsewhere{true};
  const DriverOffer opens{true, "/dev/orvex2", 0, "orvex", true, true};
  const DriverOffer outside_group{true, "/dev/orvex0", EACCES, "orvex", true, false};
  const RouteCase cases[] = {
      {{0, 0, true, "none", {}, 0x300, opens}, "driver /dev/orvex2"},
      {{0, 0, true, "none", {}, 0x340, not_loaded}, "ioperm (the driver is not loaded)"},
      {{0, 0, true, "none", {}, 0x300, elsewhere}, "ioperm (the driver offers no card at 0x300)"},
      {{EPERM, 0, true, "none", {}, 0x340, not_loaded},
       "/dev/port (the driver is not loaded; ioperm: Operation not permitted)"},
      {{EPERM, EACCES, false, "none", {}, 0x340, outside_group},
       "none, the bus reads as empty (the driver is loaded but you are not in the group that may "
       "open /dev/orvex0 (orvex); ioperm: Operation not permitted; /dev/port: Permission "
       "denied)"},
      {{EPERM, EPERM, true, "integrity", {}, 0x340, not_loaded},
       "none, the bus reads as empty (the driver is not loaded; kernel lockdown is on "
       "(`/sys/kernel/security/lockdown` says integrity): port instructions and /dev/port are "
       "refused even for root)"},
      {{EPERM, ENOENT, true, "", {}, 0x340, {true, "/dev/orvex0", ENOENT}},
       "none, the bus reads as empty (/dev/orvex0: No such file or directory; ioperm: Operation "
       "not permitted; there is no /dev/port)"},
  };
  for (const RouteCase& route : cases) {
    EXPECT_EQ(ExplainLinuxRoute(route.access), route.route);
  }
  EXPECT_EQ(ExplainDriverLibraryRoute({{"inpoutx64.dll", "DlPortIO.dll"}, {"DlPortIO.dll"}}),
            "port driver library DlPortIO.dll");
  EXPECT_EQ(ExplainDriverLibraryRoute({{"inpoutx64.dll", "DlPortIO.dll"}, {}}),
            "none, the bus reads as empty (no port driver library loads: neither inpoutx64.dll "
            "nor DlPortIO.dll)");
}

// Runs `check` in a child without CAP_SYS_RAWIO; returns its exit code (3:
// the capability could not be dropped).
int RunWithoutRawIo(const std::function<bool()>& check) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    if (!DropRawIoCapability()) _exit(3);
    _exit(check() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(PortDiagnosis, ProbeOnThisMachineNamesTheRealCause) {
  const LinuxPortAccess access = ProbeLinuxPortAccess();
  if (access.ioperm_error == 0 || access.dev_port_error == 0) {
    GTEST_SKIP() << "this machine lets the test reach the ports";
  }
  EXPECT_FALSE(access.program.empty());
  const std::string cause = ExplainSilentController();
  if (access.ioperm_error == ENOSYS && access.dev_port_error == ENOENT) {
    EXPECT_NE(cause.find("this kernel offers no port I/O"), std::string::npos) << cause;
  } else {
    EXPECT_EQ(cause.find("no port I/O"), std::string::npos) << cause;
  }
}

TEST(PortDiagnosis, ProbeWithoutRawIoSeesTheMissingCapability) {
  const int result = RunWithoutRawIo([] {
    const LinuxPortAccess access = ProbeLinuxPortAccess();
    const std::string cause = ExplainSilentController();
    if (access.holds_raw_io || access.ioperm_error == 0 || access.dev_port_error == 0) {
      return false;
    }
    // A kernel with port I/O refuses the unprivileged program; one without
    // has nothing to grant, whatever the capabilities.
    if (access.ioperm_error == ENOSYS && access.dev_port_error == ENOENT) {
      return cause.find("no port I/O") != std::string::npos;
    }
    return cause.find("setcap") != std::string::npos || cause.find("lockdown") != std::string::npos;
  });
  EXPECT_EQ(result, 0);
}

TEST(PortDiagnosis, EachDriverLibraryStateHasItsOwnCause) {
  const std::string none = ExplainDriverLibraries({{"DlPortIO.dll", "inpout32.dll"}, {}});
  EXPECT_NE(none.find("no port driver library could be loaded"), std::string::npos) << none;
  EXPECT_NE(none.find("DlPortIO.dll nor inpout32.dll"), std::string::npos) << none;
  const std::string first =
      ExplainDriverLibraries({{"DlPortIO.dll", "inpout32.dll"}, {"inpout32.dll", "DlPortIO.dll"}});
  EXPECT_NE(first.find("the port driver library inpout32.dll loads"), std::string::npos) << first;
  EXPECT_NE(first.find("no controller answered at 0x340"), std::string::npos) << first;
}

// A driver library named right but built for the other bitness does not load
// either; the cause names it, rather than saying that none could be loaded.
TEST(PortDiagnosis, DriverLibraryOfTheOtherBitnessIsNamedAsSuch) {
  const DriverLibraries drivers{{"DlPortIO.dll", "inpout32.dll"},
                                {},
                                {{"DlPortIO.dll", "C:\\host\\DlPortIO.dll", 0x8664}},
                                0x14C};
  EXPECT_EQ(ExplainDriverLibraries(drivers),
            "C:\\host\\DlPortIO.dll is built for 64-bit (x64) programs, and this is a 32-bit "
            "(x86) program, which cannot load it: install the port I/O driver's 32-bit (x86) "
            "library (DlPortIO.dll or inpout32.dll) instead");
}

// The first bytes of a PE image: the DOS header's "MZ" and, at 0x3C, where
// the PE header is; there "PE\0\0" and the Machine field.
std::string PeImage(std::uint32_t pe_header_at, std::uint16_t machine) {
  std::string image(pe_header_at + 6, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  for (std::size_t byte = 0; byte < 4; ++byte) {
    image[0x3C + byte] = static_cast<char>(pe_header_at >> (8 * byte));
  }
  image.replace(pe_header_at, 4, std::string("PE\0\0", 4));
  image[pe_header_at + 4] = static_cast<char>(machine & 0xFF);
  image[pe_header_at + 5] = static_cast<char>(machine >> 8);
  return image;
}

struct PeCase {
  std::string name;
  std::string image;
  std::optional<std::uint16_t> machine;
};

TEST(PortDiagnosis, MachineComesFromThePeHeaderOfAnImageAndOfNothingElse) {
  const std::string x64 = PeImage(0x80, 0x8664);
  std::string no_dos_signature = x64;
  no_dos_signature[0] = 'Z';
  std::string no_pe_signature = x64;
  no_pe_signature[0x81] = 'X';
  std::string pointer_past_the_end = x64;
  pointer_past_the_end[0x3D] = 0x10;  // 0x1080
  std::string pointer_at_the_top = x64;
  pointer_at_the_top.replace(0x3C, 4, "\xFF\xFF\xFF\xFF");
  const PeCase cases[] = {
      {"x86", PeImage(0x40, 0x14C), 0x14C},
      {"x64", x64, 0x8664},
      {"empty", "", std::nullopt},
      {"no MZ", no_dos_signature, std::nullopt},
      {"cut before the pointer", x64.substr(0, 0x3E), std::nullopt},
      {"pointer past the end", pointer_past_the_end, std::nullopt},
      {"pointer 0xFFFFFFFF", pointer_at_the_top, std::nullopt},
      {"no PE signature", no_pe_signature, std::nullopt},
      {"cut inside the Machine field", x64.substr(0, 0x85), std::nullopt},
  };
  for (const PeCase& pe : cases) {
    std::istringstream image(pe.image);
    EXPECT_EQ(PeMachine(image), pe.machine) << pe.name;
  }
}

TEST(PortDiagnosis, AddressIsTheOneThePortLayerUses) {
  EXPECT_EQ(ControllerAddressText(), "0x340");
}

// The shared library's C function gives hosts exactly the line orvexctl prints.
TEST(PortDiagnosisLibrary, GivesTheSameLineCutToTheCallersBuffer) {
  const std::string line = ExplainSilentController();
  ASSERT_GT(line.size(), 8U);
  const int length = static_cast<int>(line.size());
  EXPECT_EQ(orvexdiag_explain(nullptr, 0), length);
  EXPECT_EQ(orvexdiag_explain(nullptr, 100), length);

  std::vector<char> whole(line.size() + 1, 'x');
  EXPECT_EQ(orvexdiag_explain(whole.data(), length + 1), length);
  EXPECT_EQ(std::string(whole.data()), line);

  char cut[9];
  std::fill(std::begin(cut), std::end(cut), 'x');
  EXPECT_EQ(orvexdiag_explain(cut, 8), length);
  EXPECT_EQ(std::string(cut), line.substr(0, 7));  // 7 characters and the NUL
  EXPECT_EQ(cut[8], 'x');                          // nothing beyond the capacity

  char untouched = 'x';
  EXPECT_EQ(orvexdiag_explain(&untouched, 0), length);
  EXPECT_EQ(orvexdiag_explain(&untouched, -5), length);
  EXPECT_EQ(untouched, 'x');
}

TEST(PortDiagnosisLibrary, GivesTheRouteOrvexctlPrints) {
  const std::string route = ExplainControllerRoute();
  std::vector<char> text(route.size() + 1, 'x');
  EXPECT_EQ(orvexdiag_route(text.data(), static_cast<int>(text.size())),
            static_cast<int>(route.size()));
  EXPECT_EQ(std::string(text.data()), route);
  EXPECT_EQ(orvexdiag_route_card(0x340, text.data(), static_cast<int>(text.size())),
            static_cast<int>(ExplainRoute(0x340).size()));
}

}  // namespace
}  // namespace orvex::diagnosis
