// The one driver of the fuzz targets. Under libFuzzer (`make fuzz`) it runs the target that
// FUZZ_TARGET names; otherwise (`make test`) it replays each file of <corpus>/<name>/ through
// the target <name>, refusing a folder that names no target and a target without inputs.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <set>

#include "fuzz.hpp"

using brackwen::fuzz_targets;

static int refuse(const std::string& why) {
  std::cerr << why << "\n";
  return 1;
}

#ifdef BRACKWEN_FUZZ

static void (*chosen)(std::string_view) = nullptr;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* name = std::getenv("FUZZ_TARGET");
  for (const auto& target : fuzz_targets()) {
    if (name && target.name == name) chosen = target.run;
  }
  if (!chosen) std::exit(refuse("FUZZ_TARGET names no target: name a folder of corpus/"));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  chosen({reinterpret_cast<const char*>(data), size});
  return 0;
}

#else

using Inputs = std::set<std::filesystem::path>;

int main(int argc, char** argv) {
  if (argc != 2) return refuse("usage: fuzz <corpus folder>");
  std::map<std::string_view, Inputs> inputs;
  for (const auto& target : fuzz_targets()) inputs[target.name];
  for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[1])) {
    if (!entry.is_regular_file()) continue;
    auto folder = inputs.find(entry.path().lexically_relative(argv[1]).begin()->string());
    if (folder == inputs.end()) return refuse("no fuzz target for " + entry.path().string());
    folder->second.insert(entry.path());
  }
  for (const auto& target : fuzz_targets()) {
    if (inputs[target.name].empty()) return refuse("no inputs for " + std::string(target.name));
    for (const auto& file : inputs[target.name]) {
      // Named before it runs, as a broken property aborts the program.
      std::cout << file.string() << std::endl;
      std::ifstream in(file, std::ios::binary);
      target.run(std::string(std::istreambuf_iterator<char>(in), {}));
    }
  }
}

#endif
