/*
 * The driver's checks inside a booted kernel, through its ioctl as a program
 * would use it, against the simulated card (orvex_sim) and a base with no
 * card behind it. Each case is one command line argument:
 *
 *   orvex_guest_test CASE BASE
 *
 * and exits 0 when the case holds. The cases that need to be a user of the
 * card run their exchanges in a child that has become uid 1000, a member of
 * group orvex (gid 1000), or uid 1001, a member of no group with the card.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdarg.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "orvex_abi.h"

#define MEMBER_UID 1000
#define ORVEX_GID 1000
#define OUTSIDER_UID 1001
#define OUTSIDER_GID 1001

#define MAX_LINES 512
#define TEXT_SIZE 65536

static bool failed;
static unsigned long base;

static void fail(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  fputs("    failed: ", stdout);
  vprintf(format, arguments);
  fputc('\n', stdout);
  fflush(stdout);
  va_end(arguments);
  failed = true;
}

static double seconds_now(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

static void sleep_seconds(double seconds) {
  struct timespec pause = {(time_t)seconds, (long)((seconds - (double)(time_t)seconds) * 1e9)};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

/* ---- Files ----------------------------------------------------------------- */

static bool read_text(const char* path, char* text, size_t size) {
  int fd = open(path, O_RDONLY);
  size_t length = 0;
  if (fd < 0) return false;
  for (;;) {
    ssize_t got = read(fd, text + length, size - 1 - length);
    if (got <= 0) break;
    length += (size_t)got;
  }
  close(fd);
  text[length] = '\0';
  return true;
}

static bool write_text(const char* path, const char* text) {
  int fd = open(path, O_WRONLY);
  bool written;
  if (fd < 0) return false;
  written = write(fd, text, strlen(text)) == (ssize_t)strlen(text);
  close(fd);
  return written;
}

static void sim_path(const char* file, char* path, size_t size) {
  snprintf(path, size, "/sys/kernel/debug/orvex_sim/0x%lx/%s", base, file);
}

static void sim_write(const char* file, const char* text) {
  char path[128];
  sim_path(file, path, sizeof(path));
  if (!write_text(path, text)) fail("cannot write %s to %s", text, path);
}

static unsigned long long sim_counter(const char* file) {
  char path[128], text[64];
  sim_path(file, path, sizeof(path));
  if (!read_text(path, text, sizeof(text))) {
    fail("cannot read %s", path);
    return 0;
  }
  return strtoull(text, NULL, 10);
}

/* The simulated card's transcript, one escaped line per entry. */
struct transcript {
  char text[TEXT_SIZE];
  char* lines[MAX_LINES];
  size_t count;
};

static void read_transcript(struct transcript* transcript) {
  char path[128];
  char* line;
  char* rest;
  transcript->count = 0;
  sim_path("transcript", path, sizeof(path));
  if (!read_text(path, transcript->text, sizeof(transcript->text))) {
    fail("cannot read %s", path);
    return;
  }
  for (line = strtok_r(transcript->text, "\n", &rest); line && transcript->count < MAX_LINES;
       line = strtok_r(NULL, "\n", &rest))
    transcript->lines[transcript->count++] = line;
}

static void print_transcript(const struct transcript* transcript) {
  size_t index;
  printf("    transcript (%zu lines):\n", transcript->count);
  for (index = 0; index < transcript->count && index < 40; index++)
    printf("      %s\n", transcript->lines[index]);
}

static void expect_transcript(const char* const* expected, size_t count) {
  struct transcript transcript;
  size_t index;
  bool same;
  read_transcript(&transcript);
  same = transcript.count == count;
  for (index = 0; same && index < count; index++)
    same = strcmp(transcript.lines[index], expected[index]) == 0;
  if (!same) {
    fail("the card did not receive exactly the lines sent");
    print_transcript(&transcript);
  }
}

static void fresh_card(void) {
  sim_write("reset", "1");
}

/* The node of the card at `base`, from /sys/class/orvex/orvexN/base. */
static bool node_for_base(unsigned long wanted, char* node, size_t size) {
  DIR* directory = opendir("/sys/class/orvex");
  struct dirent* entry;
  bool found = false;
  if (!directory) return false;
  while (!found && (entry = readdir(directory))) {
    char path[300], text[32];
    if (strncmp(entry->d_name, "orvex", 5) != 0) continue;
    snprintf(path, sizeof(path), "/sys/class/orvex/%s/base", entry->d_name);
    if (read_text(path, text, sizeof(text)) && strtoul(text, NULL, 0) == wanted) {
      snprintf(node, size, "/dev/%s", entry->d_name);
      found = true;
    }
  }
  closedir(directory);
  return found;
}

static int open_card(int flags) {
  char node[300];
  if (!node_for_base(base, node, sizeof(node))) {
    errno = ENODEV;
    return -1;
  }
  return open(node, flags);
}

/* ---- Exchanges --------------------------------------------------------------- */

static int exchange(int fd, const char* line, bool query, struct orvex_exchange* result) {
  memset(result, 0, sizeof(*result));
  result->flags = query ? ORVEX_EXCHANGE_QUERY : 0;
  result->line_length = (__u32)strlen(line);
  memcpy(result->line, line, strlen(line));
  return ioctl(fd, ORVEX_IOC_EXCHANGE, result);
}

static bool delivered(int fd, const char* line, bool query, struct orvex_exchange* result) {
  if (exchange(fd, line, query, result) != 0) {
    fail("exchange of \"%s\": %s", line, strerror(errno));
    return false;
  }
  if (result->outcome != ORVEX_DELIVERED) {
    fail("exchange of \"%s\": outcome %u, %u bytes sent", line, result->outcome,
         result->bytes_sent);
    return false;
  }
  return true;
}

/* ---- Children ------------------------------------------------------------------ */

static void become(uid_t uid, gid_t gid) {
  if (setgroups(1, &gid) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
    printf("    cannot become uid %u: %s\n", (unsigned)uid, strerror(errno));
    _exit(3);
  }
}

/* Runs `body` in a child as uid/gid and returns whether it exited 0. */
static bool in_child_as(uid_t uid, gid_t gid, void (*body)(void)) {
  int status;
  pid_t child = fork();
  if (child == 0) {
    become(uid, gid);
    failed = false;
    body();
    fflush(stdout);
    _exit(failed ? 1 : 0);
  }
  if (child < 0 || waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

static pid_t start_child(void (*body)(void)) {
  pid_t child = fork();
  if (child == 0) {
    failed = false;
    body();
    fflush(stdout);
    _exit(failed ? 1 : 0);
  }
  return child;
}

static bool child_succeeded(pid_t child) {
  int status;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

/* ---- Cases ----------------------------------------------------------------------- */

static const char* const setup_lines[] = {"1FI11\r", "1VA1000;AC50000\r", "1FM3\r", "1DH\r",
                                          "1PA 250\r"};

static void send_setup_and_read_position(void) {
  struct orvex_exchange result;
  size_t index;
  int polls;
  int fd = open_card(O_RDWR);
  if (fd < 0) {
    fail("a member of group orvex cannot open the card: %s", strerror(errno));
    return;
  }
  for (index = 0; index < sizeof(setup_lines) / sizeof(setup_lines[0]); index++)
    delivered(fd, setup_lines[index], false, &result);
  /* At 1000 counts per second the move takes a quarter of a second. */
  for (polls = 0; polls < 200; polls++) {
    if (!delivered(fd, "TS\r", true, &result)) break;
    if (result.reply_length != 3 || (result.reply[0] & 0xFC) != 0x40 ||
        memcmp(result.reply + 1, "\r\n", 2) != 0) {
      fail("status reply of %u bytes, first 0x%02x", result.reply_length, result.reply[0]);
      break;
    }
    if (!(result.reply[0] & 0x01)) break;
    sleep_seconds(0.02);
  }
  printf("    %d status queries until axis 1 stood\n", polls + 1);
  if (delivered(fd, "1TP\r", true, &result)) {
    if (result.reply_length != 6 || memcmp(result.reply, "+250\r\n", 6) != 0 ||
        !result.reply_ended || result.reply_received != 6)
      fail("position reply \"%.*s\" (%u bytes, ended %u)", (int)result.reply_length, result.reply,
           result.reply_length, result.reply_ended);
  }
  close(fd);
}

/* A member of group orvex sends the set-up lines, a move, status queries and
   a position query: the card receives exactly those lines, in order. */
static void case_lines(void) {
  struct transcript transcript;
  size_t index;
  fresh_card();
  if (!in_child_as(MEMBER_UID, ORVEX_GID, send_setup_and_read_position))
    fail("the member's exchanges did not all go through");
  read_transcript(&transcript);
  {
    static const char* const expected_first[] = {"1FI11\\r", "1VA1000;AC50000\\r", "1FM3\\r",
                                                 "1DH\\r", "1PA 250\\r"};
    bool same = transcript.count >= 7;
    for (index = 0; same && index < 5; index++)
      same = strcmp(transcript.lines[index], expected_first[index]) == 0;
    for (; same && index + 1 < transcript.count; index++)
      same = strcmp(transcript.lines[index], "TS\\r") == 0;
    same = same && strcmp(transcript.lines[transcript.count - 1], "1TP\\r") == 0;
    if (!same) {
      fail("the card did not receive exactly the lines sent");
      print_transcript(&transcript);
    }
  }
  if (sim_counter("protocol_errors") != 0) fail("the card saw strobes or releases out of turn");
  if (sim_counter("unknown_commands") != 0) fail("the card did not know a command");
}

static void open_as_outsider(void) {
  int fd = open_card(O_RDWR);
  if (fd >= 0) {
    fail("a user outside group orvex opened the card");
    close(fd);
  } else if (errno != EACCES) {
    fail("a user outside group orvex: %s, not EACCES", strerror(errno));
  }
}

static void case_no_group(void) {
  if (!in_child_as(OUTSIDER_UID, OUTSIDER_GID, open_as_outsider))
    fail("the card was not refused to a user outside group orvex");
}

/* Malformed requests are refused before anything reaches the card; the
   longest line allowed goes through. */
static void case_bad_requests(void) {
  struct orvex_exchange request;
  char longest[ORVEX_LINE_MAX + 1];
  char escaped[ORVEX_LINE_MAX + 2];
  const char* expected[] = {escaped};
  int fd, read_only;

  fresh_card();
  fd = open_card(O_RDWR);
  if (fd < 0) {
    fail("cannot open the card: %s", strerror(errno));
    return;
  }
  memset(longest, '\0', sizeof(longest));
  memcpy(longest, "1PA ", 4);
  for (int at = 4; at < ORVEX_LINE_MAX - 1; at++) longest[at] = (char)('0' + (at - 3) % 10);
  longest[ORVEX_LINE_MAX - 1] = '\r';
  snprintf(escaped, sizeof(escaped), "%.*s\\r", ORVEX_LINE_MAX - 1, longest);

  struct {
    const char* what;
    __u32 length;
    const char* line;
    __u32 flags;
  } refused[] = {
      {"a line one byte too long", ORVEX_LINE_MAX + 1, NULL, 0},
      {"a line without its carriage return", 3, "1PA", 0},
      {"two lines in one", 4, "1\r2\r", 0},
      {"an unknown flag", 4, "1TP\r", 0x2},
  };
  for (size_t index = 0; index < sizeof(refused) / sizeof(refused[0]); index++) {
    memset(&request, 0, sizeof(request));
    request.flags = refused[index].flags;
    request.line_length = refused[index].length;
    if (refused[index].line)
      memcpy(request.line, refused[index].line, request.line_length);
    else
      memset(request.line, 'x', sizeof(request.line));
    if (ioctl(fd, ORVEX_IOC_EXCHANGE, &request) != -1 || errno != EINVAL)
      fail("%s was not refused with EINVAL", refused[index].what);
  }
  if (ioctl(fd, ORVEX_IOC_EXCHANGE, NULL) != -1 || errno != EFAULT)
    fail("a null request was not refused with EFAULT");
  if (ioctl(fd, _IOWR(ORVEX_IOC_MAGIC, 2, struct orvex_exchange), &request) != -1 ||
      errno != ENOTTY)
    fail("an unknown ioctl was not refused with ENOTTY");
  if (exchange(fd, longest, false, &request) != 0 || request.outcome != ORVEX_DELIVERED ||
      request.bytes_sent != ORVEX_LINE_MAX)
    fail("the longest line allowed did not go through");
  close(fd);

  read_only = open_card(O_RDONLY);
  if (read_only < 0 || exchange(read_only, "1TP\r", true, &request) != -1 || errno != EBADF)
    fail("an exchange through a node opened read-only was not refused with EBADF");
  if (read_only >= 0) close(read_only);
  expect_transcript(expected, 1);
}

/* Two processes send line after line at once, each its own; the card's
   acknowledgements are slowed so that each exchange sleeps, giving the other
   process every chance to cut in. */
#define LINES_EACH 40
static int start_gate[2];

static void send_lines_of_axis(int axis) {
  struct orvex_exchange result;
  char line[32], go;
  int fd = open_card(O_RDWR), busy = 0;
  if (fd < 0) {
    fail("cannot open the card: %s", strerror(errno));
    return;
  }
  if (read(start_gate[0], &go, 1) != 1) fail("no start");
  for (int index = 0; index < LINES_EACH; index++) {
    snprintf(line, sizeof(line), "%dPA %d\r", axis, index);
    if (exchange(fd, line, false, &result) != 0) {
      fail("exchange of line %d: %s", index, strerror(errno));
      break;
    }
    if (result.outcome == ORVEX_CARD_BUSY && busy++ < 5) {
      index--; /* nothing was sent: send it again */
      continue;
    }
    if (result.outcome != ORVEX_DELIVERED) {
      fail("line %d of axis %d: outcome %u", index, axis, result.outcome);
      break;
    }
  }
  close(fd);
}

static void send_lines_of_axis_1(void) {
  become(MEMBER_UID, ORVEX_GID);
  send_lines_of_axis(1);
}

static void send_lines_of_axis_2(void) {
  become(MEMBER_UID, ORVEX_GID);
  send_lines_of_axis(2);
}

static void case_two_processes(void) {
  struct transcript transcript;
  int next[3] = {0, 0, 0};
  pid_t first, second;

  fresh_card();
  sim_write("ack_delay_us", "200");
  if (pipe(start_gate) != 0) fail("pipe: %s", strerror(errno));
  first = start_child(send_lines_of_axis_1);
  second = start_child(send_lines_of_axis_2);
  if (write(start_gate[1], "gg", 2) != 2) fail("cannot start the senders");
  bool first_succeeded = child_succeeded(first);
  bool second_succeeded = child_succeeded(second);
  if (!first_succeeded || !second_succeeded) fail("a sender failed");
  sim_write("ack_delay_us", "0");

  read_transcript(&transcript);
  for (size_t index = 0; index < transcript.count; index++) {
    int axis = transcript.lines[index][0] - '0';
    char expected[32];
    if (axis != 1 && axis != 2) {
      fail("line %zu \"%s\" is no sender's", index, transcript.lines[index]);
      break;
    }
    snprintf(expected, sizeof(expected), "%dPA %d\\r", axis, next[axis]);
    if (strcmp(transcript.lines[index], expected) != 0) {
      fail("line %zu is \"%s\", where \"%s\" was due", index, transcript.lines[index], expected);
      break;
    }
    next[axis]++;
  }
  if (next[1] != LINES_EACH || next[2] != LINES_EACH || transcript.count != 2 * LINES_EACH) {
    fail("the card received %zu lines, %d and %d whole in order, of %d each", transcript.count,
         next[1], next[2], LINES_EACH);
    print_transcript(&transcript);
  }
  if (sim_counter("protocol_errors") != 0) fail("the card saw strobes or releases out of turn");
}

/* A process is killed while its line is half sent: the line arrives whole,
   and the next process's line after it. */
#define SLOW_LINE "1PA 1234567;VA 2000;AC 30000\r"
static int returned_pipe[2];

static void send_slow_line(void) {
  struct orvex_exchange result;
  int fd = open_card(O_RDWR);
  close(returned_pipe[0]);
  if (fd < 0) {
    fail("cannot open the card: %s", strerror(errno));
    return;
  }
  exchange(fd, SLOW_LINE, false, &result);
  /* Reached only if the exchange returned before the kill. */
  if (write(returned_pipe[1], "r", 1) != 1) fail("cannot report");
}

static void case_kill_mid_line(void) {
  static const char* const expected[] = {"1PA 1234567;VA 2000;AC 30000\\r", "1TP\\r"};
  struct orvex_exchange result;
  unsigned long long taken = 0;
  const size_t length = strlen(SLOW_LINE);
  double give_up;
  int status, fd;
  char report;
  pid_t child;

  fresh_card();
  sim_write("ack_delay_us", "50000");
  if (pipe(returned_pipe) != 0) fail("pipe: %s", strerror(errno));
  child = start_child(send_slow_line);
  close(returned_pipe[1]);
  give_up = seconds_now() + 20.0;
  while ((taken = sim_counter("bytes_taken")) < 3 && seconds_now() < give_up) sleep_seconds(0.005);
  kill(child, SIGKILL);
  printf("    killed the sender after the card took %llu of %zu bytes\n", taken, length);
  waitpid(child, &status, 0);
  if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL) fail("the sender was not killed");
  if (read(returned_pipe[0], &report, 1) == 1) fail("the exchange returned before the kill");
  if (taken < 1 || taken >= length) fail("the kill did not come while the line was half sent");
  close(returned_pipe[0]);

  sim_write("ack_delay_us", "0");
  fd = open_card(O_RDWR);
  if (fd < 0) {
    fail("cannot open the card: %s", strerror(errno));
    return;
  }
  delivered(fd, "1TP\r", true, &result);
  close(fd);
  expect_transcript(expected, 2);
}

/* While one exchange holds the card for seconds, a second waits its whole
   second and is told the card is busy, and a third, interrupted while it
   waits, gets EINTR; neither sends anything. */
static void hold_the_card(void) {
  struct orvex_exchange result;
  int fd = open_card(O_RDWR);
  if (fd < 0 || !delivered(fd, "1ST\r", false, &result)) fail("the holder's line failed");
}

static void wait_until_busy(void) {
  struct orvex_exchange result;
  double started = seconds_now(), waited;
  int fd = open_card(O_RDWR);
  if (fd < 0 || exchange(fd, "2ST\r", false, &result) != 0) {
    fail("the second exchange: %s", strerror(errno));
    return;
  }
  waited = seconds_now() - started;
  if (result.outcome != ORVEX_CARD_BUSY || result.bytes_sent != 0)
    fail("the second exchange: outcome %u, %u bytes sent", result.outcome, result.bytes_sent);
  if (waited < 0.95 || waited > 5.0) fail("the second exchange waited %.3f s, not 1 s", waited);
}

static void on_signal(int number) {
  (void)number;
}

static void wait_until_interrupted(void) {
  struct orvex_exchange result;
  struct sigaction action;
  int fd = open_card(O_RDWR);
  memset(&action, 0, sizeof(action));
  action.sa_handler = on_signal; /* no SA_RESTART */
  sigaction(SIGUSR1, &action, NULL);
  if (fd < 0 || exchange(fd, "2DH\r", false, &result) != -1 || errno != EINTR)
    fail("the interrupted exchange did not end with EINTR");
}

/* Whether `child` sleeps in the driver's wait for the card. */
static bool waits_for_card(pid_t child) {
  char path[64], text[128];
  snprintf(path, sizeof(path), "/proc/%d/wchan", (int)child);
  return read_text(path, text, sizeof(text)) && strstr(text, "orvex_claim_card") != NULL;
}

static void case_busy(void) {
  static const char* const expected[] = {"1ST\\r"};
  pid_t holder, busy, interrupted;
  double give_up;

  fresh_card();
  sim_write("ack_delay_us", "900000");
  holder = start_child(hold_the_card);
  double hold_started = seconds_now();
  give_up = seconds_now() + 10.0;
  while (sim_counter("bytes_taken") < 1 && seconds_now() < give_up) sleep_seconds(0.005);
  /* The holder has its three other bytes to go, 2.7 s at least. */
  busy = start_child(wait_until_busy);
  interrupted = start_child(wait_until_interrupted);
  give_up = seconds_now() + 1.5;
  while (!waits_for_card(interrupted) && seconds_now() < give_up) sleep_seconds(0.002);
  if (!waits_for_card(interrupted)) fail("the third process never waited for the card");
  kill(interrupted, SIGUSR1);
  if (!child_succeeded(interrupted)) fail("the interrupted exchange went wrong");
  if (!child_succeeded(busy)) fail("the busy exchange went wrong");
  {
    /* Seconds of waiting for a slow card are spent asleep, not polling. */
    struct rusage usage;
    int status;
    if (wait4(holder, &status, 0, &usage) != holder || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
      fail("the holder went wrong");
    double held = seconds_now() - hold_started;
    double busy_seconds = (double)usage.ru_stime.tv_sec + (double)usage.ru_stime.tv_usec / 1e6 +
                          (double)usage.ru_utime.tv_sec + (double)usage.ru_utime.tv_usec / 1e6;
    printf("    the holder used %.3f s of processor time in %.3f s\n", busy_seconds, held);
    if (busy_seconds > held / 2) fail("the holder kept a processor busy while the card was slow");
  }
  sim_write("ack_delay_us", "0");
  expect_transcript(expected, 1);
}

/* No card answers at this base: the bus reads 0xFF, which is not READY, and
   the exchange ends after the 9 ms window. */
static void case_dead_card(void) {
  struct orvex_exchange result;
  double started, took;
  int fd = open_card(O_RDWR);
  if (fd < 0) {
    fail("cannot open the card: %s", strerror(errno));
    return;
  }
  for (int query = 0; query < 2; query++) {
    started = seconds_now();
    if (exchange(fd, "1TP\r", query == 1, &result) != 0) fail("exchange: %s", strerror(errno));
    took = seconds_now() - started;
    printf("    %s ended after %.1f ms\n", query ? "query" : "command", took * 1e3);
    if (result.outcome != ORVEX_READY_MISSED || result.bytes_sent != 0 ||
        result.reply_received != 0)
      fail("outcome %u, %u bytes sent, %u received", result.outcome, result.bytes_sent,
           result.reply_received);
    if (took < 0.009 || took > 1.0) fail("the exchange took %.1f ms, not about 9", took * 1e3);
  }
  close(fd);
}

/* While a node is open neither module can go; the node keeps working. */
static long remove_module(const char* name) {
  return syscall(SYS_delete_module, name, O_NONBLOCK);
}

static void case_unload(void) {
  struct orvex_exchange result;
  int fd = open_card(O_RDWR);
  if (fd < 0) {
    fail("cannot open the card: %s", strerror(errno));
    return;
  }
  if (remove_module("orvex_sim") == 0)
    fail("orvex_sim was unloaded under an open node");
  else
    printf("    unloading orvex_sim: %s\n", strerror(errno));
  if (remove_module("orvex") == 0)
    fail("orvex was unloaded under an open node");
  else
    printf("    unloading orvex: %s\n", strerror(errno));
  delivered(fd, "1TP\r", true, &result);
  close(fd);
  if (remove_module("orvex_sim") != 0) fail("orvex_sim: %s once closed", strerror(errno));
  if (remove_module("orvex") != 0) fail("orvex: %s once closed", strerror(errno));
}

/* ---- Figures: the driver against a handshake in user space ---------------------
 *
 * The same simulated card reached through its debugfs "ports" file, one
 * pread or pwrite per register access, as the library reaches a card through
 * /dev/port: the handshake in user space, each look a system call.
 */
static int ports;
static unsigned long port_calls;

static unsigned char port_read(off_t offset) {
  unsigned char value = 0xFF;
  port_calls++;
  if (pread(ports, &value, 1, offset) != 1) fail("pread: %s", strerror(errno));
  return value;
}

static void port_write(off_t offset, unsigned char value) {
  port_calls++;
  if (pwrite(ports, &value, 1, offset) != 1) fail("pwrite: %s", strerror(errno));
}

/* The library's wait, in user space: a look counts when its clock reading
   lies before the deadline, and gaps of over 1 ms, when this process was not
   running, are given back, up to 250 ms. */
static bool port_await(double limit, bool exactly, unsigned char wanted) {
  double now = seconds_now(), deadline = now + limit, allowance = 0.25;
  for (;;) {
    unsigned char shown = port_read(1);
    if ((exactly ? shown == wanted : shown >= wanted) || now >= deadline) return now < deadline;
    double previous = now;
    now = seconds_now();
    if (now - previous > 0.001 && allowance > 0) {
      double given = now - previous < allowance ? now - previous : allowance;
      deadline += given;
      allowance -= given;
    }
  }
}

static bool port_send_line(const char* line) {
  for (const char* byte = line; *byte; byte++) {
    if (!port_await(0.009, true, 0x80)) return false;
    port_write(0, (unsigned char)*byte);
    port_write(1, 0x80);
    if (!port_await(1.0, true, 0x00)) return false;
    port_write(1, 0x00);
  }
  return port_await(1.0, true, 0x80);
}

static unsigned long long io_counter(const char* name) {
  char text[1024];
  const char* found;
  if (!read_text("/proc/self/io", text, sizeof(text)) || !(found = strstr(text, name))) return 0;
  return strtoull(found + strlen(name), NULL, 10);
}

#define FIGURE_LINES 2000
static void case_figures(void) {
  struct orvex_exchange result;
  char path[128];
  double started, driver_seconds, user_seconds;
  unsigned long long calls_before;
  unsigned long ioctls = 0, misses = 0;
  int fd = open_card(O_RDWR);

  fresh_card();
  sim_path("ports", path, sizeof(path));
  ports = open(path, O_RDWR);
  if (fd < 0 || ports < 0) {
    fail("cannot open the card and its ports");
    return;
  }
  started = seconds_now();
  for (int line = 0; line < FIGURE_LINES; line++) {
    ioctls++;
    if (exchange(fd, "1PA 250\r", false, &result) != 0 || result.outcome != ORVEX_DELIVERED) {
      fail("a line through the driver failed");
      break;
    }
  }
  driver_seconds = seconds_now() - started;

  started = seconds_now();
  calls_before = io_counter("syscr: ") + io_counter("syscw: ");
  for (int line = 0; line < FIGURE_LINES; line++) {
    /* A process of its own can still miss a window on a loaded machine:
       counted, and the card made ready for the next line. */
    if (!port_send_line("1PA 250\r")) {
      misses++;
      fresh_card();
    }
  }
  user_seconds = seconds_now() - started;
  {
    unsigned long long counted = io_counter("syscr: ") + io_counter("syscw: ") - calls_before;
    /* The kernel's own count of this process's reads and writes agrees. */
    if (counted < port_calls)
      fail("/proc/self/io counted %llu calls, not %lu", counted, port_calls);
  }
  if (misses > 0) printf("    the handshake in user space missed %lu lines\n", misses);
  printf("orvex-figure: system calls per line: driver %.1f, user-space handshake %.1f\n",
         (double)ioctls / FIGURE_LINES, (double)port_calls / FIGURE_LINES);
  printf("orvex-figure: time per line: user-space handshake / driver = %.1f\n",
         user_seconds / driver_seconds);
  printf("orvex-figure: (guest clock, TCG: driver %.1f us, user space %.1f us per line)\n",
         driver_seconds / FIGURE_LINES * 1e6, user_seconds / FIGURE_LINES * 1e6);
  close(ports);
  close(fd);
  if (sim_counter("protocol_errors") != 0) fail("the card saw strobes or releases out of turn");
}

static const struct {
  const char* name;
  void (*run)(void);
} cases[] = {
    {"lines", case_lines},
    {"no_group", case_no_group},
    {"bad_requests", case_bad_requests},
    {"two_processes", case_two_processes},
    {"kill_mid_line", case_kill_mid_line},
    {"busy", case_busy},
    {"dead_card", case_dead_card},
    {"unload", case_unload},
    {"figures", case_figures},
};

int main(int argc, char** argv) {
  setvbuf(stdout, NULL, _IOLBF, 0);
  if (argc != 3) {
    fprintf(stderr, "usage: %s CASE BASE\n", argv[0]);
    return 2;
  }
  base = strtoul(argv[2], NULL, 0);
  for (size_t index = 0; index < sizeof(cases) / sizeof(cases[0]); index++) {
    if (strcmp(argv[1], cases[index].name) == 0) {
      cases[index].run();
      printf("  %s %s at 0x%lx\n", failed ? "FAILED" : "passed", argv[1], base);
      return failed ? 1 : 0;
    }
  }
  fprintf(stderr, "unknown case %s\n", argv[1]);
  return 2;
}
