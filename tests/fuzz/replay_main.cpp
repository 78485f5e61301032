// Runs a fuzz target without libFuzzer over its committed corpus, so that `make test` replays
// every seed and every past finding under the ordinary compiler.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

// Regular files named on the command line, or found below folders named there, in a fixed order.
std::vector<fs::path> inputs_of(int argc, char** argv) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    fs::path arg = argv[i];
    if (!fs::is_directory(arg)) {
      files.push_back(arg);
      continue;
    }
    for (const auto& entry : fs::recursive_directory_iterator(arg)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> files = inputs_of(argc, argv);
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      std::cerr << "cannot read " << file << "\n";
      return 1;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  // An empty corpus means a wrong path, not a pass.
  if (files.empty()) {
    std::cerr << "no inputs\n";
    return 1;
  }
  std::cout << files.size() << " inputs replayed\n";
  return 0;
}
