// The cost of a function logger on a hot path when no sink is installed, and with a sink that
// takes its entries.
#include <benchmark/benchmark.h>

#include <memory>

#include "core/QuorClassLoggers.h"
#include "platform/log/QuorLog.h"

namespace {

void BM_FunctionLoggerWithoutSink(benchmark::State& state) {
  DXL_ScopedSink silent(nullptr);
  int object = 0;
  for (auto _ : state) {
    DXL_FunctionLogger log(QuorMD5HashLogger(), "CQuorMD5Hash::AddData", &object, 0, nullptr,
                           kQuorDefaultLogLevel, 0);
    benchmark::DoNotOptimize(&log);
  }
}
BENCHMARK(BM_FunctionLoggerWithoutSink);

void BM_FunctionLoggerReleaseMessageToCaptureSink(benchmark::State& state) {
  auto capture = std::make_shared<DXL_CaptureSink>();
  DXL_ScopedSink scope(capture);
  int object = 0;
  for (auto _ : state) {
    DXL_FunctionLogger log(QuorMD5HashLogger(), "CQuorMD5Hash::AddData", &object, 0, nullptr,
                           kQuorDefaultLogLevel, 0);
    log.LogReleaseMessage("track ID:%i", 3);
    if (state.iterations() % 4096 == 0) capture->Clear();
  }
}
BENCHMARK(BM_FunctionLoggerReleaseMessageToCaptureSink);

}  // namespace
