// A host that ends while its threads are inside calls of orvexportio.dll, and
// one that unloads the DLL after its threads used it and loads it again. Run
// under Wine beside the simulated driver library; a hang is caught by the
// test's time limit.
//
//   orvex_threads_host exit <threads>     returns from main while <threads>
//                                         threads are inside calls (status 0)
//   orvex_threads_host exit-process <threads>
//                                         the same through ExitProcess(0)
//   orvex_threads_host unload             FreeLibrary after four threads made
//                                         calls, then load and call again
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "orvexportio.h"

namespace {

struct Exports {
  decltype(&MT) mt = nullptr;
  decltype(&ST) st = nullptr;
  decltype(&WS) ws = nullptr;
  decltype(&RT) rt = nullptr;
  decltype(&MR) mr = nullptr;
};

template <typename Function>
Function Find(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

Exports FindExports(HMODULE library) {
  return {Find<decltype(&MT)>(library, "MT"), Find<decltype(&ST)>(library, "ST"),
          Find<decltype(&WS)>(library, "WS"), Find<decltype(&RT)>(library, "RT"),
          Find<decltype(&MR)>(library, "MR")};
}

Exports exports;
bool rounds_limited = false;  // else the threads call until the process ends
volatile LONG rounds_left = 0;

// Lines, a wait on a moving axis, the set-up sequence and queries, by turns.
DWORD WINAPI CallForever(void* parameter) {
  const auto kind = reinterpret_cast<INT_PTR>(parameter) % 4;
  for (;;) {
    if (rounds_limited && InterlockedDecrement(&rounds_left) < 0) return 0;
    switch (kind) {
      case 0:
        exports.st(2);
        break;
      case 1:
        // A long move while the host runs forever; a short one when the
        // threads are to end.
        exports.mr(1, rounds_limited ? 0.01F : 1000.0F);
        exports.ws(1);
        break;
      case 2:
        exports.rt(2);
        break;
      default:
        exports.mt(0);
        break;
    }
  }
}

std::vector<HANDLE> StartThreads(int count) {
  std::vector<HANDLE> threads;
  for (INT_PTR thread = 0; thread < count; ++thread) {
    threads.push_back(
        CreateThread(nullptr, 0, CallForever, reinterpret_cast<void*>(thread), 0, nullptr));
  }
  return threads;
}

HMODULE LoadTheLibrary() {
  const HMODULE library = LoadLibraryW(L"orvexportio.dll");
  if (library == nullptr) {
    std::printf("orvexportio.dll cannot be loaded\n");
    std::exit(3);
  }
  exports = FindExports(library);
  return library;
}

int Unload() {
  HMODULE library = LoadTheLibrary();
  rounds_limited = true;
  rounds_left = 80;
  const std::vector<HANDLE> threads = StartThreads(4);
  WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
  if (!FreeLibrary(library)) return 4;
  library = LoadTheLibrary();
  const int stop = exports.st(1);
  const int status = exports.mt(1);
  FreeLibrary(library);
  std::printf("after loading again: ST(1) = %d, MT(1) = %d\n", stop, status);
  return stop == 1 && status == 1 ? 0 : 5;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "unload") == 0) return Unload();
  if (argc != 3) return 2;
  LoadTheLibrary();
  StartThreads(std::atoi(argv[2]));
  Sleep(100);
  std::printf("ending with threads inside calls\n");
  std::fflush(stdout);
  if (std::strcmp(argv[1], "exit-process") == 0) ExitProcess(0);
  return 0;
}
