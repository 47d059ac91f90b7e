// Writes the empty template quote database to the file named on the command line.
#include <cstdio>

#include <vexcomm/quotes.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  if (!vexcomm::CreateTemplateDatabase(argv[1])) {
    std::fprintf(stderr, "%s: cannot create %s (does it exist already?)\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
