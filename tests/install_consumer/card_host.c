/* The least a host for the card does: call a function of the library. */
#include <stdio.h>

#include "orvexportio.h"

int main(void) {
  printf("OK() -> %d\n", OK());
  return 0;
}
