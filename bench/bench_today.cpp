// Prints what the home-screen item costs the home screen: one refresh query (the home screen asks
// every two seconds; it looks for the main window in the device's window registry) and one
// paint of the 35-pixel item with every icon, the numbers and the place line (goals: under 1 ms
// and under 5 ms). The item runs in this process on Qt's offscreen platform, on a fresh device
// with Telvane installed and a main window registered by the benchmark itself.
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Figures.h"
#include "platform/Device.h"
#include "platform/Registry.h"
#include "platform/Window.h"
#include "today/ItemWindow.h"

namespace fs = std::filesystem;

namespace {

today::CItemWindow* g_item = nullptr;
platform::qt::TODAYLISTITEM g_record;

void BM_RefreshQuery(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(g_item->QueryRefresh(&g_record));
}
BENCHMARK(BM_RefreshQuery)->Unit(benchmark::kMicrosecond);

void BM_Paint(benchmark::State& state) {
  QImage picture(today::kItemWidth, today::kItemHeightWithPlace, QImage::Format_RGB32);
  for (auto _ : state)
    g_item->Render(&picture);
}
BENCHMARK(BM_Paint)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  fs::path folder = fs::temp_directory_path() / ("telvane-bench-today-" + std::to_string(getpid()));
  fs::remove_all(folder);
  std::string install =
      "TELVANE_DEVICE='" + folder.string() + "' '" TELVANE_DEVICE_TOOL "' install >/dev/null";
  if (std::system(install.c_str()) != 0) {
    std::fprintf(stderr, "bench_today: cannot install Telvane on %s\n", folder.c_str());
    return 1;
  }
  platform::Device& device = platform::Device::Open(folder);
  platform::RegistrySetDWORD(platform::HKEY_LOCAL_MACHINE, today::kSettingsKey, "today_print_place",
                             1);
  platform::RegistrySetString(platform::HKEY_LOCAL_MACHINE, today::kSettingsKey, "current_place",
                              "Home");
  platform::RegistrySetString(platform::HKEY_LOCAL_MACHINE, today::kSettingsKey, "current_frame",
                              "Morning");
  platform::MessageQueueSink mainSink;
  platform::HWND main = platform::RegisterTopLevelWindow(today::kMainWindowClass, &mainSink);
  {
    QWidget host;
    today::CItemWindow item(&g_record, &host,
                            (device.ProgramFolder() / "libTodayTelvane.so").string());
    g_item = &item;
    // Registered with the main window, which told it every state: a query then only looks.
    item.QueryRefresh(&g_record);
    const int states[] = {1, 2, 2, 0, 2, 2};
    for (int slot = 0; slot < today::kSlotCount; ++slot)
      item.HandleMessage(today::WM_ITEM_FEATURE_STATE, slot, states[slot]);
    item.HandleMessage(today::WM_ITEM_LOCATION, 4711, 300);
    item.HandleMessage(today::WM_ITEM_PLACE_CHANGED, 0, 0);

    QImage picture(today::kItemWidth, today::kItemHeightWithPlace, QImage::Format_RGB32);
    auto first = std::chrono::steady_clock::now();
    item.Render(&picture);
    double firstPaint =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - first).count();
    double query = bench::MedianCallUs(2000, [&] { item.QueryRefresh(&g_record); });
    double paint = bench::MedianCallUs(500, [&] { item.Render(&picture); });
    std::printf("Refresh query: median %.1f us (goal < 1000 us)\n", query);
    std::printf(
        "Paint of the item (240x35, six icons, numbers, place line): median %.1f us "
        "(goal < 5000 us); first paint, reading the images: %.1f us\n",
        paint, firstPaint);
    std::fflush(stdout);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_item = nullptr;
  }
  platform::DestroyTopLevelWindow(main);
  platform::Device::Close();
  fs::remove_all(folder);
  return 0;
}
