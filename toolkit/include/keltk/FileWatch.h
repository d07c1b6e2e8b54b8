// Watching files from the event loop: a file that is written in place or
// replaced by a rename is reported once it has been still for the settle delay,
// so a file written in steps is reported once. No thread, no polling: the
// window system's own file watching wakes the loop, and only when a file changes.
#pragma once

#include "keltk/Event.h"
#include "keltk/Object.h"

#include <memory>
#include <string>
#include <vector>

namespace keltk {

class TFileWatch;

using TFileChangeEvent = Event<void(TObject* Sender, const std::string& FileName)>;

// The event loop's side of a watch, made by the running window system.
class TFileWatchPeer {
public:
  virtual ~TFileWatchPeer();
  virtual void watch(const std::string& path) = 0;
  virtual void unwatch(const std::string& path) = 0;
};

// Installed by a window system that can watch files; null takes it away.
using TFileWatchPeerFactory = std::unique_ptr<TFileWatchPeer> (*)(TFileWatch& watch);
void SetFileWatchPeerFactory(TFileWatchPeerFactory factory);

class TFileWatch : public TObject {
public:
  TFileWatch();
  ~TFileWatch() override;
  static const TClassInfo& StaticClass();
  const TClassInfo& ClassType() const override { return StaticClass(); }

  // Whether an event loop that can watch files runs in this program.
  static bool Available();

  // Starts watching `path` (once however often it is added). False when no
  // event loop that can watch files runs in this program.
  bool AddFile(const std::string& path);
  void RemoveFile(const std::string& path);
  bool Watches(const std::string& path) const;
  const std::vector<std::string>& Files() const { return files_; }

  // Milliseconds a changed file must stay unchanged before OnChange.
  int SettleDelay() const { return settleDelay_; }
  void SetSettleDelay(int ms) { settleDelay_ = ms < 0 ? 0 : ms; }

  const TFileChangeEvent& OnChange() const { return onChange_; }
  void SetOnChange(const TFileChangeEvent& e) { onChange_ = e; }

  // Raises OnChange for a watched `path`; the peer calls it once the file settled.
  void FileSettled(const std::string& path);

private:
  std::vector<std::string> files_;
  std::unique_ptr<TFileWatchPeer> peer_;
  int settleDelay_ = 300;
  TFileChangeEvent onChange_;
};

} // namespace keltk
