// One QApplication for a whole test program: made before the first test and
// deleted after the last. What a suite sets up around it goes in `ready` (run
// once it exists) and `done` (run before it goes).
#pragma once

#include <QApplication>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <utility>

namespace kelvarin::testsupport {

// True on a real X server (Xvfb), and there under a window manager.
inline bool onX11() {
  return QGuiApplication::platformName() == "xcb";
}
inline bool underWindowManager() {
  return onX11() && std::system("wmctrl -m > /dev/null 2>&1") == 0;
}

class QtEnvironment : public ::testing::Environment {
public:
  // `program` is argv[0], which Qt takes for the application's name.
  QtEnvironment(std::string program, std::function<void()> ready, std::function<void()> done)
      : program_(std::move(program)), ready_(std::move(ready)), done_(std::move(done)) {}

  void SetUp() override {
    argv_[0] = program_.data();
    qt_ = new QApplication(argc_, argv_);
    if (ready_) ready_();
  }
  void TearDown() override {
    if (done_) done_();
    delete qt_;
    qt_ = nullptr;
  }

private:
  std::string program_;
  std::function<void()> ready_;
  std::function<void()> done_;
  int argc_ = 1;
  char* argv_[2] = {nullptr, nullptr};
  // Deleted in TearDown only, never by a destructor at exit: a test may delete
  // the application itself (a program's life in a death test's child) and exit.
  QApplication* qt_ = nullptr;
};

} // namespace kelvarin::testsupport
