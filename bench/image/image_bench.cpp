// The banner decoded by ImageCatch (PNG decoder into a KTQImage) against
// QImage::fromData of the same bytes, in one run, and the pieces around it.
#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/image_codec.h"
#include "image/image_store.h"
#include "qt/qt_image.h"

namespace {

std::vector<uint8_t>& Banner() {
  static std::vector<uint8_t> bytes = [] {
    std::ifstream in(FWU_BANNER_PNG, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }();
  return bytes;
}

void BM_ImageCatchBanner(benchmark::State& state) {
  const std::vector<uint8_t>& png = Banner();
  for (auto _ : state) {
    // Number 0 again: the previous image is freed inside the call, as in a re-catch.
    benchmark::DoNotOptimize(rt::ImageCatch(0, png.data(), static_cast<int64_t>(png.size())));
  }
  const rt::KTQImage* image = rt::KTQImageOfHandle(rt::ImageHandle(0));
  if (!image || image->width() != 400) state.SkipWithError("banner did not decode");
  rt::ImageFree(0);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 400 * 60 * 3);
}
BENCHMARK(BM_ImageCatchBanner);

void BM_QImageFromData(benchmark::State& state) {
  const std::vector<uint8_t>& png = Banner();
  for (auto _ : state) {
    QImage image = QImage::fromData(png.data(), static_cast<int>(png.size()), "PNG");
    benchmark::DoNotOptimize(image.constBits());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 400 * 60 * 3);
}
BENCHMARK(BM_QImageFromData);

// The decoder alone into a reused buffer: what ImageCatch adds on top is the
// allocation, the table and the QImage wrapper.
void BM_PngDecodeOnly(benchmark::State& state) {
  const std::vector<uint8_t>& png = Banner();
  std::vector<uint8_t> buffer(61 * 1200);
  rt::ImageDecodeState* decode = rt::ImageDecodeStateGet();
  for (auto _ : state) {
    rt::ImageIdentify(decode, png.data(), static_cast<int64_t>(png.size()));
    benchmark::DoNotOptimize(rt::ImageDecodeInto(decode, buffer.data(), 1200, 0));
    rt::ImageDecodeFinish(decode);
  }
}
BENCHMARK(BM_PngDecodeOnly);

// The first display of an image: the pixmap and icon conversions.
void BM_FirstPixmapAndIcon(benchmark::State& state) {
  const std::vector<uint8_t>& png = Banner();
  for (auto _ : state) {
    state.PauseTiming();
    rt::ImageCatch(0, png.data(), static_cast<int64_t>(png.size()));
    state.ResumeTiming();
    benchmark::DoNotOptimize(rt::ImageIcon(rt::KTQImageOfHandle(rt::ImageHandle(0))).cacheKey());
  }
  rt::ImageFree(0);
}
BENCHMARK(BM_FirstPixmapAndIcon);

// Prints the console table, then the ratio of the two banner decoders.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      // Single runs, or the mean when repetitions are asked for.
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "mean") continue;
      real_[run.run_name.function_name] = run.GetAdjustedRealTime();
      cpu_[run.run_name.function_name] = run.GetAdjustedCPUTime();
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    PrintRatio("real", real_);
    PrintRatio("CPU", cpu_);
  }

 private:
  static void PrintRatio(const char* clock, const std::map<std::string, double>& times) {
    const auto ours = times.find("BM_ImageCatchBanner"), qt = times.find("BM_QImageFromData");
    if (ours == times.end() || qt == times.end() || qt->second <= 0) return;
    std::printf("ImageCatch / QImage::fromData on the banner, %s time: %.2f (%.1f us vs %.1f us)\n", clock,
                ours->second / qt->second, ours->second / 1000.0, qt->second / 1000.0);
  }
  std::map<std::string, double> real_;
  std::map<std::string, double> cpu_;
};

}  // namespace

int main(int argc, char** argv) {
  if (Banner().empty()) {
    std::fprintf(stderr, "cannot read %s\n", FWU_BANNER_PNG);
    return 1;
  }
  // Pixmaps need a GUI application; no display is needed for any of this.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  rt::ImageLibraryStart();
  rt::RegisterPngDecoder();
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  rt::ImageLibraryEnd();
  return 0;
}
