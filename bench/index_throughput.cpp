// Where the time of one index pass goes, on one core: reading every file, parsing it (the parser
// cache), and extracting it (functions, resolvers, feature classes), each the best of a few rounds.
// Prints what bench/project_index_bench.py reads.
//
//   index_throughput LIST_FILE [ROUNDS]    LIST_FILE holds one path a line
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "ast/src/ast_filesystem.h"
#include "ast/src/lib.h"
#include "ast/src/project_index.h"
#include "ast/src/type_parsing.h"

namespace {

template <typename Work>
double best_seconds(int rounds, Work&& work) {
  double best = 1e300;
  for (int round = 0; round < rounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    work();
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (elapsed.count() < best) best = elapsed.count();
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: index_throughput LIST_FILE [ROUNDS]\n";
    return 2;
  }
  int rounds = argc > 2 ? std::stoi(argv[2]) : 3;
  std::vector<std::string> paths;
  std::ifstream list(argv[1]);
  for (std::string path; std::getline(list, path);) paths.push_back(path);

  tolvo::ast::StdAstFileSystem files({});
  size_t bytes = 0;
  double read = best_seconds(rounds, [&] {
    bytes = 0;
    for (const std::string& path : paths) {
      if (auto text = files.read_to_string(path)) bytes += text->size();
    }
  });

  // Parsed once into a cache, so that extraction can be timed alone over the same records.
  std::vector<std::shared_ptr<const tolvo::ast::ParsedFileCache>> parsed;
  double parse = best_seconds(rounds, [&] {
    tolvo::ast::AstFileParserCache cache("/", {});
    parsed.clear();
    for (const std::string& path : paths) {
      if (auto file = cache.get_parsed_file(path)) parsed.push_back(*file);
    }
  });

  size_t functions = 0, classes = 0;
  double extract = best_seconds(rounds, [&] {
    functions = classes = 0;
    for (const auto& file : parsed) {
      tolvo::ast::ParsedAstFile result =
          tolvo::ast::parse_ast_file_with_feature_module(*file, "module");
      functions += result.functions.size();
      classes += result.feature_classes.size();
    }
  });

  double index = best_seconds(rounds, [&] {
    auto made = tolvo::ast::AstProjectIndex::create("/", paths);
    if (made->function_ast("no.such.module", "no_such_function")) std::abort();
  });

  std::printf("files %zu\nbytes %zu\nparsed %zu\nfunctions %zu\nfeature_classes %zu\n",
              paths.size(), bytes, parsed.size(), functions, classes);
  std::printf("read_seconds %.6f\nparse_seconds %.6f\nextract_seconds %.6f\nindex_seconds %.6f\n",
              read, parse, extract, index);
  return 0;
}
