// Loading real plug-in modules: name resolution, every refusal on the way, the
// hand-over, instance limits, initialization and the after-load notifications.
#include "LifecycleSupport.h"
#include "ModuleLoader.h"

#include <cstring>
#include <elf.h>
#include <filesystem>
#include <functional>
#include <keltk/Application.h>
#include <kelvarin/Discovery.h>
#include <map>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace kelvarin::test {
namespace {

// Host-side handlers.
struct Host : keltk::TObject {
  TulmKelMan* manager = nullptr;
  std::vector<std::string> calls;
  bool allow = true;
  bool raise = false;
  int unloadIndex = -1; // OnAfterLoad unloads this index (-1: the new plug-in)
  std::function<void()> whileAsked;

  void BeforeLoad(const std::string& fileName, bool& AllowLoad) {
    calls.push_back("before load " + fileName);
    AllowLoad = allow;
    if (whileAsked) whileAsked();
  }
  void AfterLoad(TulmKel* plugin) {
    calls.push_back("after load " + plugin->DeepName());
    (void)(unloadIndex < 0 ? manager->UnloadPlugin(plugin)
                           : manager->UnloadPlugin(false, unloadIndex));
    if (raise) throw keltk::Exception("host after load failed");
  }
};

using LoadTest = LifecycleTest;

TEST_F(LoadTest, LoadsAndReallyUnloadsAModule) {
  const std::string path = fixture("Minimal");
  EXPECT_FALSE(isMapped(path));
  TulmKel* plugin = load("Minimal");
  ASSERT_NE(plugin, nullptr);
  EXPECT_TRUE(isMapped(path));
  EXPECT_EQ(plugin->ClassName(), "TkelMinimal");
  EXPECT_EQ(plugin->Name(), "kelMinimal");
  EXPECT_EQ(plugin->Manager(), manager.get());
  EXPECT_EQ(plugin->FileName(), path);
  EXPECT_EQ(plugin->ShortFileName(), "Minimal.kel");
  EXPECT_EQ(plugin->FileSize(), static_cast<std::int64_t>(std::filesystem::file_size(path)));
  EXPECT_NE(plugin->ModuleHandle(), nullptr);
  EXPECT_EQ(plugin->HostApplication(), keltk::Application());
  EXPECT_EQ(plugin->HostScreen(), keltk::Screen());
  EXPECT_EQ(plugin->InstanceCount(), 1);
  EXPECT_TRUE(plugin->Initialized());
  EXPECT_TRUE(plugin->UsesToolkitModule()); // the module uses the shared toolkit
  EXPECT_NE(manager->ToolkitModuleHandle(), nullptr);
  EXPECT_EQ(manager->GetPlugins(0), plugin);
  EXPECT_EQ(keltk::Application()->OnIdle(), manager->OwnIdleHandler());
  EXPECT_TRUE(manager->LastModuleError().empty());

  EXPECT_EQ(manager->UnloadPlugin(plugin), smrOk);
  EXPECT_FALSE(isMapped(path));
  EXPECT_EQ(lines(),
            (std::vector<std::string>{
                action("Manager Ready."),
                action("Loading Plugin: \"" + path + "\"..."),
                line("Minimal", 'A', "Context assumed from host application (was distinct)."),
                action("Plugin Loaded: \"kelMinimal\" (\"" + path + "\")."),
                action("Unloading Plugin: \"Minimal\" (\"" + path + "\")..."),
                action("Original context restored (was changed)."),
                action("Plugin Unloaded: \"Minimal\" (\"" + path + "\")."),
            }));
}

TEST_F(LoadTest, NamesAreResolvedAgainstFolderAndExtension) {
  // A folder with a trailing separator: the doubled one of the join is collapsed.
  manager->SetPluginFolder(fixtureDir() + "/");
  TulmKel* plugin = load("  Minimal ");
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(plugin->FileName(), fixture("Minimal"));
  EXPECT_EQ(manager->UnloadPlugin(plugin), smrOk);

  // A dot anywhere (here in a folder) means no extension; a folder part means no join.
  TKelMethodResult r = manager->LoadPlugin("no.such/Minimal");
  EXPECT_EQ(r.ErrorMsg, "Error $E016:  Plugin not found: \"no.such/Minimal\"");
  EXPECT_STREQ(r.ErrorClass->name, "EulmKelLoadError");
  r = manager->LoadPlugin("nowhere/Minimal.kel");
  EXPECT_EQ(r.ErrorMsg, "Error $E016:  Plugin not found: \"nowhere/Minimal.kel\"");

  // Without a usable folder the name is taken from the current folder.
  const std::string previous = std::filesystem::current_path().string();
  std::filesystem::current_path(fixtureDir());
  manager->SetPluginFolder("");
  TulmKel* local = nullptr;
  r = manager->LoadPlugin("Minimal", &local);
  std::filesystem::current_path(previous);
  ASSERT_TRUE(r.Success) << r.ErrorMsg << " " << manager->LastModuleError();
  EXPECT_EQ(local->FileName(), "Minimal.kel");
  EXPECT_EQ(manager->UnloadPlugin(local), smrOk);

  manager->SetPluginExtension("so");
  manager->SetPluginFolder(fixtureDir());
  r = manager->LoadPlugin("Minimal");
  EXPECT_EQ(r.ErrorMsg, "Error $E016:  Plugin not found: \"" + fixtureDir() + "/Minimal.so\"");
}

TEST_F(LoadTest, ABlankNameIsRefused) {
  TulmKel* plugin = reinterpret_cast<TulmKel*>(this);
  const TKelMethodResult r = manager->LoadPlugin("   ", &plugin);
  EXPECT_EQ(r.ErrorMsg, "Error $E015:  Plugin FileName cannot be blank.");
  EXPECT_EQ(plugin, nullptr);
  EXPECT_EQ(linesFrom(1), (std::vector<std::string>{
                              error("Error $E015:  Plugin FileName cannot be blank."),
                              action("Canceling Loading Of Plugin: \"   \"."),
                          }));
}

TEST_F(LoadTest, FilesThatAreNoModules) {
  TempDir odd;
  writeFile(odd.file("zero.kel"), "");
  writeFile(odd.file("x.kel"), "This is no module.\n");
  std::filesystem::create_directory(odd.file("y.kel"));
  // A real module cut short after its headers: its segments claim more than the
  // file holds, and mapping them would fault.
  const std::string real = readFile(fixture("Minimal"));
  writeFile(odd.file("cut.kel"), real.substr(0, 3000));

  TKelMethodResult r = manager->LoadPlugin(odd.file("zero.kel"));
  EXPECT_EQ(r.ErrorMsg, "Error $E016:  Plugin not found: \"" + odd.file("zero.kel") + "\"");
  r = manager->LoadPlugin(odd.file("y.kel"));
  EXPECT_EQ(r.ErrorMsg, "Error $E016:  Plugin not found: \"" + odd.file("y.kel") + "\"");

  const std::size_t before = logged();
  r = manager->LoadPlugin(odd.file("x.kel"));
  EXPECT_EQ(r.ErrorMsg,
            "Error $E001:  Plugin \"" + odd.file("x.kel") + "\" could not be loaded by Windows.");
  EXPECT_NE(manager->LastModuleError().find("x.kel"), std::string::npos);
  EXPECT_FALSE(manager->LastModuleError().empty());
  EXPECT_EQ(linesFrom(before),
            (std::vector<std::string>{
                action("Loading Plugin: \"" + odd.file("x.kel") + "\"..."),
                error("Error $E001:  Plugin \"" + odd.file("x.kel") +
                      "\" could not be loaded by Windows."),
                error(manager->LastModuleError()), // the loader's own reason follows
                action("Canceling Loading Of Plugin: \"" + odd.file("x.kel") + "\"."),
            }));

  r = manager->LoadPlugin(odd.file("cut.kel"));
  EXPECT_EQ(r.ErrorCode, 0xE001);
  EXPECT_NE(manager->LastModuleError().find("file too short"), std::string::npos)
      << manager->LastModuleError();
  EXPECT_EQ(manager->GetPluginCount(), 0);

  // Damaged or foreign modules are refused before the loader maps them.
  std::string foreign = real;
  foreign[0x12] = static_cast<char>(183); // e_machine: aarch64
  writeFile(odd.file("arm.kel"), foreign);
  r = manager->LoadPlugin(odd.file("arm.kel"));
  EXPECT_EQ(r.ErrorCode, 0xE001);
  EXPECT_EQ(manager->LastModuleError(),
            odd.file("arm.kel") + ": a module for aarch64; this host is x86-64");

  load("Minimal");
  EXPECT_TRUE(manager->LastModuleError().empty());
}

// One-field mutants of a real module that the structural check passes but the
// system loader faults or aborts on. The first load of a file is tried in a
// process of its own: the load fails with the reason, the host lives on, and
// discovery tells the file is damaged.
TEST_F(LoadTest, AModuleTheLoaderCrashesOnIsRefusedAfterATrialLoad) {
  const std::string real = readFile(fixture("Minimal"));
  auto at = [&](std::size_t offset, auto value) {
    std::memcpy(value, real.data() + offset, sizeof *value);
  };
  Elf64_Ehdr header;
  at(0, &header);
  std::vector<Elf64_Phdr> segments(header.e_phnum);
  for (std::size_t i = 0; i < segments.size(); ++i)
    at(header.e_phoff + i * sizeof(Elf64_Phdr), &segments[i]);
  auto fileOffset = [&](Elf64_Addr address) -> std::size_t {
    for (const Elf64_Phdr& p : segments)
      if (p.p_type == PT_LOAD && address >= p.p_vaddr && address < p.p_vaddr + p.p_filesz)
        return p.p_offset + (address - p.p_vaddr);
    return 0;
  };
  std::map<Elf64_Sxword, std::size_t> dynamic; // tag -> file offset of the entry
  for (const Elf64_Phdr& p : segments)
    if (p.p_type == PT_DYNAMIC)
      for (std::size_t off = p.p_offset; off + sizeof(Elf64_Dyn) <= p.p_offset + p.p_filesz;
           off += sizeof(Elf64_Dyn)) {
        Elf64_Dyn entry;
        at(off, &entry);
        if (entry.d_tag == DT_NULL) break;
        dynamic.emplace(entry.d_tag, off);
      }
  ASSERT_TRUE(dynamic.count(DT_PLTREL) && dynamic.count(DT_GNU_HASH) && dynamic.count(DT_SYMTAB));
  auto valueOf = [&](Elf64_Sxword tag) {
    Elf64_Dyn entry;
    at(dynamic[tag], &entry);
    return entry.d_un.d_val;
  };
  auto mutant = [&](std::size_t offset, std::uint32_t value) {
    std::string bytes = real;
    std::memcpy(bytes.data() + offset, &value, sizeof value);
    return bytes;
  };
  const std::pair<std::string, std::string> mutants[] = {
      {"pltrel", mutant(dynamic[DT_PLTREL] + offsetof(Elf64_Dyn, d_un), 99)},
      {"bloom", mutant(fileOffset(valueOf(DT_GNU_HASH)) + 8, 3)},
      {"symname", mutant(fileOffset(valueOf(DT_SYMTAB)) + sizeof(Elf64_Sym), 0x7ffffff0)},
  };
  TempDir odd;
  for (const auto& [name, bytes] : mutants) {
    const std::string file = odd.file(name + ".kel");
    writeFile(file, bytes);
    const TKelMethodResult r = manager->LoadPlugin(file);
    EXPECT_EQ(r.ErrorCode, 0xE001) << name << ": " << r.ErrorMsg;
    const std::string reason = manager->LastModuleError();
    EXPECT_EQ(reason.rfind(file + ": the system loader ", 0), 0u) << reason;
    EXPECT_NE(reason.find("in a trial load"), std::string::npos) << reason;
    EXPECT_EQ(DescribePluginFile(file).State, TPluginFileState::Damaged) << name;
  }
  // The same verdicts when the files are found by listing their folder.
  const std::vector<TPluginFileInfo> listed = DescribePluginFolder(odd.path(), "kel");
  EXPECT_EQ(listed.size(), std::size(mutants));
  for (const TPluginFileInfo& info : listed)
    EXPECT_EQ(info.State, TPluginFileState::Damaged) << info.FileName;
  EXPECT_EQ(manager->GetPluginCount(), 0);
  load("Minimal"); // a sound file still loads, and needs no trial the second time
}

// A file loaded again unchanged is not read again before the system loader maps
// it, whether a trial program could be run for its first load or none is there;
// one replaced while the host was asked is checked as it is now.
TEST_F(LoadTest, AFileLoadedAgainIsReadAgainOnlyWhenItMayHaveChanged) {
  for (const char* trialProgram : {"", "/nonexistent/kelvarin-trial-load"}) {
    TempDir dir; // a new file: no earlier load vouches for it
    const std::string file = dir.file("Copy.kel");
    writeFile(file, readFile(fixture("Minimal")));
    if (*trialProgram != 0) ::setenv("KELVARIN_TRIAL_LOADER", trialProgram, 1);
    TulmKel* first = nullptr;
    EXPECT_TRUE(manager->LoadPlugin(file, &first).Success) << trialProgram;
    EXPECT_TRUE(manager->UnloadPlugin(first).Success);

    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // Closes between the opens keep inotify from folding them into one event.
    ASSERT_GE(::inotify_add_watch(watch, file.c_str(), IN_OPEN | IN_CLOSE), 0);
    TulmKel* again = nullptr;
    EXPECT_TRUE(manager->LoadPlugin(file, &again).Success) << trialProgram;
    ::unsetenv("KELVARIN_TRIAL_LOADER");
    int opens = 0;
    alignas(inotify_event) char events[16 * sizeof(inotify_event)];
    for (ssize_t got; (got = ::read(watch, events, sizeof events)) > 0;)
      for (ssize_t at = 0; at < got; at += sizeof(inotify_event))
        opens += (reinterpret_cast<const inotify_event*>(events + at)->mask & IN_OPEN) != 0;
    ::close(watch);
    EXPECT_EQ(opens, 1) << trialProgram;
    EXPECT_TRUE(manager->UnloadPlugin(again).Success);

    std::string foreign = readFile(file);
    foreign[0x12] = static_cast<char>(183); // e_machine: aarch64
    Host host;
    host.whileAsked = [&] {
      writeFile(file + ".new", foreign);
      std::filesystem::rename(file + ".new", file);
    };
    manager->SetOnBeforeLoad(TEventOnBeforeLoad::bind<&Host::BeforeLoad>(&host));
    EXPECT_EQ(manager->LoadPlugin(file).ErrorCode, 0xE001) << trialProgram;
    EXPECT_EQ(manager->LastModuleError(), file + ": a module for aarch64; this host is x86-64");
    manager->SetOnBeforeLoad({});
  }
}

TEST_F(LoadTest, ModulesWithoutTheEntryPointsOrTheVersion) {
  const std::size_t before = logged();
  TKelMethodResult r = manager->LoadPlugin("NoInfo");
  EXPECT_EQ(
      r.ErrorMsg,
      "Error $E004:  Exported function \"GetPluginInfo\" not found in plugin \"NoInfo.kel\".");
  EXPECT_EQ(linesFrom(before),
            (std::vector<std::string>{
                action("Loading Plugin: \"" + fixture("NoInfo") + "\"..."),
                error("Error $E004:  Exported function \"GetPluginInfo\" not found in plugin "
                      "\"NoInfo.kel\"."),
                action("Canceling Loading Of Plugin: \"" + fixture("NoInfo") + "\"."),
            }));
  EXPECT_FALSE(isMapped(fixture("NoInfo")));

  r = manager->LoadPlugin("NoRegister");
  EXPECT_EQ(r.ErrorMsg, "Error $E004:  Exported function \"RegisterKelvarin\" not found in "
                        "plugin \"NoRegister.kel\".");
  EXPECT_FALSE(isMapped(fixture("NoRegister")));

  r = manager->LoadPlugin("OldVersion");
  EXPECT_EQ(r.ErrorMsg, "Error $E027:  Plugin KEL Version mismatch (manager: \"1.0.01.428\" <> "
                        "plugin: \"1.0.1.428\").");
  EXPECT_FALSE(isMapped(fixture("OldVersion")));

  r = manager->LoadPlugin("NullRegister");
  EXPECT_EQ(r.ErrorMsg, "Error $E005:  Plugin \"NullRegister.kel\" could not be registered.");
  EXPECT_FALSE(isMapped(fixture("NullRegister")));
  EXPECT_EQ(manager->GetPluginCount(), 0);
}

// A failed load closes the one reference to the module it took, whoever holds it
// by then (the load, the plug-in, or the unload a handler ran): a reference held
// elsewhere keeps the module mapped.
TEST_F(LoadTest, AFailedLoadClosesItsModuleOnce) {
  Host host;
  host.manager = manager.get();
  const struct {
    const char* name;
    bool unloadAfterLoad;
  } cases[] = {
      {"NoInfo", false}, {"NullRegister", false}, {"InitRaiser", false}, {"Minimal", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    manager->SetOnAfterLoad(c.unloadAfterLoad ? TEventOnAfterLoad::bind<&Host::AfterLoad>(&host)
                                              : TEventOnAfterLoad());
    const std::string path = fixture(c.name);
    std::string error;
    ModuleHandle held = OpenModule(path, error);
    ASSERT_TRUE(held) << error;
    EXPECT_FALSE(manager->LoadPlugin(c.name).Success);
    EXPECT_TRUE(isMapped(path));
    held.reset();
    EXPECT_FALSE(isMapped(path));
  }
}

// The exception with which RegisterKelvarin ends is reported, and its message is
// the reason the host gets.
TEST_F(LoadTest, AConstructorThatRaisesIsReported) {
  const struct {
    std::string name, exceptionClass, message;
  } cases[] = {
      {"CtorRaiser", "EulmKelCreationError", "Error $E019:  Plugin class TkelFormless not found."},
      {"Unreadable", "EReadError",
       "form of TkelMinimal: line 4, column 3: unknown property \"Colour\" of TkelMinimal"},
  };
  for (const auto& c : cases) {
    TulmKel* plugin = reinterpret_cast<TulmKel*>(this);
    const std::size_t before = logged();
    const TKelMethodResult r = manager->LoadPlugin(c.name, &plugin);
    EXPECT_EQ(r, smrUnexpectedError);
    EXPECT_EQ(plugin, nullptr);
    EXPECT_EQ(linesFrom(before),
              (std::vector<std::string>{
                  action("Loading Plugin: \"" + fixture(c.name) + "\"..."),
                  error("EXCEPTION [ulmKELrp.bpl] ulmKELru.TulmKelMan.LoadPlugin.15: [" +
                        c.exceptionClass + "] " + c.message),
                  error("Method RegisterKelvarin on plugin \"" + c.name +
                        ".kel\" raised an exception:  " + c.message),
                  action("Canceling Loading Of Plugin: \"" + fixture(c.name) + "\"."),
              }));
    EXPECT_EQ(manager->LastModuleError(), c.message);
    EXPECT_FALSE(isMapped(fixture(c.name)));
  }
}

TEST_F(LoadTest, InstanceLimits) {
  TulmKel* plugin = reinterpret_cast<TulmKel*>(this);
  TKelMethodResult r = manager->LoadPlugin("Never", &plugin);
  EXPECT_EQ(r.ErrorMsg,
            "Error $E007:  Plugin \"Never.kel\" instances exceed limit (maximum is 0).");
  EXPECT_EQ(plugin, nullptr); // the object was made, then destroyed with the load
  EXPECT_FALSE(isMapped(fixture("Never")));

  load("Minimal");
  r = manager->LoadPlugin("Minimal");
  EXPECT_EQ(r.ErrorMsg,
            "Error $E007:  Plugin \"Minimal.kel\" instances exceed limit (maximum is 1).");
  EXPECT_TRUE(isMapped(fixture("Minimal"))); // the first instance keeps its module

  TulmKel* first = load("Twice");
  TulmKel* second = load("Twice");
  ASSERT_NE(first, second);
  EXPECT_EQ(first->InstanceCount(), 2);
  EXPECT_EQ(second->InstanceCount(), 2);
  r = manager->LoadPlugin("Twice");
  EXPECT_EQ(r.ErrorMsg,
            "Error $E007:  Plugin \"Twice.kel\" instances exceed limit (maximum is 2).");
  EXPECT_EQ(manager->GetPluginCount(), 3);
  EXPECT_EQ(manager->UnloadPlugin(second), smrOk);
  EXPECT_EQ(first->InstanceCount(), 1);
  EXPECT_TRUE(isMapped(fixture("Twice")));
  EXPECT_EQ(manager->UnloadPlugin(first), smrOk);
  EXPECT_FALSE(isMapped(fixture("Twice")));
}

TEST_F(LoadTest, ACancelledInstanceLeavesTheTrueCountOnTheOneLeft) {
  Host host;
  host.manager = manager.get();
  load("Minimal");
  TulmKel* twice = load("Twice");
  host.unloadIndex = 0; // the new instance moves down: the load fails after counting
  manager->SetOnAfterLoad(TEventOnAfterLoad::bind<&Host::AfterLoad>(&host));
  const TKelMethodResult r = manager->LoadPlugin("Twice");
  EXPECT_EQ(r.ErrorMsg,
            "Error $E00E:  Plugin has been unloaded by \"ulmKelMan1.OnAfterLoad\" event handler.");
  ASSERT_EQ(manager->GetPluginCount(), 1);
  EXPECT_EQ(manager->GetPlugins(0), twice);
  EXPECT_EQ(twice->InstanceCount(), 1);
}

TEST_F(LoadTest, RefusalInTheInitializeHandler) {
  const std::string seven = "seven";
  const std::array<keltk::TVarRec, 2> params{keltk::VarInt(7), keltk::VarStr(seven)};
  TulmKel* plugin = reinterpret_cast<TulmKel*>(this);
  const std::size_t before = logged();
  const TKelMethodResult r = manager->LoadPlugin(false, "Refuser", params, &plugin);
  // The handler answered smrOk; its refusal counts all the same.
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(r.ErrorMsg, "Error $E003:  Plugin \"Refuser.kel\" refused to be loaded.");
  EXPECT_STREQ(r.ErrorClass->name, "EulmKelInitializationError");
  EXPECT_EQ(plugin, nullptr);
  const std::string path = fixture("Refuser");
  EXPECT_EQ(linesFrom(before),
            (std::vector<std::string>{
                action("Loading Plugin: \"" + path + "\"..."),
                line("Refuser", 'A', "Context assumed from host application (was distinct)."),
                line("Refuser", 'U', "initialize with 2 parameters"),
                line("Refuser", 'E', "Error $E003:  Plugin \"Refuser.kel\" refused to be loaded."),
                action("Canceling Loading Of Plugin: \"" + path + "\"."),
                line("Refuser", 'U', "finalize"),
                action("Original context restored (was changed)."),
            }));
  EXPECT_FALSE(isMapped(path));
  EXPECT_EQ(manager->GetPluginCount(), 0);
}

TEST_F(LoadTest, AnInitializeHandlerThatRaises) {
  const std::size_t before = logged();
  const TKelMethodResult r = manager->LoadPlugin("InitRaiser");
  EXPECT_EQ(r.ErrorMsg, "Error $E006:  Plugin \"InitRaiser.kel\" could not be initialized.");
  const std::vector<std::string> log = linesFrom(before);
  ASSERT_EQ(log.size(), 7u);
  EXPECT_EQ(log[6], action("Original context restored (was changed)."));
  EXPECT_EQ(log[2], line("InitRaiser", 'E',
                         "Event OnInitialize() on plugin \"InitRaiser.kel\" raised an exception:  "
                         "cannot start"));
  EXPECT_EQ(log[3], line("InitRaiser", 'E',
                         "Error $E006:  Plugin \"InitRaiser.kel\" could not be initialized."));
  EXPECT_EQ(log[5], line("InitRaiser", 'U', "finalize"));
}

TEST_F(LoadTest, RaisingHandlersNeverStopALoadOrUnload) {
  TulmKel* raiser = load("Raiser");
  ASSERT_NE(raiser, nullptr);
  EXPECT_EQ(lines().back(),
            action("Plugin Loaded: \"kelRaiser\" (\"" + fixture("Raiser") + "\")."));
  EXPECT_EQ(lines()[lines().size() - 2],
            error("Event OnAnyPluginAfterLoad() on plugin \"Raiser.kel\" raised an exception:  "
                  "after load failed"));

  // Raiser made the host's context current in the shared toolkit already: Minimal
  // finds it so, and has nothing to take over or give back.
  std::size_t before = logged();
  TulmKel* minimal = load("Minimal");
  std::vector<std::string> log = linesFrom(before);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[1], error("Event OnAnyPluginBeforeLoad() on plugin \"Raiser.kel\" raised an "
                          "exception:  before load failed"));
  // The after-load line names the plug-in that was loaded.
  EXPECT_EQ(log[2], error("Event OnAnyPluginAfterLoad() on plugin \"Minimal.kel\" raised an "
                          "exception:  after load failed"));

  before = logged();
  EXPECT_EQ(manager->UnloadPlugin(minimal), smrOk);
  log = linesFrom(before);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[1], error("Event OnAnyPluginBeforeUnload() on plugin \"Raiser.kel\" raised an "
                          "exception:  before unload failed"));
  EXPECT_EQ(log[2], error("Event OnAnyPluginAfterUnload() on plugin \"Raiser.kel\" raised an "
                          "exception:  after unload failed"));

  before = logged();
  EXPECT_EQ(manager->UnloadPlugin(raiser), smrOk);
  log = linesFrom(before);
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[1], error("Event OnAnyPluginBeforeUnload() on plugin \"Raiser.kel\" raised an "
                          "exception:  before unload failed"));
  EXPECT_EQ(log[2], line("Raiser", 'E',
                         "Event OnFinalize() on plugin \"Raiser.kel\" raised an exception:  "
                         "finalize failed"));
  EXPECT_FALSE(isMapped(fixture("Raiser")));
}

TEST_F(LoadTest, TheHostRefuses) {
  Host host;
  load("Raiser");
  manager->SetOnBeforeLoad(TEventOnBeforeLoad::bind<&Host::BeforeLoad>(&host));
  host.allow = false;
  const std::size_t before = logged();
  const TKelMethodResult r = manager->LoadPlugin("Minimal");
  EXPECT_EQ(r.ErrorMsg, "Error $E002:  Plugin \"Minimal.kel\" not allowed to be loaded.");
  EXPECT_EQ(host.calls, std::vector<std::string>{"before load " + fixture("Minimal")});
  // No plug-in was asked: Raiser's refusing handler would have left a line.
  EXPECT_EQ(linesFrom(before),
            (std::vector<std::string>{
                action("Loading Plugin: \"" + fixture("Minimal") + "\"..."),
                error("Error $E002:  Plugin \"Minimal.kel\" not allowed to be loaded."),
                action("Canceling Loading Of Plugin: \"" + fixture("Minimal") + "\"."),
            }));
}

TEST_F(LoadTest, AHostAfterLoadHandlerUnloadsTheNewPlugin) {
  Host host;
  host.manager = manager.get();
  manager->SetOnAfterLoad(TEventOnAfterLoad::bind<&Host::AfterLoad>(&host));
  TulmKel* plugin = reinterpret_cast<TulmKel*>(this);
  const std::size_t before = logged();
  const TKelMethodResult r = manager->LoadPlugin("Minimal", &plugin);
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(r.ErrorMsg,
            "Error $E00E:  Plugin has been unloaded by \"ulmKelMan1.OnAfterLoad\" event handler.");
  EXPECT_EQ(plugin, nullptr);
  const std::string path = fixture("Minimal");
  EXPECT_EQ(linesFrom(before),
            (std::vector<std::string>{
                action("Loading Plugin: \"" + path + "\"..."),
                line("Minimal", 'A', "Context assumed from host application (was distinct)."),
                action("Unloading Plugin: \"Minimal\" (\"" + path + "\")..."),
                action("Original context restored (was changed)."),
                action("Plugin Unloaded: \"Minimal\" (\"" + path + "\")."),
                error("Error $E00E:  Plugin has been unloaded by \"ulmKelMan1.OnAfterLoad\" event "
                      "handler."),
                action("Canceling Loading Of Plugin: \"" + path + "\"."),
            }));
  EXPECT_FALSE(isMapped(path));
  EXPECT_EQ(manager->GetPluginCount(), 0);
}

TEST_F(LoadTest, NoHandlerIsHandedAPluginThatAHandlerUnloadedAndThenRaised) {
  TulmKel* raiser = load("Raiser"); // its after-load handler would leave a line
  Host host;
  host.manager = manager.get();
  host.raise = true;
  manager->SetOnAfterLoad(TEventOnAfterLoad::bind<&Host::AfterLoad>(&host));
  const std::size_t before = logged();
  const TKelMethodResult r = manager->LoadPlugin("Minimal");
  EXPECT_EQ(r.ErrorCode, 0xE00E);
  const std::vector<std::string> log = linesFrom(before);
  ASSERT_EQ(log.size(), 9u) << ::testing::PrintToString(log);
  EXPECT_EQ(log[6], error("Event OnAfterLoad() on host raised an exception:  host after load "
                          "failed"));
  EXPECT_EQ(log[7], error("Error $E00E:  Plugin has been unloaded by \"ulmKelMan1.OnAfterLoad\" "
                          "event handler."));
  for (const std::string& text : log)
    EXPECT_EQ(text.find("OnAnyPluginAfterLoad"), std::string::npos) << text;
  EXPECT_EQ(manager->GetPlugins(0), raiser);
}

// Its unload waits while its handler runs, but a load whose plug-in is already
// on its way out has failed: it is undone at once.
TEST_F(LoadTest, APluginThatUnloadsItselfAfterLoadingFailsToLoad) {
  TulmKel* plugin = reinterpret_cast<TulmKel*>(this);
  const TKelMethodResult r = manager->LoadPlugin("SelfUnloader", &plugin);
  EXPECT_EQ(r.ErrorMsg, "Error $E00E:  Plugin has been unloaded by "
                        "\"kelSelfUnloader.OnAnyPluginAfterLoad\" event handler.");
  EXPECT_EQ(plugin, nullptr);
  const std::string path = fixture("SelfUnloader");
  EXPECT_EQ(lines(),
            (std::vector<std::string>{
                action("Manager Ready."),
                action("Loading Plugin: \"" + path + "\"..."),
                line("SelfUnloader", 'A', "Context assumed from host application (was distinct)."),
                action("Plugin Unload Queued: \"SelfUnloader\" (\"" + path + "\")."),
                line("SelfUnloader", 'U', "unload myself: ok, queued: yes"),
                error("Error $E00E:  Plugin has been unloaded by "
                      "\"kelSelfUnloader.OnAnyPluginAfterLoad\" event handler."),
                action("Canceling Loading Of Plugin: \"" + path + "\"."),
                action("Original context restored (was changed)."),
            }));
  EXPECT_EQ(manager->GetPluginCount(), 0);
  EXPECT_EQ(manager->PendingUnloadCount(), 0);
  EXPECT_FALSE(isMapped(path));
  keltk::Application()->Idle();
  EXPECT_EQ(lines().size(), 8u);
}

TEST_F(LoadTest, AnAfterLoadHandlerThatUnloadsAnOlderPlugin) {
  load("Minimal");
  TulmKel* plugin = reinterpret_cast<TulmKel*>(this);
  const std::size_t before = logged();
  const TKelMethodResult r = manager->LoadPlugin("ElderUnloader", &plugin);
  EXPECT_EQ(r.ErrorMsg, "Error $E00E:  Plugin has been unloaded by "
                        "\"kelElderUnloader.OnAnyPluginAfterLoad\" event handler.");
  EXPECT_EQ(plugin, nullptr);
  const std::string path = fixture("ElderUnloader");
  const std::string minimal = fixture("Minimal");
  EXPECT_EQ(linesFrom(before),
            (std::vector<std::string>{
                action("Loading Plugin: \"" + path + "\"..."),
                action("Unloading Plugin: \"Minimal\" (\"" + minimal + "\")..."),
                // ElderUnloader still runs in the host's context: nothing restored yet.
                action("Plugin Unloaded: \"Minimal\" (\"" + minimal + "\")."),
                line("ElderUnloader", 'U', "unload the oldest: ok"),
                error("Error $E00E:  Plugin has been unloaded by "
                      "\"kelElderUnloader.OnAnyPluginAfterLoad\" event handler."),
                action("Canceling Loading Of Plugin: \"" + path + "\"."),
                line("ElderUnloader", 'U', "finalize"),
                action("Original context restored (was changed)."),
            }));
  EXPECT_EQ(manager->GetPluginCount(), 0);
  EXPECT_FALSE(isMapped(path));
  EXPECT_FALSE(isMapped(minimal));
}

TEST_F(LoadTest, ABeforeUnloadHandlerThatLoadsAnotherPlugin) {
  TulmKel* loader = load("LoaderOnUnload");
  EXPECT_EQ(manager->UnloadPlugin(loader), smrOk);
  ASSERT_EQ(manager->GetPluginCount(), 1);
  EXPECT_EQ(manager->GetPlugins(0)->DeepName(), "Minimal");
  const std::vector<std::string> log = lines();
  EXPECT_NE(
      std::find(log.begin(), log.end(), line("LoaderOnUnload", 'U', "load Minimal: ok (Minimal)")),
      log.end());
  EXPECT_EQ(log.back(),
            action("Plugin Unloaded: \"LoaderOnUnload\" (\"" + fixture("LoaderOnUnload") + "\")."));
  EXPECT_FALSE(isMapped(fixture("LoaderOnUnload")));
  EXPECT_TRUE(isMapped(fixture("Minimal")));
}

TEST_F(LoadTest, FailuresAreShownOnlyWhenAsked) {
  EXPECT_FALSE(manager->LoadPlugin("NoSuchPlugin").Success);
  EXPECT_TRUE(boxes.shown.empty());
  const TKelMethodResult r = manager->LoadPlugin(true, "NoSuchPlugin", {});
  EXPECT_EQ(boxes.shown, std::vector<std::string>{r.ErrorMsg});
  load("Minimal");
  EXPECT_EQ(boxes.shown.size(), 1u);
}

TEST_F(LoadTest, APluginWithItsOwnToolkitCopyTakesOverTheHostContext) {
  TulmKel* plugin = load("OwnCopy");
  ASSERT_NE(plugin, nullptr);
  EXPECT_FALSE(plugin->UsesToolkitModule());
  EXPECT_EQ(manager->ToolkitModuleHandle(), nullptr); // nothing to keep loaded
  EXPECT_EQ(plugin->HostApplication(), keltk::Application());
  EXPECT_NE(plugin->OwnApplication(), keltk::Application());
  const std::vector<std::string> log = lines();
  EXPECT_EQ(log[2], line("OwnCopy", 'A', "Context assumed from host application (was distinct)."));
  EXPECT_EQ(log[3], line("OwnCopy", 'U', "host application current: yes, own objects kept: yes"));
  EXPECT_EQ(manager->UnloadPlugin(plugin), smrOk);
  EXPECT_EQ(lines()[lines().size() - 2], action("Original context restored (was changed)."));
  EXPECT_FALSE(isMapped(fixture("OwnCopy")));
}

TEST_F(LoadTest, PluginsSharingAToolkitKeepTheHostContextUntilTheLastGoes) {
  TulmKel* minimal = load("Minimal");
  load("ContextProbe");
  EXPECT_EQ(manager->UnloadPlugin(minimal), smrOk);
  EXPECT_EQ(lines()[lines().size() - 2],
            line("ContextProbe", 'U', "host application current: yes"));
}

// A manager answers only its own thread: a call from another is refused at once,
// touching nothing, and the log hears of it on the manager's thread. A worker
// hands its work over instead.
TEST_F(LoadTest, CallsFromAnotherThreadAreRefused) {
  TulmKel* plugin = load("Minimal");
  const std::size_t before = logged();
  std::vector<TKelMethodResult> answers;
  std::thread([&] {
    answers.push_back(manager->LoadPlugin("Minimal"));
    answers.push_back(manager->UnloadPlugin(plugin));
    answers.push_back(manager->UnloadAllPlugins(false));
    answers.push_back(manager->ExecuteCommand(plugin, "Any"));
    answers.push_back(manager->LogIt("from a worker", lkUser));
    manager->SetPluginFolder("/");
  }).join();
  EXPECT_EQ(logged(), before);
  EXPECT_EQ(manager->GetPlugins(0), plugin);
  EXPECT_EQ(manager->PluginFolder(), fixtureDir());
  const std::vector<std::string> refused = {
      "TulmKelMan.LoadPlugin",     "TulmKelMan.UnloadPlugin", "TulmKelMan.UnloadAllPlugins",
      "TulmKelMan.ExecuteCommand", "TulmKelMan.LogIt",        "TulmKelMan.SetPluginFolder"};
  auto text = [](const std::string& operation) {
    return operation + " was called from another thread; a manager answers only the thread "
                       "that created it.";
  };
  ASSERT_EQ(answers.size(), 5u);
  for (std::size_t i = 0; i < answers.size(); ++i)
    EXPECT_EQ(answers[i].ErrorMsg, "Error $E018:  " + text(refused[i]));

  keltk::Application()->ProcessMessages();
  std::vector<std::string> expected;
  for (const std::string& operation : refused)
    expected.push_back(error(text(operation)));
  EXPECT_EQ(linesFrom(before), expected);

  std::thread([&] {
    keltk::RunOnMainThread([&] { EXPECT_EQ(manager->UnloadPlugin(plugin), smrOk); });
  }).join();
  keltk::Application()->ProcessMessages();
  EXPECT_EQ(manager->GetPluginCount(), 0);
}

} // namespace
} // namespace kelvarin::test
