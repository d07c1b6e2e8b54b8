// Loading real plug-in modules (the fixtures) into a manager of this program,
// which carries the framework and the toolkit inside, as the sample host does.
#pragma once

#include "FrameworkTestSupport.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <keltk/Application.h>
#include <kelvarin/PluginModule.h>
#include <link.h>
#include <string>
#include <string_view>
#include <vector>

namespace kelvarin::test {

inline std::string fixtureDir() {
  return KELVARIN_FIXTURE_DIR;
}
inline std::string fixture(const std::string& name) {
  return fixtureDir() + "/" + name + ".kel";
}

// Whether this process maps `path` (a line of /proc/self/maps ends with it).
inline bool isMapped(const std::string& path) {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);)
    if (line.size() >= path.size() &&
        line.compare(line.size() - path.size(), path.size(), path) == 0)
      return true;
  return false;
}

// The full name of the loaded object whose file name is `fileName` or a
// versioned name of it (libkeltk.so.1 for libkeltk.so), or "".
inline std::string loadedModuleFile(const std::string& fileName) {
  struct Search {
    std::string part;
    std::string found;
  } search{"/" + fileName, {}};
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) {
        auto* s = static_cast<Search*>(data);
        const std::string_view name = info->dlpi_name != nullptr ? info->dlpi_name : "";
        const std::size_t at = name.rfind(s->part);
        if (at == std::string_view::npos || name.find('/', at + 1) != std::string_view::npos)
          return 0;
        const std::string_view rest = name.substr(at + s->part.size());
        if (!rest.empty() && rest.front() != '.') return 0;
        s->found = name;
        return 1;
      },
      &search);
  return search.found;
}

class LifecycleTest : public ::testing::Test {
protected:
  void SetUp() override {
    idleBefore = keltk::Application()->OnIdle();
    keltk::Application()->SetOnIdle({});
    manager = makeManager(dir);
    manager->SetName("ulmKelMan1");
    manager->Log()->SetDumpOn(doNever);
    manager->SetPluginFolder(fixtureDir());
  }
  void TearDown() override {
    manager.reset();
    keltk::Application()->SetOnIdle(idleBefore);
  }

  std::vector<std::string> lines() const { return linesAfterStamp(*manager->Log()); }
  // The lines logged from `from` on.
  std::vector<std::string> linesFrom(std::size_t from) const {
    std::vector<std::string> all = lines();
    return {all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end()};
  }
  std::size_t logged() const { return manager->Log()->Entries().Count(); }

  // Loads `name` from the fixture folder and expects success.
  TulmKel* load(const std::string& name) {
    TulmKel* plugin = nullptr;
    const TKelMethodResult r = manager->LoadPlugin(name, &plugin);
    EXPECT_TRUE(r.Success) << name << ": " << r.ErrorMsg << "\n" << manager->LastModuleError();
    return plugin;
  }

  // The manager's log line for `text` from the origin `origin` and kind letter.
  static std::string line(const std::string& origin, char kind, const std::string& text) {
    std::string out = "  " + origin;
    out.resize(23, ' ');
    out += kind;
    out += "  ";
    return out + text;
  }
  static std::string action(const std::string& text) { return line("MANAGER", 'A', text); }
  static std::string error(const std::string& text) { return line("MANAGER", 'E', text); }

  TempDir dir;
  MessageBoxCapture boxes;
  keltk::TIdleEvent idleBefore;
  keltk::ObjectPtr<TulmKelMan> manager;
};

} // namespace kelvarin::test
