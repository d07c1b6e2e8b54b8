// File watching through Qt: QFileSystemWatcher on each file and on its folder
// (a rename over a file ends the file's own watch; the folder still sees it),
// and one single-shot timer per file that every change restarts.
#include "QtGuiBackend.h"
#include "keltk/Application.h"
#include "keltk/FileWatch.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QString>
#include <QTimer>
#include <map>
#include <sys/stat.h>

namespace keltk::qt {

namespace {

// What tells one state of a file from the next: a rename brings another inode,
// a write another size or time.
struct FileState {
  bool exists = false;
  ino_t inode = 0;
  off_t size = 0;
  long long mtimeNs = 0;
  friend bool operator==(const FileState&, const FileState&) = default;
};

FileState stateOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return {true, st.st_ino, st.st_size,
          static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

class QtFileWatchPeer final : public TFileWatchPeer {
public:
  explicit QtFileWatchPeer(TFileWatch& watch) : watch_(watch) {
    QObject::connect(&watcher_, &QFileSystemWatcher::fileChanged,
                     [this](const QString& path) { touched(path.toStdString()); });
    QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, [this](const QString& dir) {
      for (auto& [path, file] : files_)
        if (file.folder == dir) touched(path);
    });
  }

  void watch(const std::string& path) override {
    File& file = files_[path];
    file.folder = QFileInfo(QString::fromStdString(path)).absolutePath();
    file.reported = stateOf(path);
    file.timer.reset(new QTimer);
    file.timer->setSingleShot(true);
    QObject::connect(file.timer.get(), &QTimer::timeout, [this, path] { settle(path); });
    watcher_.addPath(QString::fromStdString(path));
    watcher_.addPath(file.folder);
  }

  void unwatch(const std::string& path) override {
    const auto it = files_.find(path);
    if (it == files_.end()) return;
    const QString folder = it->second.folder;
    files_.erase(it);
    watcher_.removePath(QString::fromStdString(path));
    for (const auto& [other, file] : files_)
      if (file.folder == folder) return;
    watcher_.removePath(folder);
  }

private:
  struct File {
    QString folder;
    FileState reported; // as last reported (or first seen)
    FileState pending;  // as seen by the latest change
    // Freed later: the timer may be the one whose timeout runs right now.
    struct Later {
      void operator()(QTimer* t) const { t->deleteLater(); }
    };
    std::unique_ptr<QTimer, Later> timer;
  };

  // A change of something in the folder, or of the file: the file is still
  // moving until the timer runs out without another change.
  void touched(const std::string& path) {
    const auto it = files_.find(path);
    if (it == files_.end()) return;
    File& file = it->second;
    const FileState now = stateOf(path);
    if (now == file.reported && !file.timer->isActive()) return;
    file.pending = now;
    file.timer->start(watch_.SettleDelay());
  }

  void settle(std::string path) {
    const auto it = files_.find(path);
    if (it == files_.end()) return;
    File& file = it->second;
    const FileState now = stateOf(path);
    if (!now.exists) return; // the folder's watch sees the new file arrive
    // A file replaced by a rename is another inode: its watch may have gone, or
    // still follow the old one.
    const QString qpath = QString::fromStdString(path);
    if (now.inode != file.reported.inode || !watcher_.files().contains(qpath)) {
      watcher_.removePath(qpath);
      watcher_.addPath(qpath);
    }
    if (now != file.pending) {
      file.pending = now;
      file.timer->start(watch_.SettleDelay());
      return;
    }
    if (now == file.reported) return;
    file.reported = now;
    // The handler may unwatch (and so free) this very entry.
    auto* backend = dynamic_cast<QtGuiBackend*>(GuiBackend());
    if (backend != nullptr)
      backend->dispatch([&] { watch_.FileSettled(path); });
    else
      try {
        watch_.FileSettled(path);
      } catch (...) {
        // Nothing may unwind through Qt.
      }
  }

  TFileWatch& watch_;
  QFileSystemWatcher watcher_;
  std::map<std::string, File> files_;
};

} // namespace

std::unique_ptr<TFileWatchPeer> CreateFileWatchPeer(TFileWatch& watch) {
  return std::make_unique<QtFileWatchPeer>(watch);
}

} // namespace keltk::qt
