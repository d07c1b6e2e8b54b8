#include "keltk/FileWatch.h"

#include <algorithm>

namespace keltk {

namespace {
TFileWatchPeerFactory peerFactory = nullptr;
} // namespace

TFileWatchPeer::~TFileWatchPeer() = default;

void SetFileWatchPeerFactory(TFileWatchPeerFactory factory) {
  peerFactory = factory;
}

const TClassInfo& TFileWatch::StaticClass() {
  static TClassInfo info("TFileWatch", &TObject::StaticClass());
  return info;
}

TFileWatch::TFileWatch() = default;
TFileWatch::~TFileWatch() = default;

bool TFileWatch::Available() {
  return peerFactory != nullptr;
}

bool TFileWatch::AddFile(const std::string& path) {
  if (Watches(path)) return true;
  if (!peer_) {
    if (peerFactory == nullptr) return false;
    peer_ = peerFactory(*this);
    if (!peer_) return false;
  }
  files_.push_back(path);
  peer_->watch(path);
  return true;
}

void TFileWatch::RemoveFile(const std::string& path) {
  const auto it = std::find(files_.begin(), files_.end(), path);
  if (it == files_.end()) return;
  files_.erase(it);
  if (peer_) peer_->unwatch(path);
}

bool TFileWatch::Watches(const std::string& path) const {
  return std::find(files_.begin(), files_.end(), path) != files_.end();
}

void TFileWatch::FileSettled(const std::string& path) {
  if (Watches(path) && onChange_) onChange_(this, path);
}

} // namespace keltk
