/*
 * A host in C, linked against liborvexportio-sim, as a host developer's own
 * test suite would be: it chooses the virtual clock, makes the controller
 * misbehave through the orvexsim_ fault functions, and checks what the
 * library reports, what reached the controller and how long it took.
 *
 * Run without arguments it expects the real clock at start (the default);
 * with "expect-virtual" it expects the virtual one, chosen by the
 * environment.
 */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "orvexportio.h"
#include "orvexportio_sim.h"

static int failures = 0;

static void check(int passed, const char* what) {
  if (!passed) {
    printf("FAILED: %s\n", what);
    ++failures;
  }
}

/* What one call under one fault gives. */
struct fault_case {
  const char* name;
  void (*set_fault)(void);
  int query;           /* 1: TP(1), expecting the error value; 0: ST(1) */
  int expected_result; /* ST(1)'s result */
  int expected_bytes;  /* command bytes taken during the call */
  double at_least;     /* controller seconds the call took */
  double at_most;
};

static void silent(void) {
  orvexsim_fault_silent();
}
static void stuck_at_0x81(void) {
  orvexsim_fault_stuck_handshake(0x81);
}
static void stuck_at_ready(void) {
  orvexsim_fault_stuck_handshake(0x80);
}
static void late_by_20_ms_before_byte_1(void) {
  orvexsim_fault_readiness_delay(1, 20000);
}
static void late_by_5_ms_before_byte_1(void) {
  orvexsim_fault_readiness_delay(1, 5000);
}
static void dies_after_2(void) {
  orvexsim_fault_dies_after_bytes(2);
}
static void never_acknowledges_byte_1(void) {
  orvexsim_fault_never_acknowledges_byte(1);
}
static void reply_cut_after_3(void) {
  orvexsim_fault_reply_stops_after(3);
}
static void garbled(void) {
  orvexsim_fault_garbled_reply();
}
static void overlong(void) {
  orvexsim_fault_overlong_reply();
}
static void endless(void) {
  orvexsim_fault_endless_reply();
}

static const struct fault_case cases[] = {
    /* Neither READY nor PENDING: the 9 ms window runs out before the first byte. */
    {"silent", silent, 0, 0, 0, 0.009, 0.0091},
    {"stuck at 0x81", stuck_at_0x81, 0, 0, 0, 0.009, 0.0091},
    /* READY but no acknowledgement: the one-second bound gives up on the strobe. */
    {"stuck at READY", stuck_at_ready, 0, 0, 0, 1.0, 1.001},
    {"late by 20 ms before byte 1", late_by_20_ms_before_byte_1, 0, 0, 1, 0.009, 0.0092},
    {"late by 5 ms before byte 1", late_by_5_ms_before_byte_1, 0, 1, 4, 0.005, 0.0052},
    {"dies after 2 bytes", dies_after_2, 0, 0, 2, 0.009, 0.0092},
    {"never acknowledges byte 1", never_acknowledges_byte_1, 0, 0, 1, 1.0, 1.001},
    {"reply cut after 3 bytes", reply_cut_after_3, 1, 0, 4, 0.009, 0.0093},
    {"garbled reply", garbled, 1, 0, 4, 0.0, 0.001},
    {"overlong reply", overlong, 1, 0, 4, 0.0, 0.01},
    {"endless reply", endless, 1, 0, 4, 0.0, 0.05},
};

static void run_fault_case(const struct fault_case* tested) {
  char what[160];
  orvexsim_reset();
  orvexsim_set_clock(ORVEXSIM_CLOCK_VIRTUAL);
  tested->set_fault();
  const double start = orvexsim_time();
  if (tested->query) {
    snprintf(what, sizeof what, "%s: TP(1) gives the error value", tested->name);
    check(TP(1) == ORVEX_POSITION_ERROR, what);
  } else {
    snprintf(what, sizeof what, "%s: ST(1) returns %d", tested->name, tested->expected_result);
    check(ST(1) == tested->expected_result, what);
  }
  const double took = orvexsim_time() - start;
  snprintf(what, sizeof what, "%s: took %.6f s, expected %.6f to %.6f", tested->name, took,
           tested->at_least, tested->at_most);
  check(took >= tested->at_least && took <= tested->at_most, what);
  snprintf(what, sizeof what, "%s: %d bytes taken, expected %d", tested->name,
           orvexsim_bytes_taken(), tested->expected_bytes);
  check(orvexsim_bytes_taken() == tested->expected_bytes, what);

  /* Clearing the faults makes the controller healthy again at once. */
  orvexsim_clear_faults();
  snprintf(what, sizeof what, "%s: after clearing, MA(1, 2.5) and TP(1) work", tested->name);
  check(MA(1, 2.5f) == 1 && TP(1) != ORVEX_POSITION_ERROR, what);
}

/* Byte numbers count from the moment a fault is set, and faults add up. */
static void faults_count_from_now_and_add_up(void) {
  orvexsim_reset();
  check(MA(1, 2.5f) == 1, "MA(1, 2.5) on a healthy controller");
  orvexsim_fault_dies_after_bytes(3);
  check(ST(1) == 0, "dies 3 bytes after setting: ST(1) fails on its carriage return");
  check(orvexsim_bytes_taken() == 8 + 3, "8 bytes of MA and 3 of ST taken");

  orvexsim_reset();
  orvexsim_fault_reply_stops_after(3);
  orvexsim_fault_dies_after_bytes(1000);
  check(TP(1) == ORVEX_POSITION_ERROR, "a second fault keeps the first");
  orvexsim_clear_faults();
  check(TP(1) == 0.0f, "cleared: TP(1) reads 0");

  orvexsim_reset();
  orvexsim_fault_silent();
  orvexsim_reset();
  check(ST(1) == 1, "a reset takes the faults away");
}

static void axes_and_clock_read_out(void) {
  orvexsim_reset();
  orvexsim_set_clock(ORVEXSIM_CLOCK_VIRTUAL);
  check(orvexsim_time() < 0.0001, "the clock starts at 0 after a reset");
  check(MA(1, 2.5f) == 1, "MA(1, 2.5)");
  check(orvexsim_axis_moving(1) == 1, "axis 1 moves");
  check(orvexsim_axis_moving(2) == 0, "axis 2 stands");
  check(orvexsim_axis_target(1) == 250.0, "axis 1's target is 250 counts");
  check(orvexsim_axis_position(1) >= 0.0 && orvexsim_axis_position(1) < 250.0,
        "axis 1 is on its way");
  check(WS(1) == 1, "WS(1)");
  check(orvexsim_axis_moving(1) == 0, "axis 1 has stopped");
  check(orvexsim_axis_position(1) == 250.0, "axis 1 stands at 250 counts");
  /* 250 counts at 1000 a second, accelerating and braking at 50000: 0.27 s. */
  check(fabs(orvexsim_time() - 0.27) < 0.002, "the move took 0.27 s of controller time");
  check(isnan(orvexsim_axis_position(3)) && isnan(orvexsim_axis_target(0)), "no axis 3 or 0: NaN");
  check(orvexsim_axis_moving(-1) == -1, "no axis -1: -1");
}

static void clock_choice(void) {
  check(orvexsim_set_clock(ORVEXSIM_CLOCK_REAL) == 1, "the real clock can be chosen");
  check(orvexsim_clock() == ORVEXSIM_CLOCK_REAL, "the real clock is in use");
  check(orvexsim_set_clock(7) == 0, "no clock 7");
  check(orvexsim_clock() == ORVEXSIM_CLOCK_REAL, "an unknown clock changes nothing");
  check(orvexsim_set_clock(ORVEXSIM_CLOCK_VIRTUAL) == 1, "the virtual clock can be chosen");
  orvexsim_reset();
  check(orvexsim_clock() == ORVEXSIM_CLOCK_VIRTUAL, "a reset keeps the clock");
}

int main(int argc, char** argv) {
  const int expected_clock = argc > 1 && strcmp(argv[1], "expect-virtual") == 0
                                 ? ORVEXSIM_CLOCK_VIRTUAL
                                 : ORVEXSIM_CLOCK_REAL;
  check(orvexsim_clock() == expected_clock, "the clock at start");
  clock_choice();
  for (size_t index = 0; index < sizeof cases / sizeof cases[0]; ++index) {
    run_fault_case(&cases[index]);
  }
  faults_count_from_now_and_add_up();
  axes_and_clock_read_out();
  printf("%s\n", failures == 0 ? "all passed" : "some failed");
  return failures == 0 ? 0 : 1;
}
