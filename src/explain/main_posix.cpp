// Placeholder for sealprobe-explain, replaced by the real program: just
// enough of its command line for the package and its test.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::puts("sealprobe-explain (placeholder)");
    return 0;
  }
  std::fputs("usage: sealprobe-explain [--json] [--anchors PEM] FILE...\n",
             stderr);
  return 2;
}
