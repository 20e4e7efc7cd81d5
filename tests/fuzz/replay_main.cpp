// Plain driver for a fuzz target: runs it once over every file named on the
// command line, or over every file of every directory named. Used by the
// host tests (also under the sanitizer build) to replay the seed corpus and
// the saved reproducers without libFuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; i++) {
    fs::path p(argv[i]);
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
      for (const auto& e : fs::directory_iterator(p))
        if (e.is_regular_file() && e.path().filename().string()[0] != '.') files.push_back(e.path());
    } else if (fs::is_regular_file(p, ec)) {
      files.push_back(p);
    } else {
      // A target without saved reproducers has no directory for them.
      fprintf(stderr, "%s: nothing to replay\n", argv[i]);
    }
  }
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fprintf(stderr, "replay %s (%zu bytes)\n", f.string().c_str(), bytes.size());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  printf("%zu inputs replayed without a finding\n", files.size());
  return 0;
}
