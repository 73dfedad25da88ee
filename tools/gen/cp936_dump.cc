#include <windows.h>
#include <cstdio>
int main() {
  FILE* f = fopen("cp936.txt", "w");
  for (int b = 0; b < 256; ++b) {
    char s[1] = {(char)b}; wchar_t w[4] = {0};
    int n = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, s, 1, w, 4);
    if (n == 1) fprintf(f, "%02X %04X\n", b, w[0]);
  }
  for (int a = 0x81; a <= 0xFE; ++a)
    for (int b = 0x40; b <= 0xFE; ++b) {
      char s[2] = {(char)a, (char)b}; wchar_t w[4] = {0};
      int n = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, s, 2, w, 4);
      if (n == 1) fprintf(f, "%02X%02X %04X\n", a, b, w[0]);
    }
  // reverse check: every BMP code point -> bytes
  FILE* g = fopen("cp936_rev.txt", "w");
  for (int u = 0x80; u < 0x10000; ++u) {
    if (u >= 0xD800 && u < 0xE000) continue;
    wchar_t w[1] = {(wchar_t)u}; char s[4]; BOOL used = FALSE;
    int n = WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, w, 1, s, 4, NULL, &used);
    if (n > 0 && !used) { fprintf(g, "%04X", u); for (int i=0;i<n;i++) fprintf(g, " %02X", (unsigned char)s[i]); fprintf(g, "\n"); }
  }
  fclose(g);
  fclose(f);
  return 0;
}
