// What a hostile-host cell needs to know about the bus it runs on: the
// virtual controller, or the library for the card on an empty bus. Every
// port access of both goes through a system call that is a cancellation
// point, as /dev/port's pread is, so a cancellation can land in the middle of
// any byte.
#pragma once

#include <pthread.h>

#include <atomic>
#include <string>

namespace orvex::hazards {

// Called in a cell's process before it starts any thread.
void StartCell();

// What an export that delivered its lines returns on this bus: 1 with the
// virtual controller, 0 (a time-out) on the empty bus.
int DeliveredResult();

// Whether TP gets a position back on this bus.
bool PositionsAnswered();

// Sets axis 1 on a long move where there is a controller, so that WS(1)
// keeps polling; on the empty bus WS polls until it gives up.
void StartLongMove();

// Where the controller can be watched: has the thread that sends `line`
// cancelled the moment the controller has taken the line's last byte, in the
// middle of its exchange (nullptr stops it), and returns true. Returns false
// on the empty bus, where nothing is taken.
bool CancelSenderOf(const char* line);

// Where the controller can be watched: the first time the controller takes
// `line` from a thread other than `asker` (another thread carrying the
// asker's exchange), waits a few milliseconds, so the asker is asleep in the
// queue, cancels `asker` in the middle of that exchange, and looks 20 ms
// later whether `asker_left` is set already; returns true. Returns false on
// the empty bus.
bool CancelAskerWhenCarried(pthread_t asker, const std::atomic<bool>& asker_left, const char* line);

struct CarriedCancellation {
  bool happened = false;
  bool asker_left_during_exchange = false;
};

// Stops watching, and tells what was seen.
CarriedCancellation StopCancellingAskers();

// How often the controller took `line` since StartCell; -1 on the empty bus.
int TimesReceived(const char* line);

// What went wrong on the wire since StartCell: lines the controller took
// that this library never sends (a torn or mixed line), strobes out of turn.
// Empty where nothing can be seen (the empty bus).
std::string WireProblems();

}  // namespace orvex::hazards
