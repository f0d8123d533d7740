// Several processes on one card, cell by cell: the processes of a cell are
// children of the test, each with a time limit, on a controller they share
// as processes on one card share its two registers. Each cell says what went
// wrong, from what the controller received: only whole lines that some call
// sent, each once, and every call's result. The same cells run on two
// columns: the virtual controller's build on a shared virtual card, and the
// library for the card beneath the kernel stand-in (tests/card_paths).
#pragma once

#include <functional>
#include <string>

#include "children.h"

namespace orvex::processes {

// Whether the processes of a cell find the card's machine-wide record, as
// the library is built to, or cannot have it, as a library without one would
// run: then the cells that must keep processes apart fail.
enum class Records { Shared, Unavailable };

// The controller a cell's processes share.
class Column {
 public:
  virtual ~Column() = default;
  // In every process of a cell, the test's own included, before it touches
  // the card: onto the controller the cell's processes share.
  virtual void Join() const = 0;
};

// What `cell` tells, its processes' own reports of their failures kept out of
// the test's output: for the cells that must fail.
std::string Quietly(const std::function<std::string()>& cell);

// n processes released together, each sending moves and position queries.
std::string CrowdOnOneCard(const Column& column, Records records, int processes);

// One exchange, a command line or a query with its reply.
struct Exchange {
  const char* line;
  bool query;
};

// A process killed just before, and in another run just after, each port
// access of the exchange in turn; then another process sends its line.
std::string KillAtEveryAccess(const Column& column, Records records, const Exchange& exchange);

// A process stopped in the middle of its line; another one's calls give up
// after the bound having sent nothing, and go through once it runs on.
std::string StoppedHolder(const Column& column, Records records);

// A process forks while another of its threads is in the middle of a line:
// the child's line comes after that one, whole.
std::string ForkWithTheCardHeld(const Column& column, Records records);

}  // namespace orvex::processes
