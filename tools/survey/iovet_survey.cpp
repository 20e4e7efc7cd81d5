// iovet-survey: every machine of a table corpus checked on its own tables
// alone; writes OUT/survey.md and OUT/survey.tsv.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "survey.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "Usage: iovet-survey CORPUS_DIR OUT_DIR\n");
    return 2;
  }
  std::string corpus = argv[1], out = argv[2];
  std::vector<std::string> names = survey::corpus_machines(corpus);
  if (names.empty()) {
    fprintf(stderr, "iovet-survey: %s: no machine directory with a DMAR.dat\n", corpus.c_str());
    return 2;
  }
  std::ifstream cat(std::string(IOVET_SOURCE_DIR) + "/zyr-tests", std::ios::binary);
  std::stringstream catalogue;
  catalogue << cat.rdbuf();
  auto started = std::chrono::steady_clock::now();
  std::vector<survey::machine_result> machines;
  int problems = 0;
  for (const std::string& name : names) {
    machines.push_back(survey::check_machine(corpus, name, catalogue.str()));
    const survey::machine_result& m = machines.back();
    if (!m.clean || m.unknown_reads) {
      fprintf(stderr, "iovet-survey: %s: %s\n", name.c_str(),
              m.unknown_reads ? "read a source it did not know" : "did not end cleanly");
      problems++;
    }
  }
  survey::tables t = survey::summarize(machines);
  mkdir(out.c_str(), 0777);
  std::ofstream(out + "/survey.md", std::ios::binary) << t.markdown;
  std::ofstream(out + "/survey.tsv", std::ios::binary) << t.tsv;
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  fprintf(stderr, "iovet-survey: %zu machines in %.1f s: %s/survey.md, %s/survey.tsv\n", names.size(), s, out.c_str(),
          out.c_str());
  return problems ? 1 : 0;
}
