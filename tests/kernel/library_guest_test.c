/*
 * The library for the card as a host program uses it, inside a booted
 * kernel: linked to the unmodified liborvexportio.so. Each mode is one
 * command line:
 *
 *   library_guest_test exports      every export with its axis codes, on a card
 *                                   that answers; exits 0 when each returned
 *                                   what such a card gives (the guest script
 *                                   checks the lines the card received)
 *   library_guest_test time_outs    on a card that does not answer: each export
 *                                   reports a time-out after the 9 ms window
 *                                   (within a second: nothing hangs)
 *   library_guest_test lines COUNT  "1PA 250\r" COUNT times; prints the time per
 *                                   line and the lines that timed out
 *   library_guest_test busy         OK() while another process holds the card
 *                                   past the driver's bound: a time-out after
 *                                   about a second
 *   library_guest_test interrupted  the same, cut short by a signal after 0.3 s:
 *                                   a time-out then, not a second wait
 *   library_guest_test as UID GID PROGRAM [ARGUMENT...]
 *                                   runs PROGRAM as UID, whose only group is GID
 */
#define _GNU_SOURCE
#include <errno.h>
#include <grp.h>
#include <signal.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "orvexportio.h"

static bool failed;

static double seconds_now(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

static void expect_result(const char* call, double result, double expected) {
  if (result != expected) {
    printf("    failed: %s gave %g, not %g\n", call, result, expected);
    failed = true;
  }
}

#define EXPECT(call, expected) expect_result(#call, (double)(call), (double)(expected))

/* The card starts idle and homed; the axes move at 1000 counts a second, so
   a move of 250 counts is over after a quarter of a second. */
static void mode_exports(void) {
  EXPECT(RT(0), 1);
  EXPECT(SV(0, 10.0F), 1);
  EXPECT(MA(0, 2.5F), 1);
  usleep(600 * 1000);
  EXPECT(WS(0), 1);
  EXPECT(MT(1), 1);
  EXPECT(TP(1), 2.5F);
  EXPECT(TP(2), 2.5F);
  EXPECT(OK(), 1);
  EXPECT(MR(2, -0.5F), 1);
  EXPECT(ST(0), 1);
  EXPECT(GH(1), 1);
  EXPECT(DH(2), 1);
  EXPECT(MA(1, -0.75F), 1);
  EXPECT(RT(1), 1);
  EXPECT(RT(2), 1);
  /* Axis codes an export does not serve send nothing. */
  EXPECT(MA(3, 1.0F), 3);
  EXPECT(ST(-1), -1);
  EXPECT(TP(0), ORVEX_POSITION_ERROR);
  EXPECT(WS(5), 5);
}

/* Each call sends one line, whose first byte waits in vain for READY. */
static void mode_time_outs(void) {
  static const char* const names[] = {"MA(1, 2.5)", "ST(2)", "TP(1)", "OK()"};
  for (int call = 0; call < 4; call++) {
    double started = seconds_now(), result = -1;
    switch (call) {
      case 0:
        result = MA(1, 2.5F);
        break;
      case 1:
        result = ST(2);
        break;
      case 2:
        result = TP(1);
        break;
      default:
        result = OK();
        break;
    }
    double took = seconds_now() - started;
    printf("    %s gave %g after %.1f ms\n", names[call], result, took * 1e3);
    if (result != (call == 2 ? ORVEX_POSITION_ERROR : 0)) {
      printf("    failed: %s did not report a time-out\n", names[call]);
      failed = true;
    }
    if (took < 0.009 || took > 1.0) {
      printf("    failed: %s took %.1f ms, not the 9 ms window\n", names[call], took * 1e3);
      failed = true;
    }
  }
}

static void mode_lines(long count) {
  long missed = 0;
  double started = seconds_now();
  for (long line = 0; line < count; line++) missed += MA(1, 2.5F) != 1;
  double took = seconds_now() - started;
  printf("lines %ld, timed out %ld, seconds per line %.9f\n", count, missed, took / (double)count);
  failed = missed == count;
}

static void on_alarm(int signal_number) {
  (void)signal_number;
}

/* OK() reports a time-out after `least` to `most` seconds. */
static void expect_time_out_within(double least, double most) {
  double started = seconds_now();
  int result = OK();
  double took = seconds_now() - started;
  printf("    OK() gave %d after %.3f s\n", result, took);
  if (result != 0 || took < least || took > most) {
    printf("    failed: not a time-out within %.2f to %.2f s\n", least, most);
    failed = true;
  }
}

/* A signal without SA_RESTART ends the driver's wait for the card. */
static void mode_interrupted(void) {
  struct sigaction action;
  struct itimerval alarm_at = {{0, 0}, {0, 300 * 1000}};
  memset(&action, 0, sizeof(action));
  action.sa_handler = on_alarm;
  sigaction(SIGALRM, &action, NULL);
  setitimer(ITIMER_REAL, &alarm_at, NULL);
  expect_time_out_within(0.2, 0.95); /* the clock is read just after the timer is set */
}

static int run_as(uid_t uid, gid_t gid, char** program) {
  if (setgroups(1, &gid) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
    printf("    cannot become uid %u: %s\n", (unsigned)uid, strerror(errno));
    return 3;
  }
  execv(program[0], program);
  printf("    cannot run %s: %s\n", program[0], strerror(errno));
  return 3;
}

int main(int argc, char** argv) {
  setvbuf(stdout, NULL, _IOLBF, 0);
  if (argc >= 5 && strcmp(argv[1], "as") == 0) {
    return run_as((uid_t)strtoul(argv[2], NULL, 10), (gid_t)strtoul(argv[3], NULL, 10), argv + 4);
  }
  if (argc == 2 && strcmp(argv[1], "exports") == 0) {
    mode_exports();
  } else if (argc == 2 && strcmp(argv[1], "time_outs") == 0) {
    mode_time_outs();
  } else if (argc == 2 && strcmp(argv[1], "busy") == 0) {
    expect_time_out_within(0.95, 3.0);
  } else if (argc == 2 && strcmp(argv[1], "interrupted") == 0) {
    mode_interrupted();
  } else if (argc == 3 && strcmp(argv[1], "lines") == 0) {
    mode_lines(strtol(argv[2], NULL, 10));
  } else {
    fprintf(stderr,
            "usage: %s exports | time_outs | lines COUNT | busy | interrupted | as UID GID "
            "PROGRAM...\n",
            argv[0]);
    return 2;
  }
  return failed ? 1 : 0;
}
