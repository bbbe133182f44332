// Writes random scores of the tests' generator as files, for the web page's tests:
// write_random_scores FOLDER COUNT SEED  ->  FOLDER/random-0.fms ...
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/support/random_score.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: write_random_scores FOLDER COUNT SEED\n", stderr);
    return 2;
  }
  const std::string folder = argv[1];
  const int count = std::atoi(argv[2]);
  testing_support::RandomScoreWriter writer(static_cast<unsigned>(std::atoi(argv[3])));
  for (int i = 0; i < count; ++i) {
    std::ofstream out(folder + "/random-" + std::to_string(i) + ".fms", std::ios::binary);
    out << writer.next().text << '\n';
    if (!out) return 1;
  }
  return 0;
}
