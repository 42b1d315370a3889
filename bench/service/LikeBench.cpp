// Like patterns against long texts: the cost must grow with the text, not text times pattern.
#include <benchmark/benchmark.h>

#include <string>

#include "service/LikePattern.h"

namespace {

using kestrava::service::LikePattern;

// '%' + 'a' x n + 'b' against a megabyte of 'a': every position starts a near miss.
void BM_NearMissesInAMegabyte(benchmark::State& state) {
  const LikePattern pattern("%" + std::string(static_cast<size_t>(state.range(0)), 'a') + "b");
  const std::string text(1 << 20, 'a');
  for (auto _ : state) benchmark::DoNotOptimize(pattern.matches(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (1 << 20));
}

// A command line of a megabyte with the words far apart, as a Where clause on CommandLine meets.
void BM_SegmentsInAMegabyteCommandLine(benchmark::State& state) {
  std::string text;
  while (text.size() < (1 << 20)) text += "--option=value /usr/lib/x86_64-linux-gnu/libexample.so ";
  text += "--needle";
  const LikePattern pattern("%/usr/lib/%[0-9]_-linux-%--NEEDLE");
  for (auto _ : state) benchmark::DoNotOptimize(pattern.matches(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// The ordinary case: a short pattern against a service name, per object of a query.
void BM_ShortNamePerObject(benchmark::State& state) {
  const LikePattern pattern("%ssh%.service");
  const std::string text = "ssh-agent-forwarding.service";
  for (auto _ : state) benchmark::DoNotOptimize(pattern.matches(text));
}

}  // namespace

BENCHMARK(BM_NearMissesInAMegabyte)
    ->Arg(1000)
    ->Arg(LikePattern::kMaxPatternBytes - 2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SegmentsInAMegabyteCommandLine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShortNamePerObject);
BENCHMARK_MAIN();
