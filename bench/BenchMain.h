#pragma once
// The entry of the benchmarks that run windows: settings and the log of the
// run stay out of the user's folders, and the windows (when the Qt front end
// is built in, CORVAN_BENCH_GUI) run on the offscreen platform.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <string>

#ifdef CORVAN_BENCH_GUI
#include <QApplication>
#endif

namespace corvan::bench {

inline int RunBenchmarks(int argc, char** argv) {
  char folder[] = "/tmp/corvan-bench-XXXXXX";
  if (const char* home = ::mkdtemp(folder)) {
    for (const char* v : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
      ::setenv(v, (std::string(home) + "/" + v).c_str(), 1);
  }
#ifdef CORVAN_BENCH_GUI
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qtApp(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
#endif
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace corvan::bench
