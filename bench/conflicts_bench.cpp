// The conflicted-file reader over a large file, and the data-store file read and written.
#include <benchmark/benchmark.h>

#include "api_types/json.hpp"
#include "git/conflicts/api.hpp"
#include "server/data_store.hpp"
#include "server/data_store_reader.hpp"

namespace brackwen {
namespace {

// 100,000 lines: every tenth line opens a conflict of three lines a side.
std::string conflicted_text() {
  std::string text;
  for (int i = 0; i < 100000; ++i) {
    if (i % 10 == 0) {
      text +=
          "<<<<<<< HEAD\nleft one\nleft two\nleft three\n=======\nright one\nright two\n"
          ">>>>>>> feature/topic\n";
    }
    text += "an ordinary line of source code, number " + std::to_string(i) + "\n";
  }
  return text;
}

void BM_ReadConflictsAndWriteJson(benchmark::State& state) {
  std::string text = conflicted_text();
  for (auto _ : state) {
    std::string json = to_json(*read_conflicts(text));
    benchmark::DoNotOptimize(json);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadConflictsAndWriteJson)->Unit(benchmark::kMillisecond);

DataStore big_store() {
  DataStore store;
  for (int i = 0; i < 10000; ++i) {
    store["setting." + std::to_string(i)] =
        "{\"layout\":[1,2,3],\"name\":\"value " + std::to_string(i) + "\"}";
  }
  return store;
}

void BM_DataStoreTextRoundTrip(benchmark::State& state) {
  DataStore store = big_store();
  for (auto _ : state) {
    auto back = read_data_store_text(data_store_text(store));
    benchmark::DoNotOptimize(back);
  }
}
BENCHMARK(BM_DataStoreTextRoundTrip)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace brackwen
