/* Exports for the native-call tests: integer and text results, 0 to 6
 * parameters, UTF-16 results allocated with malloc, and functions that
 * reveal the order in which parameters arrive. */
#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int add(int a, int b) { return a + b; }
int sub(int a, int b) { return a - b; }
int answer(void) { return 42; }
int negate(int a) { return -a; }
int echo_int(int a) { return a; }
int count_calls(void) {
  static int calls;
  return ++calls;
}
/* Each parameter becomes one decimal digit, the first parameter leftmost. */
int digits3(int a, int b, int c) { return a * 100 + b * 10 + c; }
int digits6(int a, int b, int c, int d, int e, int f) {
  return ((((a * 10 + b) * 10 + c) * 10 + d) * 10 + e) * 10 + f;
}
int length(const char *s) { return (int)strlen(s); }

const char *greeting(void) { return "hello"; }
const char *nothing(void) { return NULL; }
/* Text and integer parameters mixed: "first|n|second". */
const char *mixed(const char *first, int n, const char *second) {
  static char buffer[256];
  snprintf(buffer, sizeof buffer, "%s|%d|%s", first, n, second);
  return buffer;
}
const char *join5(const char *a, const char *b, const char *c, const char *d, const char *e) {
  static char buffer[256];
  snprintf(buffer, sizeof buffer, "%s%s%s%s%s", a, b, c, d, e);
  return buffer;
}
/* Writes into its parameter and returns it: the caller's copy must live
 * until the result has been read. */
char *shout(char *s) {
  for (char *p = s; *p; ++p) *p = (char)toupper((unsigned char)*p);
  return s;
}

static uint16_t *wide_copy(const uint16_t *units, size_t count) {
  uint16_t *copy = malloc((count + 1) * sizeof *copy);
  memcpy(copy, units, count * sizeof *copy);
  copy[count] = 0;
  return copy;
}
/* "中文A" and U+1F600, as UTF-16. */
uint16_t *wide_text(void) {
  static const uint16_t units[] = {0x4E2D, 0x6587, 0x0041};
  return wide_copy(units, 3);
}
uint16_t *wide_emoji(void) {
  static const uint16_t units[] = {0xD83D, 0xDE00};
  return wide_copy(units, 2);
}
uint16_t *wide_null(void) { return NULL; }
int exported_data = 7;
