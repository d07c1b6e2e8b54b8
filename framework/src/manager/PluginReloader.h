// Reloading plug-ins whose module files change under a running host. The
// manager keeps each plug-in's load arguments here; with the watch on, a changed
// file queues its plug-ins for unloading at idle time (never while their code
// runs), and the idle step that unloaded them loads the new file with the same
// arguments. A file whose new build fails to load stays watched.
#pragma once

#include <cstdint>
#include <keltk/FileWatch.h>
#include <keltk/Object.h>
#include <keltk/VarRec.h>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace kelvarin {

class TulmKel;
class TulmKelMan;

// Load arguments kept beyond the call that passed them: every value a tag points
// to is copied (objects, classes and plain pointers stay as given).
class OwnedVarRecs {
public:
  OwnedVarRecs() = default;
  explicit OwnedVarRecs(keltk::TVarRecs args);
  OwnedVarRecs(OwnedVarRecs&&) = default;
  OwnedVarRecs& operator=(OwnedVarRecs&&) = default;
  keltk::TVarRecs view() const { return recs_; }

private:
  std::vector<keltk::TVarRec> recs_;
  // Lists keep their elements in place as they grow and when moved, and unlike
  // deques allocate nothing while empty: most loads pass no arguments.
  std::list<std::string> strings_;
  std::list<std::u16string> wides_;
  std::list<std::vector<unsigned char>> shortStrings_;
  std::list<long double> extendeds_;
  std::list<std::int64_t> integers_;
};

class PluginReloader final : public keltk::TObject {
public:
  explicit PluginReloader(TulmKelMan& manager);
  ~PluginReloader() override;
  static const keltk::TClassInfo& StaticClass();
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }

  // A plug-in has been loaded from `fileName` with `args`.
  void loaded(TulmKel* plugin, const std::string& fileName, keltk::TVarRecs args);
  // The manager is destroying `plugin`.
  void destroying(const TulmKel* plugin);
  // The idle step is unloading `plugin` from the queue (null once done): only
  // such an unload leads to a reload; one the host does itself ends it.
  void unloadingFromQueue(const TulmKel* plugin) { queuedUnload_ = plugin; }
  // Loads the files whose plug-ins the idle step has unloaded for a reload.
  void drain();

  bool watching() const { return watch_ != nullptr; }
  bool setWatching(bool on);
  int settleDelay() const { return settleDelay_; }
  void setSettleDelay(int ms);

private:
  struct Entry {
    TulmKel* plugin; // null: the file's last load failed; it stays watched
    std::string fileName;
    OwnedVarRecs args;
  };
  struct Reload {
    const TulmKel* plugin; // null once unloaded: due
    std::string fileName;
    OwnedVarRecs args;
  };

  void onFileChange(keltk::TObject* Sender, const std::string& FileName);
  bool fileWanted(const std::string& fileName) const;
  void forget(const std::string& fileName);

  TulmKelMan& m_;
  std::vector<Entry> entries_;
  std::vector<Reload> reloads_;
  keltk::ObjectPtr<keltk::TFileWatch> watch_;
  int settleDelay_ = 300;
  bool draining_ = false;
  const TulmKel* queuedUnload_ = nullptr;
};

} // namespace kelvarin
