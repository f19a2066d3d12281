#pragma once

#include <QApplication>

namespace kd735::bench {

// One application object for the whole benchmark program: a QApplication, since the window
// benchmarks need one; headless unless told otherwise.
inline QApplication& App() {
  static int argc = 1;
  static char name[] = "bench";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(argc, argv);
  }();
  return *app;
}

}  // namespace kd735::bench
