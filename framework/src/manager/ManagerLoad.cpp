// Turning a file name into a loaded, initialized plug-in, and undoing a load that
// failed half way. One function per phase; each keeps the step markers of the
// steps it runs.
#include "Broadcast.h"
#include "ExceptionReport.h"
#include "FrameworkAccess.h"
#include "LogCalls.h"
#include "ManagerOperation.h"
#include "ModuleLoader.h"
#include "ModuleMetadata.h"
#include "ModuleRelease.h"
#include "PluginCallScope.h"
#include "PluginReloader.h"
#include "PluginWatch.h"
#include "ThreadCheck.h"
#include "kelvarin/Catalogue.h"
#include "kelvarin/Errors.h"
#include "kelvarin/Files.h"
#include "kelvarin/Framework.h"
#include "kelvarin/PluginModule.h"
#include "kelvarin/manager.h"
#include "kelvarin/plugin.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <fmt/format.h>
#include <keltk/Backend.h>
#include <keltk/Dialogs.h>
#include <keltk/StrUtils.h>
#include <sys/stat.h>
#include <vector>

namespace kelvarin {

namespace {

TErrorClass loadError() {
  return &EulmKelLoadError::StaticClass();
}

// The framework version named by the module's version record, asked with this
// manager's token; empty when it answers none. The usual record fits the first
// buffer, which needs no allocation.
std::string askFrameworkVersion(TGetPluginInfoFunc getPluginInfo, TOriginToken token) {
  constexpr int kLongestRecord = 1 << 16; // longer is no version record
  std::array<char, 256> first;
  int length = getPluginInfo(first.data(), static_cast<int>(first.size()), token);
  if (length <= 0 || length > kLongestRecord) return {};
  if (static_cast<std::size_t>(length) < first.size())
    return VersionInRecord({first.data(), static_cast<std::size_t>(length)});
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
  length = std::min(getPluginInfo(buffer.data(), static_cast<int>(buffer.size()), token),
                    static_cast<int>(buffer.size()) - 1);
  if (length <= 0) return {};
  return VersionInRecord({buffer.data(), static_cast<std::size_t>(length)});
}

// The toolkit copy's module that `plugin`'s classes derive from: its TComponent
// class information lives there.
const void* toolkitAnchorOf(const TulmKel* plugin) {
  for (const keltk::TClassInfo* c = &plugin->ClassType(); c != nullptr; c = c->parent)
    if (c->name == "TComponent") return c;
  return nullptr;
}

// A name quoted in a message: an embedded NUL shown, not cutting the text short.
std::string shownName(const std::string& name) {
  return keltk::StringReplaceAll(name, std::string(1, '\0'), "\\0");
}

} // namespace

// One call of LoadPlugin. Each phase answers whether the load goes on; a phase
// that ends it has filled the result.
class PluginLoad {
public:
  PluginLoad(TulmKelMan& manager, const std::string& fileName, keltk::TVarRecs params,
             TulmKel** loadedPlugin)
      : m_(manager), fileName_(fileName), params_(params), loadedPlugin_(loadedPlugin),
        watch_(manager, nullptr) {}

  TKelMethodResult run(bool showErrorMessage) {
    site_.step = 1;
    if (loadedPlugin_ != nullptr) *loadedPlugin_ = nullptr;
    m_.lastModuleError_.clear();
    GuardedSwallow(&m_, site_, [&] {
      if (resolveName() && checkFile() && announce() && askVetoes() && mapModule() &&
          checkVersion() && construct() && countInstances() && initialize() && notify())
        finish();
    });
    close(showErrorMessage);
    return result_;
  }

private:
  bool fail(std::int32_t code, std::initializer_list<keltk::TVarRec> args) {
    LogError(m_, FormatError(loadError(), result_, code, args));
    return false;
  }
  std::string fileNamePart() const { return keltk::ExtractFileName(fileName_); }

  // Steps 2 to 4: the name as given, completed by the extension and folder.
  bool resolveName() {
    site_.step = 2;
    if (keltk::Trim(fileName_).empty()) return fail(E015, {});
    site_.step = 3;
    if (fileName_.find('.') == std::string::npos)
      fileName_ = keltk::Trim(fileName_) + "." + m_.pluginExtension_;
    site_.step = 4;
    const std::string& folder = m_.pluginFolder_;
    if (keltk::ExtractFileName(fileName_) == fileName_ && !folder.empty() && FolderExists(folder))
      fileName_ = keltk::StringReplaceAll(folder + "/" + fileName_, "//", "/");
    return true;
  }

  // Step 5. A name with a NUL in it would be checked as one file and mapped as
  // another: it names no file.
  bool checkFile() {
    site_.step = 5;
    size_ = fileName_.find('\0') == std::string::npos ? FileSizeOf(fileName_, status_) : 0;
    handlersAtCheck_ = handlersStarted.load(std::memory_order_relaxed);
    if (size_ > 0) return true;
    const std::string shown = shownName(fileName_);
    return fail(E016, {keltk::VarStr(shown)});
  }

  // Step 6; a failure to log does not stop the load.
  bool announce() {
    site_.step = 6;
    LogAction(m_, ActionText::LoadingPlugin, {fileName_});
    return true;
  }

  // Steps 7 and 8: the host, then each loaded plug-in newest first, may refuse.
  // A manager that is closing takes no new plug-ins: they would outlive it.
  bool askVetoes() {
    site_.step = 7;
    if (!m_.closing_ && m_.loadAllowed(fileName_, site_)) return true;
    const std::string name = fileNamePart();
    return fail(E002, {keltk::VarStr(name)});
  }

  // Step 9. The loader's reason follows the catalogue's line.
  bool mapModule() {
    site_.step = 9;
    // The status read at step 5 still stands for the file unless a handler ran
    // since: one may have taken long (asked the user), and the file been rebuilt.
    const struct stat* seen =
        handlersStarted.load(std::memory_order_relaxed) == handlersAtCheck_ ? &status_ : nullptr;
    // Watched files are rebuilt in place: the module runs from a copy of its own.
    // So is a file whose earlier build is still mapped, waiting for its release:
    // the loader would hand that build out again by its name.
    module_ = (m_.reloader_ && m_.reloader_->watching()) || ModuleReleasePending(fileName_)
                  ? OpenModuleCopy(fileName_, m_.lastModuleError_, seen)
                  : OpenModule(fileName_, m_.lastModuleError_, seen);
    if (module_) {
      if (keltk::TGuiBackend* backend = keltk::GuiBackend()) backend->watchModule(module_.get());
      return true;
    }
    fail(E001, {keltk::VarStr(fileName_)});
    if (!m_.lastModuleError_.empty()) LogError(m_, m_.lastModuleError_);
    return false;
  }

  // Steps 10 to 13: the framework version the module reports.
  bool checkVersion() {
    site_.step = 10;
    const auto getPluginInfo = module_.Symbol<TGetPluginInfoFunc>(kGetPluginInfoExport);
    const std::string name = fileNamePart();
    if (getPluginInfo == nullptr)
      return fail(E004, {keltk::VarPChar(kGetPluginInfoExport), keltk::VarStr(name)});
    site_.step = 11;
    std::string version;
    if (!callEntryPoint(kGetPluginInfoExport,
                        [&] { version = askFrameworkVersion(getPluginInfo, SealOrigin(&m_)); }))
      return false;
    site_.step = 12;
    if (version.empty()) return fail(E010, {keltk::VarStr(name)});
    site_.step = 13;
    if (version != kFrameworkVersion)
      return fail(E027, {keltk::VarPChar(kFrameworkVersion), keltk::VarStr(version)});
    return true;
  }

  // An entry point that raises ends the load as an unexpected error. Its report
  // is followed by a line naming the plug-in, and the reason (a stored form that
  // does not read, say) is kept for the host.
  template <class Call> bool callEntryPoint(const char* entry, Call&& call) {
    std::string message;
    try {
      call();
      return true;
    } catch (const keltk::Exception& e) {
      ReportException(&m_, site_, e);
      message = e.Message();
    } catch (...) {
      const keltk::EForeignException e = keltk::ForeignException();
      ReportException(&m_, site_, e);
      message = e.Message();
    }
    m_.lastModuleError_ = message;
    LogError(m_, PluginMethodFailure(entry, fileNamePart(), message));
    return false;
  }

  // Steps 14 to 17: the module makes the plug-in; the manager hands it over.
  bool construct() {
    site_.step = 14;
    const auto registerKelvarin = module_.Symbol<TRegisterKelvarinFunc>(kRegisterKelvarinExport);
    const std::string name = fileNamePart();
    if (registerKelvarin == nullptr)
      return fail(E004, {keltk::VarPChar(kRegisterKelvarinExport), keltk::VarStr(name)});
    site_.step = 15;
    TulmKel* plugin = nullptr;
    if (!callEntryPoint(kRegisterKelvarinExport, [&] { plugin = registerKelvarin(); }))
      return false;
    watch_.watch(plugin);
    if (loadedPlugin_ != nullptr) *loadedPlugin_ = plugin;
    site_.step = 16;
    if (plugin == nullptr) return fail(E005, {keltk::VarStr(name)});

    site_.step = 17;
    // From here on the module goes with the plug-in, whichever way it goes.
    FrameworkAccess::handOver(*plugin, m_, module_.release(), fileName_, size_);
    shortName_ = plugin->ShortFileName();
    return true;
  }

  // Steps 18 to 20: MaxInstances against the loaded plug-ins of the same DeepName.
  bool countInstances() {
    TulmKel* plugin = watch_.plugin();
    const std::string deepName = plugin->DeepName();
    site_.step = 18;
    int count = 0;
    if (plugin->MaxInstances() > 0)
      ForEachPlugin(m_, site_, [&](TulmKel* other) {
        if (other->DeepName() == deepName) ++count;
      });
    site_.step = 19;
    if (plugin->MaxInstances() <= count)
      return fail(E007, {keltk::VarStr(shortName_), keltk::VarInt(plugin->MaxInstances())});
    site_.step = 20;
    ++count;
    FrameworkAccess::setInstanceCount(*plugin, static_cast<std::int16_t>(count));
    if (count > 1) m_.shareInstanceCount(deepName, count, site_);
    return true;
  }

  // Steps 21 and 22. A success stays provisional (the result keeps reading as a
  // failure) until the last step, so that a failure found after it cannot read
  // as success.
  bool initialize() {
    TulmKel* plugin = watch_.plugin();
    site_.step = 21;
    TKelMethodResult answer = smrUnexpectedError;
    if (auto error = CallPluginHandler(&m_, site_, plugin, [&] {
          HandlerFrame frame(m_, *plugin, "OnInitialize");
          answer = plugin->Initialize(params_);
        })) {
      LogError(m_, PluginMethodFailure("Initialize()", shortName_, *error));
      return fail(E006, {keltk::VarStr(shortName_)});
    }
    site_.step = 22;
    if (!answer.Success) {
      // Made by the plug-in's framework copy, which may go with the module.
      result_ = AdoptResult(answer);
      return false;
    }
    // Its own initialize handler may have asked for it to go.
    if (!stillLoaded()) return failUnloaded(plugin->Name() + ".OnInitialize");
    return true;
  }

  // Steps 23 to 26: listed, then told about. A handler that unloads the new
  // plug-in, or queues its unload, ends the load; the checks run after every
  // handler, also one that raised, so that no handler is handed a plug-in that
  // is gone.
  bool notify() {
    TulmKel* plugin = watch_.plugin();
    site_.step = 23;
    index_ = m_.AppendPlugin(plugin);
    assert(m_.GetPlugins(index_) == plugin);
    if (m_.reloader_) m_.reloader_->loaded(plugin, fileName_, params_);

    site_.step = 24;
    loadToolkitModule(plugin);

    site_.step = 25;
    // Host first, then plug-ins newest first; a handler that takes the new plug-in
    // away stops the walk. The failure lines name the new plug-in, not the handler's.
    std::optional<std::string> owner; // whose handler ran last; none: the host's
    const BroadcastEnd end = Broadcast(
        m_, site_, {"OnAfterLoad()", "OnAnyPluginAfterLoad()", FailureLines::AtOnce, 26},
        bool(m_.onAfterLoad_),
        [&] {
          HandlerFrame frame(m_, m_, "OnAfterLoad");
          m_.onAfterLoad_(plugin);
        },
        [](TulmKel* other) { return bool(other->OnAnyPluginAfterLoad()); },
        [&](TulmKel* other) {
          const TEventOnAnyPluginAfterLoad handler = other->OnAnyPluginAfterLoad();
          owner = other->Name();
          HandlerFrame frame(m_, *other, "OnAnyPluginAfterLoad");
          handler(plugin);
        },
        [&](TulmKel*) { return shortName_; }, [&] { return stillLoaded(); });
    if (end.completed) return true;
    return failUnloaded(owner ? *owner + ".OnAnyPluginAfterLoad" : m_.Name() + ".OnAfterLoad");
  }

  // Step 24: the toolkit runtime module stays loaded for good once a plug-in
  // brought it into a host that carries the toolkit inside.
  void loadToolkitModule(const TulmKel* plugin) {
    if (m_.usesToolkitModule_ || !plugin->UsesToolkitModule() || m_.toolkitModuleHandle_ != nullptr)
      return;
    GuardedSwallow(&m_, site_, [&] {
      const std::string toolkitFile = ModuleFileOf(toolkitAnchorOf(plugin));
      if (!toolkitFile.empty()) m_.toolkitModuleHandle_ = LoadModuleForGood(toolkitFile);
    });
  }

  // Whether no handler has destroyed the plug-in, queued its unload or (once it
  // is listed) taken it out of its place.
  bool stillLoaded() const {
    const TulmKel* plugin = watch_.plugin();
    if (plugin == nullptr || m_.UnloadPending(plugin)) return false;
    if (index_ < 0) return true;
    const TulmKel* entry = m_.GetPlugins(index_);
    return entry == plugin && entry->ModuleHandle() == plugin->ModuleHandle();
  }

  // E00E naming the handler that took the plug-in away, or `stepHandler`, the
  // handler of the step that found it gone.
  bool failUnloaded(const std::string& stepHandler) {
    const std::string& culprit = watch_.culprit();
    return fail(E00E, {keltk::VarStr(culprit.empty() ? stepHandler : culprit)});
  }

  // Steps 27 to 29. A handler of the loaded line may still take the plug-in
  // away: success always names a live plug-in.
  void finish() {
    TulmKel* plugin = watch_.plugin();
    site_.step = 27;
    m_.HookApplicationIdle();
    site_.step = 28;
    LogAction(m_, ActionText::PluginLoaded, {plugin->Name(), plugin->FileName()});
    if (!stillLoaded()) {
      failUnloaded(m_.Name() + ".OnLogChanged");
      return;
    }
    site_.step = 29;
    result_ = smrOk;
  }

  // The closing steps: a failed load shows its message when asked and is undone.
  void close(bool showErrorMessage) {
    site_.step = 30;
    if (result_.Success) return;
    if (showErrorMessage) keltk::ShowMessage(result_.ErrorMsg);
    // Callers never hold a plug-in whose load failed.
    if (loadedPlugin_ != nullptr) *loadedPlugin_ = nullptr;
    site_.step = 31;
    GuardedSwallow(&m_, site_, [&] {
      // A plug-in that the manager destroyed meanwhile took its module with it.
      if (watch_.destroyed())
        (void)m_.CancelPlugin(nullptr, fileName_, nullptr);
      else
        (void)m_.CancelPlugin(watch_.plugin(), fileName_, takeModule());
    });
  }

  // The mapped module, for the load to undo: its own until the plug-in holds it.
  void* takeModule() {
    if (module_) return module_.release();
    const TulmKel* plugin = watch_.plugin();
    return plugin != nullptr ? plugin->ModuleHandle() : nullptr;
  }

  TulmKelMan& m_;
  MethodFrame site_{"TulmKelMan.LoadPlugin"};
  TKelMethodResult result_ = smrUnexpectedError;
  std::string fileName_;
  keltk::TVarRecs params_;
  TulmKel** loadedPlugin_;
  PluginWatch watch_;
  ModuleHandle module_;
  std::int64_t size_ = 0;
  struct stat status_ {};
  std::uint64_t handlersAtCheck_ = 0;
  std::string shortName_;
  int index_ = -1;
};

int TulmKelMan::AppendPlugin(TulmKel* plugin) {
  plugins_.push_back(plugin);
  return static_cast<int>(plugins_.size()) - 1;
}

bool TulmKelMan::loadAllowed(const std::string& fileName, MethodFrame& site) {
  site.step = 7;
  bool allowLoad = true;
  // Host first, then plug-ins newest first; a refusal stops the walk.
  Broadcast(
      *this, site, {"OnBeforeLoad()", "OnAnyPluginBeforeLoad()", FailureLines::AtOnce, 8},
      bool(onBeforeLoad_), [&] { onBeforeLoad_(fileName, allowLoad); },
      [](TulmKel* other) { return bool(other->OnAnyPluginBeforeLoad()); },
      [&](TulmKel* other) {
        const TEventOnAnyPluginBeforeLoad handler = other->OnAnyPluginBeforeLoad();
        allowLoad = true;
        handler(fileName, allowLoad);
      },
      ShortNameOf, [&] { return allowLoad; });
  return allowLoad;
}

TKelMethodResult TulmKelMan::LoadPlugin(const std::string& FileName, TulmKel** LoadedPlugin) {
  return LoadPlugin(false, FileName, {}, LoadedPlugin);
}

TKelMethodResult TulmKelMan::LoadPlugin(bool ShowErrorMessage, const std::string& FileName,
                                        keltk::TVarRecs Params, TulmKel** LoadedPlugin) {
  if (TKelMethodResult refused; !OnManagerThread(*this, "TulmKelMan.LoadPlugin", &refused))
    return refused;
  const ManagerOperation operation;
  return PluginLoad(*this, FileName, Params, LoadedPlugin).run(ShowErrorMessage);
}

void TulmKelMan::shareInstanceCount(const std::string& deepName, int count, MethodFrame& site) {
  ForEachPlugin(*this, site, [&](TulmKel* other) {
    if (other->DeepName() == deepName)
      FrameworkAccess::setInstanceCount(*other, static_cast<std::int16_t>(count));
  });
}

TKelMethodResult TulmKelMan::CancelPlugin(TulmKel* Plugin, const std::string& FileName,
                                          void* Module) {
  MethodFrame site{"TulmKelMan.CancelPlugin"};
  TKelMethodResult result = smrUnexpectedError;
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    TKelMethodResult finalizeResult = smrOk;
    site.step = 2;
    LogAction(*this, ActionText::CancelingLoad, {FileName});

    site.step = 3;
    if (Plugin != nullptr && Plugin->Initialized())
      if (auto error =
              CallPluginHandler(this, site, Plugin, [&] { finalizeResult = Plugin->Finalize(); })) {
        LogError(*this, PluginMethodFailure("Finalize()", FileName, *error));
        finalizeResult = smrOk;
      }
    site.step = 4;
    if (!finalizeResult.Success)
      LogError(*this, PluginMethodError("Finalize()", FileName, finalizeResult.ErrorCode));

    site.step = 5;
    std::string deepName;
    if (Plugin != nullptr) {
      deepName = Plugin->DeepName();
      const auto entry = std::find(plugins_.rbegin(), plugins_.rend(), Plugin);
      if (entry != plugins_.rend()) plugins_.erase(std::next(entry).base());
    }

    // Every remaining instance carries the true count, also a single one.
    site.step = 6;
    if (Plugin != nullptr) {
      const auto count = std::count_if(plugins_.begin(), plugins_.end(), [&](const TulmKel* p) {
        return p != nullptr && p->DeepName() == deepName;
      });
      if (count > 0) shareInstanceCount(deepName, static_cast<int>(count), site);
    }

    // The object's code is about to be unmapped with its module: it goes first.
    site.step = 7;
    if (Plugin != nullptr) destroyPlugin(Plugin);
    site.step = 8;
    releaseModule(Module, FileName);
    site.step = 9;
    result = smrOk;
  });
  return result;
}

} // namespace kelvarin
