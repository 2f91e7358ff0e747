// The block-pool benchmarks once the process has had a second thread, as the
// real program has (its update worker). Until then the C library takes its
// mutexes without atomic instructions; from then on every lock and unlock is
// an atomic read-modify-write, while malloc's per-thread cache still needs
// none. A program of its own, so that the other benchmarks keep running
// single-threaded.
#include <benchmark/benchmark.h>

#include <thread>

int main(int argc, char** argv) {
  std::thread([] {}).join();  // from here on the process counts as multi-threaded
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
