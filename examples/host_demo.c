/*
 * A host program as a lab script would write it: it drives both axes through
 * the public functions and then lists what the controller received. Built
 * against liborvexportio-sim, the controller is the virtual one.
 */
#include <stdio.h>

#include "orvexportio.h"
#include "orvexportio_sim.h"

static int report(const char* call, int result) {
  printf("%-22s -> %d\n", call, result);
  return result == 1;
}

static void print_received_lines(void) {
  char text[128];
  double received_at = 0.0;
  int count = orvexsim_line_count();
  printf("\nThe controller received %d lines:\n", count);
  for (int index = 0; index < count; ++index) {
    int length = orvexsim_line(index, text, (int)sizeof text, &received_at);
    if (length > 0 && text[length - 1] == '\r') text[length - 1] = '\0';
    printf("  %9.6f s  %s\\r\n", received_at, text);
  }
}

int main(void) {
  int ok = 1;
  ok &= report("SV(0, 25.0)", SV(0, 25.0f));
  ok &= report("DH(0)", DH(0));
  ok &= report("MA(1, 2.5)", MA(1, 2.5f));
  ok &= report("MR(2, -0.75)", MR(2, -0.75f));
  ok &= report("ST(0)", ST(0));
  ok &= report("GH(0)", GH(0));
  print_received_lines();
  return ok ? 0 : 1;
}
