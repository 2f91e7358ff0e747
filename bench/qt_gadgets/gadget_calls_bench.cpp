// What the update worker costs the user-interface layer.
//  - GadgetSetState on a progress bar from a worker while the user-interface
//    thread waits for events: calls per second on the worker, and the
//    processor time the user-interface thread spends per second receiving
//    them. The same call made on the user-interface thread is the yardstick.
//  - GadgetGetText from a worker: the round trip while the user-interface
//    thread sleeps in a wait without time-out (median, 99th percentile).
//   qt_gadgets_bench
//   qt_gadgets_bench --benchmark_filter=RoundTrip
#include <benchmark/benchmark.h>
#include <time.h>

#include <QByteArray>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "core/workspace.h"
#include "qt/gadget.h"
#include "qt/progress_bar_gadget.h"
#include "qt/qt_base.h"
#include "qt/string_gadget.h"
#include "qt/wait_window_event.h"
#include "qt/windows.h"

namespace {

int64_t window = 0;
int64_t bar = 0;
int64_t text = 0;

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Worker: `calls` progress values, as the update worker sets them (0..100).
// User-interface thread: waits for events meanwhile, as the program does.
void BM_SetStateFromWorker(benchmark::State& state) {
  const int64_t calls = state.range(0);
  double workerSeconds = 0, uiCpuSeconds = 0;
  for (auto _ : state) {
    std::atomic<bool> done{false};
    std::atomic<int64_t> elapsedNs{0};
    const double cpuBefore = ThreadCpuSeconds();
    std::thread worker([&] {
      const auto start = std::chrono::steady_clock::now();
      for (int64_t i = 0; i < calls; ++i) rt::GadgetSetState(bar, i * 100 / calls);
      elapsedNs = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
      done = true;
      rt::EventPost(rt::EventKind::Timer, 0, 0, 0);  // ends the wait below
    });
    while (!done.load()) rt::WindowEventWaitForever();
    worker.join();
    while (rt::EventTake() != 0) {
    }
    const double seconds = static_cast<double>(elapsedNs.load()) * 1e-9;
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    state.SetIterationTime(seconds);
    workerSeconds += seconds;
    uiCpuSeconds += cpu;
  }
  state.counters["calls_per_s"] = static_cast<double>(calls * state.iterations()) / workerSeconds;
  state.counters["ui_cpu_ms_per_s"] = uiCpuSeconds / workerSeconds * 1e3;
  state.counters["final_state"] = static_cast<double>(rt::GadgetGetState(bar));
}
BENCHMARK(BM_SetStateFromWorker)->Arg(1000000)->Arg(10000000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_SetStateOnUiThread(benchmark::State& state) {
  int64_t i = 0;
  for (auto _ : state) rt::GadgetSetState(bar, (i++ / 1000) % 101);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SetStateOnUiThread);

// Each round: the worker asks for the text and notes how long the answer took;
// the user-interface thread sleeps in its wait without time-out meanwhile.
void BM_GetTextRoundTrip(benchmark::State& state) {
  const int64_t rounds = state.range(0);
  std::vector<double> latencies;
  latencies.reserve(static_cast<size_t>(rounds * 3));
  for (auto _ : state) {
    std::atomic<bool> done{false};
    double total = 0;
    std::thread worker([&] {
      rt::WorkspaceEnsure();
      for (int64_t i = 0; i < rounds; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));  // let the other thread fall asleep
        const int64_t saved = rt::WorkspacePosition();
        const auto start = std::chrono::steady_clock::now();
        rt::GadgetGetText(text, saved);
        const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        benchmark::DoNotOptimize(rt::WorkspaceString(saved)[0]);
        rt::WorkspaceRestore(saved);
        latencies.push_back(us);
        total += us;
      }
      done = true;
      rt::EventPost(rt::EventKind::Timer, 0, 0, 0);
    });
    while (!done.load()) rt::WindowEventWaitForever();
    worker.join();
    while (rt::EventTake() != 0) {
    }
    state.SetIterationTime(total * 1e-6);
  }
  std::sort(latencies.begin(), latencies.end());
  state.counters["median_us"] = latencies[latencies.size() / 2];
  state.counters["p99_us"] = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
  state.counters["max_us"] = latencies.back();
}
BENCHMARK(BM_GetTextRoundTrip)->Arg(2000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qgetenv("QT_QPA_PLATFORM").isEmpty() && qgetenv("DISPLAY").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  rt::WorkspaceEnsure();
  rt::ApplicationStart();
  rt::EventQueueStart();
  rt::WindowLibraryStart();
  rt::GadgetLibraryStart();
  window = static_cast<int64_t>(rt::WindowOpen(rt::DynamicNumber, 0, 0, 400, 200, u"bench"));
  bar = rt::ProgressBarGadget(rt::DynamicNumber, 10, 110, 380, 30, 0, 100);
  text = rt::StringGadget(rt::DynamicNumber, 90, 70, 200, 20, u"trx.fw");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  rt::GadgetLibraryEnd();
  rt::WindowLibraryEnd();
  return 0;
}
