/*
 * A DLL of the other bitness under the name of the first driver library: it
 * does not load, and the diagnosis must say why rather than report the
 * driver missing. It exports the driver's functions, as a real one would.
 */
unsigned char DlPortReadPortUchar(unsigned long port) {
  return (unsigned char)port;
}

void DlPortWritePortUchar(unsigned long port, unsigned char value) {
  (void)port;
  (void)value;
}
