// Runs a script against the main form from the application's idle steps, one
// line per step, so that the event loop runs (and paints, and drains the
// manager's unload queue) between lines as it would for a user.
//
//   load NAME                       type NAME into the edit and click the button;
//                                   a failed load prints "load NAME: <error
//                                   message>" and, indented below, the reason
//                                   the module gave no plug-in, when known
//   exec DEEPNAME COMMAND [ARG...]  run a command of a loaded plug-in; prints
//                                   "COMMAND: OK" or "COMMAND: <error message>"
//   wait MS                         let the event loop run for MS milliseconds
//   screenshot COMPONENT PATH       save a PNG of the shown window named COMPONENT
//   close-window COMPONENT          close a shown window as its user would
//   print PATH                      print "PATH = VALUE" for a published property
//                                   of a window or its components (PropertyPath.h)
//   plugins                         one line per module in the plug-in folder,
//                                   read without loading it:
//                                   "Plugin: FILE: STATE "DEEPNAME" VERSION (REASON)"
//   unload-all                      unload every plug-in, without a message box
//   close                           close the main form; the program ends with 0
//
// A line that cannot be carried out is reported on standard error with its line
// number; the main form is then closed and the program ends with 1. So is a main
// form closed (by its user or the window manager) before the last line.
//
// No script waits for a user: every message box is answered at once (its OK
// button), its text printed as "Message: TEXT".
#pragma once

#include "Script.h"

#include <chrono>
#include <keltk/Application.h>
#include <string>
#include <vector>

class TForm1;

namespace tavlo {

class ScriptRunner : public keltk::TObject {
public:
  ScriptRunner(TForm1& form, std::string scriptName, std::vector<ScriptLine> lines);
  ~ScriptRunner() override;
  static const keltk::TClassInfo& StaticClass();
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }

  // Takes the application's idle event (chaining to the handler found there);
  // the first line runs at the next idle step.
  void Start();
  // Gives the idle event back.
  void Stop();
  // Closes the main form once the last line has run (nobody can close it on a
  // run without a screen).
  void SetCloseAtEnd(bool close) { closeAtEnd_ = close; }
  // The number of the line that had not run yet when the main form closed
  // without the script asking for it, or 0.
  int UnfinishedLine() const;

  // A last line that waits is not done until its time is up.
  bool Finished() const { return (next_ >= lines_.size() && !waiting_) || stopped_; }
  // 0, or 1 after a line failed.
  int ExitCode() const { return exitCode_; }

private:
  void OnIdle(keltk::TObject* Sender, bool& Done);
  void runNext();
  // Runs one line; raises ScriptError when it cannot be carried out.
  void run(const ScriptLine& line);
  void fail(const ScriptLine& line, const std::string& reason);
  // Closes the main form as its user would; the script ends.
  void closeMainForm();

  void load(const std::vector<std::string>& words);
  void exec(const std::vector<std::string>& words);
  void plugins();
  void wait(const std::vector<std::string>& words);
  void screenshot(const std::vector<std::string>& words);
  void closeWindow(const std::vector<std::string>& words);

  TForm1& form_;
  std::string scriptName_;
  std::vector<ScriptLine> lines_;
  std::size_t next_ = 0;
  bool stopped_ = false;
  int exitCode_ = 0;
  bool waiting_ = false;
  std::chrono::steady_clock::time_point waitUntil_;
  bool hooked_ = false;
  bool closeAtEnd_ = false;
  keltk::TIdleEvent ownOnIdle_;
};

} // namespace tavlo
