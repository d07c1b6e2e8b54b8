// Helpers the framework tests share: the files of tests/support, captured
// message boxes, and a manager and plug-in that tests can fill by hand.
#pragma once

#include "FrameworkAccess.h"
#include "TestFiles.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <keltk/Dialogs.h>
#include <kelvarin/kelvarin.h>
#include <sstream>
#include <string>
#include <vector>

namespace kelvarin::test {

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

// The file's lines, split at CR LF.
inline std::vector<std::string> crlfLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
    lines.push_back(text.substr(start, at - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// Collects what ShowMessage shows while it lives.
class MessageBoxCapture {
public:
  MessageBoxCapture() {
    previous_ =
        keltk::SetMessageBoxHandler([this](const std::string& text) { shown.push_back(text); });
  }
  ~MessageBoxCapture() { keltk::SetMessageBoxHandler(previous_); }
  std::vector<std::string> shown;

private:
  keltk::MessageBoxHandler previous_;
};

// Takes a plug-in made in the test in as a load takes in the one its module
// makes (no module behind it): handed over to `manager`, then initialized.
inline void takeIn(TulmKelMan& manager, TulmKel& plugin, const std::string& fileName) {
  FrameworkAccess::handOver(plugin, manager, nullptr, fileName, 0);
  (void)plugin.Initialize({});
}

// A plug-in that the manager lists as loaded, taken in as above.
template <class Plugin = TulmKel>
Plugin* addPlugin(TulmKelMan& manager, const std::string& deepName, const std::string& fileName) {
  auto* plugin = keltk::CreateObject<Plugin>(nullptr);
  plugin->SetDeepName(deepName);
  takeIn(manager, *plugin, fileName);
  FrameworkAccess::appendPlugin(manager, plugin);
  return plugin;
}

// A manager that writes its dump file, if ever, into `dir`.
inline keltk::ObjectPtr<TulmKelMan> makeManager(const TempDir& dir,
                                                const std::string& dumpName = "run.kel.log") {
  keltk::ObjectPtr<TulmKelMan> manager(keltk::CreateObject<TulmKelMan>(nullptr));
  manager->Log()->SetDumpFile(dir.file(dumpName));
  return manager;
}

// The log's lines without their time stamps (from column 25 on).
inline std::vector<std::string> linesAfterStamp(const TLog& log) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < log.Entries().Count(); ++i)
    out.emplace_back(log.Entries()[i].substr(24));
  return out;
}

} // namespace kelvarin::test
