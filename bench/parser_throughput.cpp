// Parses a list of files on one core and prints what bench/parser_bench.py reads: the bytes, the
// best time of a few rounds, and the memory of keeping every tree alive at once.
//
//   parser_throughput LIST_FILE [ROUNDS]    LIST_FILE holds one path a line
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "parser/src/parser.h"

namespace {

// A line of /proc/self/status in bytes ("VmRSS", "VmHWM"), 0 when unknown.
long long status_bytes(const std::string& key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::stoll(line.substr(key.size() + 1)) * 1024;
  }
  return 0;
}

// Resets the peak resident size, so that VmHWM tells the peak of what follows.
void reset_peak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: parser_throughput LIST_FILE [ROUNDS]\n";
    return 2;
  }
  int rounds = argc > 2 ? std::stoi(argv[2]) : 3;
  std::vector<std::string> sources;
  size_t total = 0;
  std::ifstream list(argv[1]);
  for (std::string path; std::getline(list, path);) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
      std::cerr << "cannot read " << path << "\n";
      return 1;
    }
    std::stringstream content;
    content << file.rdbuf();
    sources.push_back(content.str());
    total += sources.back().size();
  }

  // Memory first, before the timing rounds have grown the heap.
  size_t accepted = 0;
  size_t tree_bytes = 0;
  long long rss_before = status_bytes("VmRSS");
  reset_peak();
  long long peak_before = status_bytes("VmHWM");
  {
    std::vector<tolvo::parser::ParsedModule> trees;
    trees.reserve(sources.size());
    for (const std::string& source : sources) {
      auto result = tolvo::parser::parse_module(source);
      if (!result) continue;
      tree_bytes += result->memory_bytes();
      trees.push_back(std::move(*result));
    }
    accepted = trees.size();
    long long rss_alive = status_bytes("VmRSS");
    long long peak = status_bytes("VmHWM");
    std::printf("rss_alive_delta %lld\n", rss_alive - rss_before);
    std::printf("rss_peak_delta %lld\n",
                peak - (peak_before > rss_before ? peak_before : rss_before));
  }

  double best = 1e300;
  for (int round = 0; round < rounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    size_t ok = 0;
    for (const std::string& source : sources) ok += tolvo::parser::parse_module(source).has_value();
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (ok != accepted) std::cerr << "rounds disagree on the accepted files\n";
    if (elapsed.count() < best) best = elapsed.count();
  }
  std::printf("files %zu\nbytes %zu\naccepted %zu\ntree_bytes %zu\nseconds %.6f\n", sources.size(),
              total, accepted, tree_bytes, best);
  return 0;
}
