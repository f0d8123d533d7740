/*
 * A host program as a lab script would write it: set both axes up after
 * power-up, check the link, define home, move both axes, wait for them to stop and read the
 * positions back. Built against liborvexportio-sim, the controller is the virtual one, and at the
 * end the program lists what that controller received.
 *
 * It runs the controller on its virtual clock, as a host's own test would: exact and faster than
 * real time. Without that line the controller runs in real time, as the card does, and WS polls
 * the status tens of thousands of times while the axes move.
 */
#include <stdio.h>
#include <string.h>

#include "orvexportio.h"
#include "orvexportio_sim.h"

static int report(const char* call, int result) {
  printf("%-22s -> %d\n", call, result);
  return result == 1;
}

static int report_position(int axis, float target) {
  float position = TP((signed char)axis);
  if (position == ORVEX_POSITION_ERROR) {
    printf("axis %d: no position (the controller did not answer)\n", axis);
    return 0;
  }
  printf("axis %d: target %8.2f  position %8.2f\n", axis, target, position);
  return 1;
}

/* Lists the received lines, one run of repeated lines (WS polling) to a row. */
static void print_received_lines(void) {
  char text[64];
  char next[64];
  double received_at = 0.0;
  double next_at = 0.0;
  int count = orvexsim_line_count();
  printf("\nThe controller received %d lines (controller time, line):\n", count);
  for (int index = 0; index < count;) {
    int repeats = 1;
    double last_at = 0.0;
    orvexsim_line(index, text, (int)sizeof text, &received_at);
    while (index + repeats < count &&
           orvexsim_line(index + repeats, next, (int)sizeof next, &next_at) >= 0 &&
           strcmp(next, text) == 0) {
      last_at = next_at;
      ++repeats;
    }
    text[strcspn(text, "\r")] = '\0';
    if (repeats == 1) {
      printf("  %9.6f s  %s\\r\n", received_at, text);
    } else {
      printf("  %9.6f s  %s\\r  ... %d times, the last at %.6f s\n", received_at, text, repeats,
             last_at);
    }
    index += repeats;
  }
}

int main(void) {
  const float target1 = 2.5f;
  const float target2 = -0.75f;
  int ok = 1;
  orvexsim_set_clock(ORVEXSIM_CLOCK_VIRTUAL);
  ok &= report("RT(0)", RT(0));
  ok &= report("OK()", OK());
  ok &= report("DH(0)", DH(0));
  ok &= report("SV(0, 25.0)", SV(0, 25.0f));
  ok &= report("MA(1, 2.5)", MA(1, target1));
  ok &= report("MA(2, -0.75)", MA(2, target2));
  ok &= report("WS(0)", WS(0));
  ok &= report("MT(0)", MT(0));
  ok &= report_position(1, target1);
  ok &= report_position(2, target2);
  print_received_lines();
  return ok ? 0 : 1;
}
