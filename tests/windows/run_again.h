// Runs the calling test program again as a child process, for the tests that
// need a second Windows process on the same card.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <array>
#include <string>

namespace orvex::wintest {

// This program again with `arguments` (ASCII); its exit code, or -1 when it
// could not start. A child still running after `time_limit_ms` is ended.
inline int RunThisProgramAgain(const std::string& arguments, DWORD time_limit_ms) {
  std::array<wchar_t, MAX_PATH> program{};
  GetModuleFileNameW(nullptr, program.data(), MAX_PATH);
  std::wstring command = L"\"" + std::wstring(program.data()) + L"\" " +
                         std::wstring(arguments.begin(), arguments.end());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.data(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return -1;
  }
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, time_limit_ms) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
  }
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

}  // namespace orvex::wintest
