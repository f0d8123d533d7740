/*
 * Preloaded beneath the unmodified library in the guest, to put it on a
 * route of the tests' choosing; the kernel does everything else:
 *
 *   ORVEX_SHIM_REFUSE_IOPERM=1   ioperm() fails with EPERM, as in a kernel
 *                                that grants no ports: the library takes
 *                                /dev/port
 *   ORVEX_SHIM_HIDE_DRIVER=1     the driver's cards in sysfs are not found:
 *                                the library reaches the card through its
 *                                registers though the driver is loaded
 *   ORVEX_SHIM_PORTS=FILE@BASE   /dev/port opens FILE instead, whose offset 0
 *                                is port BASE: the simulated card's registers
 *                                (its debugfs file "ports"), one access per
 *                                system call as on /dev/port
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdbool.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

static bool chosen(const char* variable) {
  const char* value = getenv(variable);
  return value != NULL && strcmp(value, "1") == 0;
}

static off_t ports_base = 0;
static int ports_descriptor = -1;

/* The file and base ORVEX_SHIM_PORTS names, or NULL. */
static const char* ports_file(void) {
  static char file[256];
  const char* value = getenv("ORVEX_SHIM_PORTS");
  const char* at = value ? strrchr(value, '@') : NULL;
  if (at == NULL || (size_t)(at - value) >= sizeof(file)) return NULL;
  memcpy(file, value, (size_t)(at - value));
  file[at - value] = '\0';
  ports_base = (off_t)strtol(at + 1, NULL, 0);
  return file;
}

int ioperm(unsigned long from, unsigned long count, int turn_on) {
  static int (*next)(unsigned long, unsigned long, int);
  if (chosen("ORVEX_SHIM_REFUSE_IOPERM")) {
    errno = EPERM;
    return -1;
  }
  if (!next) next = (int (*)(unsigned long, unsigned long, int))dlsym(RTLD_NEXT, "ioperm");
  return next(from, count, turn_on);
}

static int open_as_chosen(const char* path, int flags, mode_t mode) {
  static int (*next)(const char*, int, ...);
  if (!next) next = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open");
  if (chosen("ORVEX_SHIM_HIDE_DRIVER") && strncmp(path, "/sys/class/orvex", 16) == 0) {
    errno = ENOENT;
    return -1;
  }
  const char* ports = strcmp(path, "/dev/port") == 0 ? ports_file() : NULL;
  if (ports == NULL) return next(path, flags, mode);
  ports_descriptor = next(ports, flags, mode);
  return ports_descriptor;
}

int open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  mode_t mode = (flags & O_CREAT) ? (mode_t)va_arg(rest, unsigned) : 0;
  va_end(rest);
  return open_as_chosen(path, flags, mode);
}

int open64(const char* path, int flags, ...) __attribute__((alias("open")));

static off_t shifted(int descriptor, off_t offset) {
  return descriptor == ports_descriptor && descriptor >= 0 ? offset - ports_base : offset;
}

ssize_t pread(int descriptor, void* buffer, size_t count, off_t offset) {
  static ssize_t (*next)(int, void*, size_t, off_t);
  if (!next) next = (ssize_t(*)(int, void*, size_t, off_t))dlsym(RTLD_NEXT, "pread");
  return next(descriptor, buffer, count, shifted(descriptor, offset));
}

ssize_t pread64(int descriptor, void* buffer, size_t count, off_t offset)
    __attribute__((alias("pread")));

ssize_t pwrite(int descriptor, const void* buffer, size_t count, off_t offset) {
  static ssize_t (*next)(int, const void*, size_t, off_t);
  if (!next) next = (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
  return next(descriptor, buffer, count, shifted(descriptor, offset));
}

ssize_t pwrite64(int descriptor, const void* buffer, size_t count, off_t offset)
    __attribute__((alias("pwrite")));
