/*
 * A Windows host in C that links orvexportio.dll the usual way, through the
 * public header and the import library, and the simulated DlPortIO.dll
 * through its own.
 */
#include <stdio.h>
#include <string.h>

#include "orvexportio.h"
#include "simulated_driver.h"

static int check(int passed, const char* what) {
  printf("[%s] %s\n", passed ? "  OK  " : "FAILED", what);
  return passed;
}

int main(void) {
  char line[32] = "";
  int passed = 1;
  orvexsim_reset();
  passed &= check(MA(1, 2.5f) == 1, "MA(1, 2.5) delivered");
  passed &=
      check(orvexsim_line(0, line, (int)sizeof line, NULL) == 8 && strcmp(line, "1PA 250\r") == 0,
            "the controller received \"1PA 250\\r\"");
  passed &= check(TP(1) == 0.0f, "TP(1) reads position 0");
  passed &= check(TP(3) == ORVEX_POSITION_ERROR, "TP(3) gives the error value");
  passed &= check(orvexsim_line_count() == 2, "two lines in all");
  return passed ? 0 : 1;
}
