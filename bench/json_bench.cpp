// Throughput of the JSON layer on reply- and cache-sized inputs: writing a long commit list and
// reading the disk cache of changed files.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "api_types/json.hpp"

namespace brackwen {
namespace {

constexpr int RECORDS = 100000;

std::string hex_id(int n) {
  std::string id(40, '0');
  for (int i = 39; n > 0 && i >= 0; --i, n /= 16) id[i] = "0123456789abcdef"[n % 16];
  return id;
}

std::vector<Commit> commits() {
  std::vector<Commit> list(RECORDS);
  for (int i = 0; i < RECORDS; ++i) {
    Commit& c = list[i];
    c.author = "Ada Lovelace";
    c.email = "ada@example.com";
    c.date = {1.7e12f + float(i) * 1000.0f, -120};
    c.id = hex_id(i);
    c.index = i;
    c.parent_ids = {hex_id(i + 1)};
    c.message = "Fix the \"parser\" when a line ends in CRLF\n\nLonger explanation é.";
    if (i % 50 == 0) c.refs = {"refs/heads/main", "refs/remotes/origin/main"};
  }
  return list;
}

// A disk-cache-shaped object: commit id -> its changed files, ten per commit.
std::string patch_cache() {
  PatchMap map;
  for (int i = 0; i < RECORDS; ++i) {
    std::string commit = hex_id(i / 10);
    std::string path =
        "src/module_" + std::to_string(i % 97) + "/file_" + std::to_string(i) + ".cpp";
    map[commit].push_back(Patch{commit, path, path, PatchType::M, commit + path, false});
  }
  return to_json(map);
}

void BM_WriteCommits(benchmark::State& state) {
  auto list = commits();
  size_t bytes = 0;
  for (auto _ : state) {
    std::string out = to_json(list);
    bytes += out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(bytes));
  state.counters["records"] = RECORDS;
}
BENCHMARK(BM_WriteCommits)->Unit(benchmark::kMillisecond);

// The same into a buffer that keeps its memory: the writer's own cost, without page faults.
void BM_WriteCommitsReusedBuffer(benchmark::State& state) {
  auto list = commits();
  std::string out;
  size_t bytes = 0;
  for (auto _ : state) {
    out.clear();
    write_json(out, list);
    bytes += out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(bytes));
  state.counters["records"] = RECORDS;
}
BENCHMARK(BM_WriteCommitsReusedBuffer)->Unit(benchmark::kMillisecond);

void BM_ReadPatchCache(benchmark::State& state) {
  std::string text = patch_cache();
  JsonRead<PatchMap> read;
  for (auto _ : state) {
    state.PauseTiming();  // freeing the previous map is not reading
    read = {};
    state.ResumeTiming();
    read = parse_json<PatchMap>(text);
    if (!read.value) state.SkipWithError("the cache did not read back");
    benchmark::DoNotOptimize(read.value);
  }
  state.SetBytesProcessed(int64_t(text.size()) * state.iterations());
  state.counters["records"] = RECORDS;
}
BENCHMARK(BM_ReadPatchCache)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace brackwen
