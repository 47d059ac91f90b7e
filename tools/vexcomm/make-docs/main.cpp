// Writes vexcomm's manual page and bash completion at build time: make-docs MAN_FILE BASH_FILE.
#include <fstream>
#include <iostream>
#include <string_view>

#include <vexcomm/version.h>

#include "docs.h"

int main(int argc, char** argv) {
  // The texts of the tables, for the catalogue's maintainer (msgids, one per line).
  if (argc == 2 && std::string_view(argv[1]) == "--texts") {
    for (const auto& text : vexcomm::cli::TableTexts()) std::cout << text << "\n";
    return 0;
  }
  if (argc != 3) {
    std::cerr << "usage: make-docs MAN_FILE BASH_FILE\n";
    return 2;
  }
  std::ofstream man(argv[1], std::ios::binary);
  man << vexcomm::cli::ManPage(vexcomm::LoadedVersions().library);
  std::ofstream bash(argv[2], std::ios::binary);
  bash << vexcomm::cli::BashCompletion();
  man.close();
  bash.close();
  if (!man || !bash) {
    std::cerr << "make-docs: cannot write " << argv[1] << " or " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
