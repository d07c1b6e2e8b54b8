// The two functions through which a manager reaches a plug-in module.
//
//   GetPluginInfo     every module built on the framework (the host program too):
//                     the framework version the module was compiled against, told
//                     only to a genuine manager. The source that kelforms writes
//                     for each module (kelvarin_add_plugin() runs it) defines it.
//   RegisterKelvarin  each plug-in module: a new plug-in object, written by the
//                     plug-in's author. A module without it is no plug-in: its
//                     build fails, discovery says so, and a load answers E004.
//
// The manager owns the object RegisterKelvarin answers: it destroys it when the
// plug-in is unloaded or its load fails, before it releases the module. Plug-in
// code never deletes it; to go away, a plug-in asks its manager to unload it.
//
// A window the plug-in creates from a stored form of its own class (a TForm
// descendant made with keltk::CreateObject) is registered by one line in its
// source, so that forms can name it and `kelforms check` reads its form at build
// time (keltk::ClassRegistrar). A plug-in module's usual source, its stored form
// beside it (a .kfm that kelvarin_add_plugin's FORMS names):
//
// check: cpp
//   #include <keltk/Forms.h>
//
//   class TkelMine : public kelvarin::TulmKel {
//   public:
//     using TulmKel::TulmKel;
//     static const keltk::TClassInfo& StaticClass() {
//       static keltk::TClassInfo info("TkelMine", &TulmKel::StaticClass());
//       return info;
//     }
//     const keltk::TClassInfo& ClassType() const override { return StaticClass(); }
//   };
//
//   class TMineForm : public keltk::TForm {
//   public:
//     using TForm::TForm;
//     static const keltk::TClassInfo& StaticClass() {
//       static keltk::TClassInfo info("TMineForm", &TForm::StaticClass(), [](keltk::TClassInfo& i) {
//         keltk::ClassBuilder<TMineForm>(i).componentFactory();
//       });
//       return info;
//     }
//     const keltk::TClassInfo& ClassType() const override { return StaticClass(); }
//   };
//   const keltk::ClassRegistrar<TMineForm> registerMineForm;
//
//   extern "C" kelvarin::TulmKel* RegisterKelvarin() {
//     return kelvarin::RegisterPlugin<TkelMine>();
//   }
#pragma once

#include "kelvarin/Types.h"
#include "kelvarin/plugin.h"

#include <cstdint>
#include <exception>
#include <keltk/Exception.h>
#include <string>
#include <string_view>

extern "C" {
// Writes the version record for the manager behind `token` into `info` (at most
// `capacity` - 1 bytes and a terminating zero) and returns the record's full
// length; 0 (and an empty text) for a token that is not a live TulmKelMan.
[[gnu::visibility("default")]] int GetPluginInfo(char* info, int capacity, std::uint64_t token);
// A new plug-in object with no owner, or null. An exception of the toolkit's
// family raised by the plug-in's constructor reaches the manager.
[[gnu::visibility("default")]] kelvarin::TulmKel* RegisterKelvarin();
}

namespace kelvarin {

using TGetPluginInfoFunc = int (*)(char* info, int capacity, std::uint64_t token);
using TRegisterKelvarinFunc = TulmKel* (*)();

inline constexpr const char* kGetPluginInfoExport = "GetPluginInfo";
inline constexpr const char* kRegisterKelvarinExport = "RegisterKelvarin";

// "ProdVersion=1.0.01.428" and a line break (CR LF): `version`, or this copy's
// own version when empty.
std::string VersionRecord(std::string_view version = {});

// The version record of `version` when `token` seals a live manager of class
// TulmKelMan in any framework copy of the process, else empty. Never reads
// memory at an address that is not such a manager.
std::string PluginInfoFor(TOriginToken token, std::string_view version = {}) noexcept;
// GetPluginInfo's body. `builtWith` is the version of the headers the module
// was compiled against (kFrameworkVersion as that module saw it), so that a
// manager can refuse a module built for another framework even though the
// module shares this library's code.
int AnswerPluginInfo(char* info, int capacity, std::uint64_t token,
                     std::string_view builtWith) noexcept;

// True when `address` is a live TulmKelMan (not a descendant) of this or any
// other framework copy loaded in the process.
bool IsGenuineManager(const void* address) noexcept;

// RegisterKelvarin's usual body: creates T with no owner. The constructor's
// toolkit exceptions pass on to the manager; anything else ends as null, since
// no other exception may leave an exported function.
template <class T> TulmKel* RegisterPlugin() {
  try {
    return keltk::CreateObject<T>(nullptr);
  } catch (const keltk::Exception&) {
    throw;
  } catch (...) {
    return nullptr;
  }
}

} // namespace kelvarin
