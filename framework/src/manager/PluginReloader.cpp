#include "PluginReloader.h"

#include "ExceptionReport.h"
#include "LogCalls.h"
#include "kelvarin/Catalogue.h"
#include "kelvarin/Errors.h"
#include "kelvarin/manager.h"
#include "kelvarin/plugin.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fmt/format.h>
#include <keltk/StrUtils.h>
#include <utility>

namespace kelvarin {

OwnedVarRecs::OwnedVarRecs(keltk::TVarRecs args) {
  recs_.reserve(args.size());
  for (const keltk::TVarRec& given : args) {
    keltk::TVarRec r = keltk::ResolveVariant(given);
    if (!r.IsNull()) {
      switch (r.VType) {
      case keltk::vtAnsiString:
        r.VAnsiString = &strings_.emplace_back(*r.VAnsiString);
        break;
      case keltk::vtPChar:
        r.VPChar = strings_.emplace_back(r.VPChar).c_str();
        break;
      case keltk::vtString:
        r.VString = shortStrings_.emplace_back(r.VString, r.VString + 1 + r.VString[0]).data();
        break;
      case keltk::vtWideString:
        r.VWideString = &wides_.emplace_back(*r.VWideString);
        break;
      case keltk::vtPWideChar:
        r.VPWideChar = wides_.emplace_back(r.VPWideChar).c_str();
        break;
      case keltk::vtExtended:
        r.VExtended = &extendeds_.emplace_back(*r.VExtended);
        break;
      case keltk::vtInt64:
        r.VInt64 = &integers_.emplace_back(*r.VInt64);
        break;
      case keltk::vtCurrency:
        r.VCurrency = &integers_.emplace_back(*r.VCurrency);
        break;
      default:
        break;
      }
    }
    recs_.push_back(r);
  }
}

const keltk::TClassInfo& PluginReloader::StaticClass() {
  static keltk::TClassInfo info("TPluginReloader", &TObject::StaticClass());
  return info;
}

PluginReloader::PluginReloader(TulmKelMan& manager) : m_(manager) {}

PluginReloader::~PluginReloader() = default;

void PluginReloader::loaded(TulmKel* plugin, const std::string& loadedName, keltk::TVarRecs args) {
  // The file as it was found now: a plug-in that changes the working folder
  // must not bring another file in at its reload. (Absolute, not canonical: a
  // look at every folder on the way would cost each load more than the rest of
  // this bookkeeping.)
  std::string fileName = loadedName;
  if (!fileName.empty() && fileName.front() != '/') {
    std::error_code error;
    const std::filesystem::path here = std::filesystem::current_path(error);
    if (!error) fileName = (here / fileName).lexically_normal().string();
  }
  // A file watched after a failed load is now this plug-in's.
  std::erase_if(entries_,
                [&](const Entry& e) { return e.plugin == nullptr && e.fileName == fileName; });
  entries_.push_back({plugin, std::move(fileName), OwnedVarRecs(args)});
  if (watch_) watch_->AddFile(entries_.back().fileName);
}

void PluginReloader::destroying(const TulmKel* plugin) {
  if (plugin == queuedUnload_) {
    for (Reload& r : reloads_)
      if (r.plugin == plugin) r.plugin = nullptr;
  } else {
    std::erase_if(reloads_, [&](const Reload& r) { return r.plugin == plugin; });
  }
  const auto it = std::find_if(entries_.begin(), entries_.end(),
                               [&](const Entry& e) { return e.plugin == plugin; });
  if (it == entries_.end()) return;
  const std::string fileName = std::move(it->fileName);
  entries_.erase(it);
  if (watch_ && !fileWanted(fileName)) watch_->RemoveFile(fileName);
}

bool PluginReloader::fileWanted(const std::string& fileName) const {
  return std::any_of(entries_.begin(), entries_.end(),
                     [&](const Entry& e) { return e.fileName == fileName; }) ||
         std::any_of(reloads_.begin(), reloads_.end(),
                     [&](const Reload& r) { return r.fileName == fileName; });
}

bool PluginReloader::setWatching(bool on) {
  if (!on) {
    watch_.reset();
    reloads_.clear();
    std::erase_if(entries_, [](const Entry& e) { return e.plugin == nullptr; });
    return true;
  }
  if (watch_) return true;
  watch_.reset(keltk::CreateObject<keltk::TFileWatch>());
  watch_->SetSettleDelay(settleDelay_);
  watch_->SetOnChange(keltk::TFileChangeEvent::bind<&PluginReloader::onFileChange>(this));
  if (!keltk::TFileWatch::Available()) {
    watch_.reset();
    return false;
  }
  for (const Entry& e : entries_)
    watch_->AddFile(e.fileName);
  return true;
}

void PluginReloader::setSettleDelay(int ms) {
  settleDelay_ = ms < 0 ? 0 : ms;
  if (watch_) watch_->SetSettleDelay(settleDelay_);
}

void PluginReloader::onFileChange(keltk::TObject* /*Sender*/, const std::string& FileName) {
  // Already queued: the unload has not happened yet, and the newest build loads then.
  for (const Reload& r : reloads_)
    if (r.fileName == FileName) return;
  std::vector<Reload> due;
  for (Entry& e : entries_)
    if (e.fileName == FileName) due.push_back({e.plugin, e.fileName, OwnedVarRecs(e.args.view())});
  if (due.empty()) return;
  LogAction(m_, ActionText::FileChanged, {FileName});
  MethodFrame site{"TulmKelMan.Reload"};
  // The new build is asked about before the old one goes: refused, the loaded
  // build stays.
  if (std::any_of(due.begin(), due.end(), [](const Reload& r) { return r.plugin != nullptr; }) &&
      !m_.loadAllowed(FileName, site)) {
    TKelMethodResult refused = smrUnexpectedError;
    const std::string name = keltk::ExtractFileName(FileName);
    LogError(m_,
             FormatError(&EulmKelLoadError::StaticClass(), refused, E002, {keltk::VarStr(name)}));
    for (const Reload& r : due)
      if (r.plugin != nullptr)
        LogAction(m_, ActionText::ReloadRefused, {r.plugin->DeepName(), FileName});
    return;
  }
  // A file that failed to load last time has no plug-in to unload: it loads at once
  // at the next idle step.
  std::erase_if(entries_,
                [&](const Entry& e) { return e.plugin == nullptr && e.fileName == FileName; });
  for (Reload& r : due) {
    if (r.plugin != nullptr) m_.UnloadPluginLater(const_cast<TulmKel*>(r.plugin));
    reloads_.push_back(std::move(r));
  }
}

void PluginReloader::drain() {
  if (draining_) return;
  draining_ = true;
  // Each due reload in the order the changes came; loading may queue more.
  for (std::size_t i = 0; i < reloads_.size();) {
    if (reloads_[i].plugin != nullptr) {
      ++i;
      continue;
    }
    Reload r = std::move(reloads_[i]);
    reloads_.erase(reloads_.begin() + static_cast<std::ptrdiff_t>(i));
    TulmKel* plugin = nullptr;
    (void)m_.LoadPlugin(false, r.fileName, r.args.view(), &plugin);
    if (plugin == nullptr || m_.indexOf(plugin) < 0) {
      // Watched on: the next good build is loaded when it arrives.
      entries_.push_back({nullptr, r.fileName, std::move(r.args)});
      if (watch_) watch_->AddFile(r.fileName);
    }
  }
  draining_ = false;
}

} // namespace kelvarin
