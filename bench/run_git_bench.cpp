// Throughput of reading a large git output and of the UTF-8 repair that follows it.
#include <benchmark/benchmark.h>

#include "bench/support/stub_git.hpp"
#include "git/run_git.hpp"
#include "parser/standard_parsers.hpp"

namespace {

constexpr size_t SIZE = 50u << 20;

std::string sample_text(size_t size) {
  std::string line = "4b825dc642cb6eb9a060e54bf8d69288fbee4904 Ünïcode author <a@b.c> message\n";
  std::string out;
  out.reserve(size + line.size());
  while (out.size() < size) out += line;
  return out;
}

// A stub git first on PATH that prints a 50 MiB file.
const std::string& stub_dir() {
  return brackwen::bench::stub_git_dir(sample_text(SIZE), "exec cat \"$OUT\"");
}

void BM_RunGit50MiB(benchmark::State& state) {
  const std::string& dir = stub_dir();
  for (auto _ : state) {
    auto out = brackwen::run_git(dir, {"log"});
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * SIZE));
}
BENCHMARK(BM_RunGit50MiB)->Unit(benchmark::kMillisecond);

void BM_DecodeValid(benchmark::State& state) {
  std::string text = sample_text(SIZE);
  for (auto _ : state) benchmark::DoNotOptimize(brackwen::decode_utf8_lossy(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_DecodeValid)->Unit(benchmark::kMillisecond);

void BM_DecodeOneInvalidByte(benchmark::State& state) {
  std::string text = sample_text(SIZE);
  text[text.size() / 2] = '\xFF';
  for (auto _ : state) benchmark::DoNotOptimize(brackwen::decode_utf8_lossy(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_DecodeOneInvalidByte)->Unit(benchmark::kMillisecond);

void BM_FirstWordsOfLines(benchmark::State& state) {
  std::string text = sample_text(SIZE);
  for (auto _ : state) {
    auto words = brackwen::parse_all(text, brackwen::first_words_of_lines);
    benchmark::DoNotOptimize(words);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_FirstWordsOfLines)->Unit(benchmark::kMillisecond);

}  // namespace
