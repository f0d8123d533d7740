/*
 * Where a card may sit on the I/O bus: the range open to add-in cards, and the
 * standard PC devices whose ports a card's two registers (base and base + 1)
 * must not overlap. Plain C, so that the library and the kernel driver check
 * bases from this one table.
 *
 * Rows may overlap (0x3F6-0x3F7 belongs to the first IDE controller inside the
 * floppy controller's block); a base that hits several is named by the first.
 */
#ifndef ORVEX_PC_DEVICES_H
#define ORVEX_PC_DEVICES_H

/* The lowest and the highest base an add-in card may have: both registers lie
   in 0x100-0x3FF, the ports the ISA bus leaves to add-in cards. */
#define ORVEX_LOWEST_BASE 0x100u
#define ORVEX_HIGHEST_BASE 0x3FEu

/* The card's registers: the data register at the base, the handshake
   register after it. */
#define ORVEX_REGISTER_COUNT 2u

/* The base the library's eleven functions use unless told otherwise. */
#define ORVEX_FACTORY_BASE 0x340u

struct orvex_pc_device {
  unsigned first; /* first port of the device */
  unsigned last;  /* last port, included */
  const char* name;
};

/* X(first, last, name) for each standard device, in the order they are
   looked at. */
#define ORVEX_PC_DEVICE_TABLE(X)                                                \
  X(0x000u, 0x01Fu, "the first DMA controller")                                 \
  X(0x020u, 0x021u, "the first interrupt controller")                           \
  X(0x040u, 0x043u, "the timer")                                                \
  X(0x060u, 0x064u, "the keyboard controller")                                  \
  X(0x070u, 0x071u, "the real-time clock")                                      \
  X(0x080u, 0x08Fu, "the DMA page registers")                                   \
  X(0x0A0u, 0x0A1u, "the second interrupt controller")                          \
  X(0x0C0u, 0x0DFu, "the second DMA controller")                                \
  X(0x0F0u, 0x0FFu, "the maths coprocessor")                                    \
  X(0x170u, 0x177u, "the second IDE controller")                                \
  X(0x1F0u, 0x1F7u, "the first IDE controller")                                 \
  X(0x200u, 0x207u, "the game port")                                            \
  X(0x278u, 0x27Fu, "the second parallel port (LPT2)")                          \
  X(0x2E8u, 0x2EFu, "the fourth serial port (COM4)")                            \
  X(0x2F8u, 0x2FFu, "the second serial port (COM2)")                            \
  X(0x370u, 0x375u, "the second floppy controller")                             \
  X(0x376u, 0x377u, "the second IDE controller")                                \
  X(0x378u, 0x37Fu, "the first parallel port (LPT1)")                           \
  X(0x3B0u, 0x3BBu, "the VGA adapter (its monochrome registers)")               \
  X(0x3BCu, 0x3BFu, "the parallel port of a monochrome adapter (LPT at 0x3BC)") \
  X(0x3C0u, 0x3DFu, "the VGA adapter")                                          \
  X(0x3E8u, 0x3EFu, "the third serial port (COM3)")                             \
  X(0x3F0u, 0x3F5u, "the floppy controller")                                    \
  X(0x3F6u, 0x3F7u, "the first IDE controller")                                 \
  X(0x3F8u, 0x3FFu, "the first serial port (COM1)")

#define ORVEX_PC_DEVICE_ROW(first, last, name) {first, last, name},

/* The table as an initialiser: struct orvex_pc_device table[] = ORVEX_PC_DEVICES; */
#define ORVEX_PC_DEVICES \
  { ORVEX_PC_DEVICE_TABLE(ORVEX_PC_DEVICE_ROW) }

#endif /* ORVEX_PC_DEVICES_H */
