// Prints the dotted module name of each path under a project root, one "path<TAB>name" per line.
// Used by the demo until the module names reach Python through the parser cache.
#include <cstdio>
#include <string>
#include <vector>

#include "ast/src/lib.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: module-names PROJECT_ROOT [PATH...]\n");
    return 2;
  }
  std::vector<std::string> files(argv + 2, argv + argc);
  tolvo::ast::ModuleNames names(files, argv[1]);
  for (const std::string& file : files) {
    std::printf("%s\t%s\n", file.c_str(), names.name_for_path(file).c_str());
  }
  return 0;
}
