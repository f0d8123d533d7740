/*
 * A host in C, linked against liborvexportio-sim, started with
 * ORVEXPORTIO_BASE set before the library loads, as a legacy host binary
 * would be: the eleven functions must reach the card at that base, or, when
 * the setting is refused, report time-outs without touching any port (on the
 * virtual clock every port access takes a microsecond, so the clock shows
 * any).
 *
 *   base_setting_host 0x300     the eleven drive the card at 0x300
 *   base_setting_host refused   the setting is refused: nothing is touched
 */
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

static void moved_to(unsigned expected) {
  char line[32];
  unsigned base = 0;
  check(orvex_default_base(&base) == ORVEX_SUCCESS && base == expected, "orvex_default_base");
  check(orvexsim_first_card() == expected, "the first virtual card sits at the setting's base");
  check(MA(1, 2.5f) == 1 && WS(1) == 1 && TP(1) == 2.5f, "MA, WS and TP on that card");
  check(orvexsim_card_line(expected, 0, line, (int)sizeof line, NULL) == 8 &&
            strcmp(line, "1PA 250\r") == 0,
        "the card at the setting's base received the line");
  check(expected == 0x340 || orvexsim_card_line_count(0x340) == -1, "nothing sits at 0x340");
}

static void refused(void) {
  unsigned base = 1;
  check(orvex_default_base(&base) != ORVEX_SUCCESS, "orvex_default_base reports the refusal");
  check(MA(1, 2.5f) == 0 && MR(0, 1.0f) == 0 && SV(2, 5.0f) == 0 && ST(0) == 0 && DH(1) == 0 &&
            GH(2) == 0,
        "the motion functions report time-outs");
  check(TP(1) == ORVEX_POSITION_ERROR && OK() == 0 && MT(0) == 0 && WS(0) == 0 && RT(0) == 0,
        "the queries and RT report time-outs");
  check(MA(3, 1.0f) == 3, "an axis code of no axis still comes back as itself");
  check(orvexsim_time() == 0.0, "no port was touched: the virtual clock never moved");
  check(orvexsim_line_count() == 0, "no line reached any card");
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  if (orvexsim_clock() != ORVEXSIM_CLOCK_VIRTUAL) {
    printf("FAILED: run with ORVEXPORTIO_SIM_CLOCK=virtual\n");
    return 1;
  }
  if (strcmp(argv[1], "refused") == 0) {
    refused();
  } else {
    unsigned expected = 0;
    if (sscanf(argv[1], "%x", &expected) != 1) return 2;
    moved_to(expected);
  }
  if (failures == 0) printf("all passed\n");
  return failures == 0 ? 0 : 1;
}
