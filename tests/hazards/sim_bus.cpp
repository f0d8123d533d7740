// The virtual-controller column of the hostile-host cells: the library's own
// objects over the virtual controller, through a port seam whose every access
// first makes a pread on a pipe, a cancellation point like /dev/port's, and
// whose pauses really sleep (nanosleep, a cancellation point too) as well as
// moving the virtual clock.
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <thread>
#include <utility>

#include "hazard_bus.h"
#include "line_grammar.h"
#include "orvexportio.h"
#include "port/platform.h"
#include "virtual_bus.h"

namespace orvex::hazards {
namespace {

int cancellation_pipe = -1;

void PassCancellationPoint() {
  std::uint8_t byte = 0;
  (void)!pread(cancellation_pipe, &byte, 1, 0);  // ESPIPE, after the cancellation check
}

bool IsLineOfThisLibrary(const std::string& line) {
  return orvex::IsWellFormedLine(line);
}

}  // namespace

void StartCell() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) == 0) cancellation_pipe = ends[0];
  sim::TheController().Reset();
}

int DeliveredResult() {
  return 1;
}

bool PositionsAnswered() {
  return true;
}

void StartLongMove() {
  (void)MA(1, 1000.0F);  // 100000 units at the default speed: minutes of virtual time
}

bool CancelSenderOf(const char* line) {
  if (line == nullptr) {
    sim::TheController().SetLineObserver(nullptr);
    return true;
  }
  const std::string wanted = line;
  sim::TheController().SetLineObserver([wanted](const sim::ReceivedLine& received) {
    if (received.Text() == wanted) (void)pthread_cancel(pthread_self());
  });
  return true;
}

CarriedCancellation carried_cancellation;  // guarded by the controller's lock

bool CancelAskerWhenCarried(pthread_t asker, const std::atomic<bool>& asker_left,
                            const char* line) {
  const std::string wanted = line;
  sim::TheController().SetLineObserver(
      [asker, &asker_left, wanted](const sim::ReceivedLine& received) {
        if (received.Text() != wanted || pthread_equal(pthread_self(), asker) != 0) return;
        if (carried_cancellation.happened) return;
        carried_cancellation.happened = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        (void)pthread_cancel(asker);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        carried_cancellation.asker_left_during_exchange = asker_left.load();
      });
  return true;
}

CarriedCancellation StopCancellingAskers() {
  sim::TheController().SetLineObserver(nullptr);
  // Setting the observer waits for the controller's lock, so the last call
  // of the observer is over.
  return std::exchange(carried_cancellation, CarriedCancellation{});
}

int TimesReceived(const char* line) {
  int times = 0;
  for (const std::string& received : sim::TheController().LineTexts()) times += received == line;
  return times;
}

std::string WireProblems() {
  std::string problems;
  sim::VirtualController& controller = sim::TheController();
  for (const std::string& line : controller.LineTexts()) {
    if (!IsLineOfThisLibrary(line)) problems += "torn line '" + line + "'; ";
  }
  const sim::Counters counters = controller.Snapshot();
  if (counters.protocol_errors != 0) {
    problems += std::to_string(counters.protocol_errors) + " protocol errors; ";
  }
  if (counters.unknown_commands != 0) {
    problems += std::to_string(counters.unknown_commands) + " unknown commands; ";
  }
  return problems;
}

}  // namespace orvex::hazards

namespace orvex::port {

std::uint8_t ReadPortByte(const CardPorts& card, Register which) {
  hazards::PassCancellationPoint();
  return sim::TheController().ReadPort(static_cast<std::uint16_t>(card.Address(which) & 0xFFFF));
}

void WritePortByte(const CardPorts& card, Register which, std::uint8_t value) {
  hazards::PassCancellationPoint();
  sim::TheController().WritePort(static_cast<std::uint16_t>(card.Address(which) & 0xFFFF), value);
}

bool MachineWideName(const CardPorts& /*card*/, std::span<char> /*name*/) {
  return false;
}

double SteadyClockSeconds() {
  return sim::TheController().NowSeconds();
}

void PauseMilliseconds(unsigned milliseconds) {
  sim::TheController().Pause(milliseconds);
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace orvex::port
