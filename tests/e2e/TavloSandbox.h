// Runs the real tavlo as a user's machine would: a folder holding the program and
// the plug-in modules, a script, and what comes back (exit code, standard output
// and error, the log file the run left next to the program).
#pragma once

#include "TestFiles.h"

#include <string>
#include <string_view>
#include <vector>

namespace e2e {

using kelvarin::testsupport::readFile;
using kelvarin::testsupport::runCommand;

struct TavloRun {
  int exitCode = -1; // -1: killed (timed out), ended by a signal, or did not start
  int signal = 0;    // the signal that ended it, if one did
  std::string out;
  std::string err;
  // The log file's text with time stamps masked ("yyyy/mm/dd hh:nn:ss.zzz") and
  // the folder replaced by "<DIR>"; empty when there is none.
  std::string log;
};

// How the copy of tavlo in a sandbox is linked: as the build's option says, with
// the framework inside, or on the shared framework library the plug-ins use.
enum class Link { AsBuilt, Static, Shared };

// A signal sent to the program once its standard output holds `whenOut`, after the
// signal of the step before has been taken (two of a kind never merge into one).
struct SignalStep {
  std::string whenOut;
  int signal = 0;
};

class TavloSandbox {
public:
  // A fresh folder with tavlo, Splash.kel and DoNothing.kel.
  explicit TavloSandbox(Link link = Link::AsBuilt);

  const std::string& dir() const { return dir_; }
  std::string path(std::string_view name) const { return dir_ + "/" + std::string(name); }
  void removeFile(std::string_view name) const;
  // Puts another host program in tavlo's place (its log is then tavlo.kel.log too).
  void replaceProgram(const std::string& program) const;

  // Writes `script` to a file and runs `tavlo --script FILE` in the folder.
  TavloRun run(std::string_view script, int timeoutMs = 60000) const;
  // Runs with no display named at all (no DISPLAY, no Qt platform).
  bool withoutDisplay = false;
  // More "NAME=VALUE" entries for tavlo's environment, in place of inherited ones.
  std::vector<std::string> environment;

  // Runs tavlo with these arguments in the folder; sends it `signal` once its
  // standard output holds `whenOut` (when a signal is given).
  TavloRun runWith(const std::vector<std::string>& args, int timeoutMs = 60000, int signal = 0,
                   std::string_view whenOut = {}) const;
  TavloRun runWith(const std::vector<std::string>& args, int timeoutMs,
                   std::vector<SignalStep> steps) const;

  // A log file written somewhere else, masked as TavloRun::log is.
  std::string readLog(const std::string& file) const;

private:
  kelvarin::testsupport::TempDir root_;
  std::string dir_;
};

// True when the text is made of whole lines that each end with CR LF.
bool EveryLineEndsWithCrLf(std::string_view text);
// The lines of a text, without their line breaks (LF or CR LF).
std::vector<std::string> Lines(std::string_view text);
// Expects `text` to hold exactly `expected` lines; a failure names the first
// line that differs.
void ExpectLines(std::string_view text, const std::vector<std::string>& expected);

// The log's entry lines ("yyyy/mm/dd hh:nn:ss.zzz  ORIGIN  K  message"), with the
// time stamp and the leading blank cut off.
std::vector<std::string> LogEntries(std::string_view log);

} // namespace e2e
