// Event queue throughput next to a std::deque under a std::mutex (the
// yardstick, measured in the same run), and the latency from a post on
// another thread to the return of a wait without time-out.
//   qt_events_bench                       all of it
//   qt_events_bench --benchmark_filter=Latency
#include <benchmark/benchmark.h>

#include <QByteArray>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>
#if __has_include(<sys/single_threaded.h>)
#include <sys/single_threaded.h>
#endif

#include "deque_queue.h"
#include "qt/qt_base.h"
#include "qt/wait_window_event.h"

namespace {

qtevents::DequeQueue dequeQueue;

// The C library's mutex skips its atomic instructions while the process has
// a single thread, and so does the queue's lock. The program itself always
// runs with several (the update worker, the platform's own), so each case
// runs twice: first before this process has started any thread, then with
// one parked thread alive. Run in registration order (the default).
struct SingleThreadedProcess {
  static bool Prepare(benchmark::State& state) {
#if __has_include(<sys/single_threaded.h>)
    if (!__libc_single_threaded) {
      state.SkipWithError("the process already has threads");
      return false;
    }
#endif
    (void)state;
    return true;
  }
};
struct ThreadedProcess {
  static bool Prepare(benchmark::State&) {
    // Sleeps until the process ends.
    static const bool started = [] {
      std::thread([] {
        std::mutex lock;
        std::condition_variable never;
        std::unique_lock<std::mutex> guard(lock);
        never.wait(guard, [] { return false; });
      }).detach();
      return true;
    }();
    return started;
  }
};

// One post then one take: the steady state of an interactive program.
template <typename Process>
void BM_EventQueue_PostTake(benchmark::State& state) {
  if (!Process::Prepare(state)) return;
  int64_t object = 0;
  for (auto _ : state) {
    rt::EventPost(rt::EventKind::Gadget, object++, 1, 0);
    benchmark::DoNotOptimize(rt::EventTake());
  }
  state.SetItemsProcessed(state.iterations());
}

template <typename Process>
void BM_Deque_PostTake(benchmark::State& state) {
  if (!Process::Prepare(state)) return;
  int64_t object = 0;
  for (auto _ : state) {
    dequeQueue.Post(rt::EventKind::Gadget, object++, 1, 0);
    benchmark::DoNotOptimize(dequeQueue.Take());
  }
  state.SetItemsProcessed(state.iterations());
}

// A burst of distinct events (nothing coalesces), then all taken.
template <typename Process>
void BM_EventQueue_Burst(benchmark::State& state) {
  if (!Process::Prepare(state)) return;
  const int64_t burst = state.range(0);
  for (auto _ : state) {
    for (int64_t i = 0; i < burst; ++i) rt::EventPost(rt::EventKind::Gadget, i, 1, 0);
    int32_t kind;
    do {
      kind = rt::EventTake();
      benchmark::DoNotOptimize(kind);
    } while (kind != 0);
  }
  state.SetItemsProcessed(state.iterations() * burst);
}

template <typename Process>
void BM_Deque_Burst(benchmark::State& state) {
  if (!Process::Prepare(state)) return;
  const int64_t burst = state.range(0);
  for (auto _ : state) {
    for (int64_t i = 0; i < burst; ++i) dequeQueue.Post(rt::EventKind::Gadget, i, 1, 0);
    int32_t kind;
    do {
      kind = dequeQueue.Take();
      benchmark::DoNotOptimize(kind);
    } while (kind != 0);
  }
  state.SetItemsProcessed(state.iterations() * burst);
}

BENCHMARK_TEMPLATE(BM_EventQueue_PostTake, SingleThreadedProcess);
BENCHMARK_TEMPLATE(BM_Deque_PostTake, SingleThreadedProcess);
BENCHMARK_TEMPLATE(BM_EventQueue_Burst, SingleThreadedProcess)->Arg(64)->Arg(4096);
BENCHMARK_TEMPLATE(BM_Deque_Burst, SingleThreadedProcess)->Arg(64)->Arg(4096);
BENCHMARK_TEMPLATE(BM_EventQueue_PostTake, ThreadedProcess);
BENCHMARK_TEMPLATE(BM_Deque_PostTake, ThreadedProcess);
BENCHMARK_TEMPLATE(BM_EventQueue_Burst, ThreadedProcess)->Arg(64)->Arg(4096);
BENCHMARK_TEMPLATE(BM_Deque_Burst, ThreadedProcess)->Arg(64)->Arg(4096);

// Two threads posting and taking at once: the cost of the lock under contention.
void BM_EventQueue_Contended(benchmark::State& state) {
  int64_t object = static_cast<int64_t>(state.thread_index()) << 32;
  for (auto _ : state) {
    rt::EventPost(rt::EventKind::Gadget, object++, 1, 0);
    benchmark::DoNotOptimize(rt::EventTake());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EventQueue_Contended)->Threads(2)->UseRealTime();

void BM_Deque_Contended(benchmark::State& state) {
  int64_t object = static_cast<int64_t>(state.thread_index()) << 32;
  for (auto _ : state) {
    dequeQueue.Post(rt::EventKind::Gadget, object++, 1, 0);
    benchmark::DoNotOptimize(dequeQueue.Take());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Deque_Contended)->Threads(2)->UseRealTime();

// A poster thread sleeps a little (so that the waiting thread is really
// asleep in the loop), notes the time and posts; the waiting thread notes
// when its wait returned. Reported: median and 99th percentile.
void BM_WakeLatency(benchmark::State& state) {
  while (rt::EventTake() != 0) {
  }
  std::atomic<int64_t> round{-1};
  std::atomic<int64_t> postedAt{0};
  std::atomic<bool> stop{false};
  std::thread poster([&] {
    int64_t served = -1;
    while (!stop.load(std::memory_order_acquire)) {
      const int64_t wanted = round.load(std::memory_order_acquire);
      if (wanted == served) {
        std::this_thread::yield();
        continue;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(300));
      postedAt.store(std::chrono::steady_clock::now().time_since_epoch().count(), std::memory_order_release);
      rt::EventPost(rt::EventKind::Gadget, wanted, 1, 0);
      served = wanted;
    }
  });
  std::vector<double> latencies;
  int64_t n = 0;
  for (auto _ : state) {
    round.store(n, std::memory_order_release);
    int32_t kind;
    do {
      kind = rt::WindowEventWaitForever();
    } while (kind != rt::EventKind::Gadget || rt::CurrentEventGadget() != n);
    const int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::duration(
                               now - postedAt.load(std::memory_order_acquire)))
                               .count();
    latencies.push_back(seconds * 1e6);
    state.SetIterationTime(seconds);
    ++n;
  }
  stop.store(true, std::memory_order_release);
  poster.join();
  std::sort(latencies.begin(), latencies.end());
  if (!latencies.empty()) {
    state.counters["median_us"] = latencies[latencies.size() / 2];
    state.counters["p99_us"] = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
    state.counters["max_us"] = latencies.back();
  }
}
BENCHMARK(BM_WakeLatency)->Iterations(2000)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (qgetenv("QT_QPA_PLATFORM").isEmpty() && qgetenv("DISPLAY").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  rt::ApplicationStart();
  rt::EventQueueStart();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
