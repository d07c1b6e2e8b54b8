// The host driving loaded plug-ins: commands by name and by position with their
// argument checks, messages to a plug-in or to the host, setup requests, and a
// command that unloads its own plug-in.
#include "LifecycleSupport.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <keltk/StrUtils.h>

namespace kelvarin::test {
namespace {

// An argument record points at its value, so a value that dies with the statement
// that makes the record must not bind: an array of such records would hand the
// command a destroyed value.
template <class T>
concept BindsStr = requires(T&& v) {
  keltk::VarStr(std::forward<T>(v));
};
template <class T>
concept BindsWide = requires(T&& v) {
  keltk::VarWideString(std::forward<T>(v));
};
template <class T>
concept BindsInt64 = requires(T&& v) {
  keltk::VarInt64(std::forward<T>(v));
};
template <class T>
concept BindsExtended = requires(T&& v) {
  keltk::VarExtended(std::forward<T>(v));
};
static_assert(BindsStr<const std::string&> && !BindsStr<std::string> &&
              !BindsStr<const char (&)[8]>);
static_assert(BindsWide<std::u16string&> && !BindsWide<std::u16string>);
static_assert(BindsInt64<std::int64_t&> && !BindsInt64<std::int64_t>);
static_assert(BindsExtended<long double&> && !BindsExtended<long double>);

std::string entry(std::string_view origin, char kind, std::string_view msg) {
  return fmt::format("  {:<20} {}  {}", origin, kind, msg);
}

class CommandPlugin : public TulmKel {
public:
  using TulmKel::TulmKel;

  TKelMethodResult Record(keltk::TVarRecs params) {
    calls.emplace_back();
    for (const keltk::TVarRec& p : params)
      calls.back().push_back(p.IsNull() ? "<null>" : Var2Str(p));
    depths.push_back(CodeDepth());
    return answer;
  }
  TKelMethodResult Raise(keltk::TVarRecs) { throw keltk::Exception("boom"); }
  TKelMethodResult UnloadMyself(keltk::TVarRecs) {
    const TKelMethodResult r = Manager()->UnloadPlugin(this);
    // Still here: the unload waits until this handler has returned.
    aliveAfterUnload = DeepName() == "Cmd Plugin";
    unloadAnswer = r;
    return smrOk;
  }
  TKelMethodResult Message(std::int32_t id, keltk::TVarRecs params) {
    messages.push_back(fmt::format("{}:{}", id, params.empty() ? "" : Var2Str(params[0])));
    depths.push_back(CodeDepth());
    return smrOk;
  }
  TKelMethodResult Setup() {
    ++setups;
    return smrOk;
  }

  TKelMethodResult answer = smrOk;
  std::vector<std::vector<std::string>> calls;
  std::vector<int> depths;
  std::vector<std::string> messages;
  int setups = 0;
  bool aliveAfterUnload = false;
  TKelMethodResult unloadAnswer;
};

class HostSide : public keltk::TObject {
public:
  TKelMethodResult Message(std::int32_t id, keltk::TVarRecs params) {
    received.push_back(fmt::format("{}/{}", id, params.size()));
    TKelMethodResult r = smrUnexpectedError;
    r.ErrorCode = id;
    return r;
  }
  std::vector<std::string> received;
};

class DispatchTest : public ::testing::Test {
protected:
  DispatchTest() : manager(makeManager(dir)) {
    manager->Log()->SetDumpOn(doNever);
    plugin = keltk::CreateObject<CommandPlugin>(nullptr);
    plugin->SetDeepName("Cmd Plugin");
    takeIn(*manager, *plugin, "/plugins/cmd.kel");
  }
  ~DispatchTest() override {
    if (!loaded) keltk::FreeObject(plugin);
  }
  void load() {
    FrameworkAccess::appendPlugin(*manager, plugin);
    loaded = true;
  }

  // A command "Run" with an Integer and a text parameter, handled by Record.
  TCommand* addRun() {
    TCommand* run = plugin->Commands()->Add();
    run->SetName("Run");
    run->Params()->Add()->SetParamName("Count");
    TCommandParam* text = run->Params()->Add();
    text->SetParamName("Text");
    text->SetParamType(ptAnsiString);
    run->SetOnCommand(TEventOnCommand::bind<&CommandPlugin::Record>(plugin));
    return run;
  }
  std::vector<std::string> log() const { return linesAfterStamp(*manager->Log()); }
  void expectFailure(const TKelMethodResult& r, const std::string& message) {
    EXPECT_FALSE(r.Success);
    EXPECT_EQ(r.ErrorMsg, message);
    ASSERT_NE(r.ErrorClass, nullptr);
    EXPECT_STREQ(r.ErrorClass->name, "EulmKelError");
    EXPECT_EQ(log().back(), entry("MANAGER", 'E', message));
  }

  TempDir dir;
  keltk::ObjectPtr<TulmKelMan> manager;
  CommandPlugin* plugin = nullptr;
  bool loaded = false;
};

TEST_F(DispatchTest, OnlyPluginsOfThisManagerAreDriven) {
  expectFailure(manager->ExecuteCommand(plugin, "Run"), "Error $E01A:  No plugins loaded yet.");
  load();
  auto* other = keltk::CreateObject<CommandPlugin>(nullptr);
  keltk::ObjectPtr<CommandPlugin> guard(other);
  expectFailure(manager->ExecuteCommand(other, "Run"),
                "Error $E01F:  Plugin object (index -1) could not be accessed.");
  expectFailure(manager->ExecuteCommand(nullptr, 0),
                "Error $E01F:  Plugin object (index -1) could not be accessed.");
  expectFailure(manager->SendMessage(other, 1),
                "Error $E01F:  Plugin object (index -1) could not be accessed.");
  expectFailure(manager->SetupPlugin(other),
                "Error $E01F:  Plugin object (index -1) could not be accessed.");
}

TEST_F(DispatchTest, FindingTheCommand) {
  load();
  expectFailure(manager->ExecuteCommand(plugin, "Run"),
                "Error $E01B:  No commands defined for plugin \"cmd.kel\".");
  expectFailure(manager->ExecuteCommand(plugin, 0),
                "Error $E01B:  No commands defined for plugin \"cmd.kel\".");
  addRun();
  plugin->Commands()->Add()->SetName("Idle");
  // The catalogue's line, then one that names the command asked for.
  const std::string noWalk =
      "Error $E020:  Command object (index -1, plugin \"cmd.kel\") could not be accessed.";
  EXPECT_EQ(manager->ExecuteCommand(plugin, "Walk").ErrorMsg, noWalk);
  const std::vector<std::string> lines = log();
  EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
            (std::vector<std::string>{
                entry("MANAGER", 'E', noWalk),
                entry("MANAGER", 'E', "Plugin \"cmd.kel\" has no command \"Walk\"."),
            }));
  expectFailure(manager->ExecuteCommand(plugin, 2),
                "Error $E01E:  Invalid command index for plugin \"cmd.kel\": 2.");
  expectFailure(manager->ExecuteCommand(plugin, -1),
                "Error $E01E:  Invalid command index for plugin \"cmd.kel\": -1.");
  expectFailure(manager->ExecuteCommand(plugin, "idle"),
                "Error $E00C:  No event assigned for command \"Idle\" in plugin \"cmd.kel\".");
  expectFailure(manager->ExecuteCommand(plugin, 1),
                "Error $E00C:  No event assigned for command \"Idle\" in plugin \"cmd.kel\".");

  const std::string text = "go";
  EXPECT_EQ(manager->ExecuteCommand(plugin, "RUN", {keltk::VarInt(3), keltk::VarStr(text)}), smrOk);
  EXPECT_EQ(manager->ExecuteCommand(plugin, 0, {keltk::VarInt(4), keltk::VarPChar("x")}), smrOk);
  EXPECT_EQ(plugin->calls, (std::vector<std::vector<std::string>>{{"3", "go"}, {"4", "x"}}));
}

TEST_F(DispatchTest, EachCallIsLoggedAndAnswersWithTheHandlersResult) {
  load();
  addRun();
  plugin->answer = smrUnexpectedError;
  plugin->answer.ErrorCode = 0x1234;
  const std::string text = "go";
  const keltk::TVarRec args[] = {keltk::VarInt(1), keltk::VarStr(text)};
  const TKelMethodResult r = manager->ExecuteCommand(plugin, "Run", args);
  EXPECT_EQ(r.ErrorCode, 0x1234);
  EXPECT_EQ(
      log().back(),
      entry("MANAGER", 'C', "Executing command \"Run\" of plugin \"cmd.kel\" with 2 arguments..."));
  EXPECT_EQ(manager->Log()->GetCount(lkCommand), 1);
  // The handler runs as the plug-in's code.
  EXPECT_EQ(plugin->depths, (std::vector<int>{1}));
  EXPECT_EQ(plugin->CodeDepth(), 0);

  manager->Log()->SetItemsToLog({lkError});
  EXPECT_EQ(manager->ExecuteCommand(plugin, "Run", args).ErrorCode, 0x1234);
  EXPECT_EQ(manager->Log()->GetCount(lkCommand), 1);
  EXPECT_EQ(plugin->calls.size(), 2u);
}

TEST_F(DispatchTest, TheNumberOfArguments) {
  load();
  TCommand* run = addRun();
  expectFailure(manager->ExecuteCommand(plugin, "Run", {keltk::VarInt(1)}),
                "Error $E024:  Invalid number of parameters for command \"Run\", plugin "
                "\"cmd.kel\": 1 (2 params required).");
  const std::string text = "t";
  expectFailure(manager->ExecuteCommand(plugin, "Run",
                                        {keltk::VarInt(1), keltk::VarStr(text), keltk::VarInt(2)}),
                "Error $E024:  Invalid number of parameters for command \"Run\", plugin "
                "\"cmd.kel\": 3 (2 params required).");
  EXPECT_TRUE(plugin->calls.empty());
  run->SetCheckParamCount(false);
  EXPECT_EQ(manager->ExecuteCommand(plugin, "Run", {keltk::VarInt(1)}), smrOk);
  EXPECT_EQ(manager->ExecuteCommand(plugin, "Run",
                                    {keltk::VarInt(1), keltk::VarStr(text), keltk::VarInt(2)}),
            smrOk);
  EXPECT_EQ(manager->ExecuteCommand(plugin, "Run"), smrOk);
  EXPECT_EQ(plugin->calls.size(), 3u);
  EXPECT_EQ(
      log().back(),
      entry("MANAGER", 'C', "Executing command \"Run\" of plugin \"cmd.kel\" with 0 arguments..."));
}

TEST_F(DispatchTest, TheTypesOfArguments) {
  load();
  TCommand* run = addRun();
  const std::string text = "t";
  expectFailure(
      manager->ExecuteCommand(plugin, "Run", {keltk::VarStr(text), keltk::VarStr(text)}),
      "Error $E025:  Incompatible parameter type for command \"Run\", plugin \"cmd.kel\", "
      "param 0 (must be compatibable with type \"ptInteger\").");
  expectFailure(
      manager->ExecuteCommand(plugin, "Run", {keltk::VarInt(1), keltk::VarBool(true)}),
      "Error $E025:  Incompatible parameter type for command \"Run\", plugin \"cmd.kel\", "
      "param 1 (must be compatibable with type \"ptAnsiString\").");
  // Other text kinds stand for the text parameter.
  const std::u16string wide = u"w";
  EXPECT_EQ(manager->ExecuteCommand(plugin, "Run", {keltk::VarInt(1), keltk::VarWideString(wide)}),
            smrOk);
  EXPECT_EQ(manager->ExecuteCommand(plugin, "Run", {keltk::VarInt(1), keltk::VarChar('c')}), smrOk);
  run->SetCheckParamType(false);
  EXPECT_EQ(manager->ExecuteCommand(plugin, "Run", {keltk::VarBool(true), keltk::VarInt(5)}),
            smrOk);
  EXPECT_EQ(plugin->calls.back(), (std::vector<std::string>{"True", "5"}));
}

TEST_F(DispatchTest, NullArguments) {
  load();
  TCommand* run = addRun();
  EXPECT_EQ(
      manager->ExecuteCommand(plugin, "Run", {keltk::TVarRec::Null(), keltk::TVarRec::Null()}),
      smrOk);
  EXPECT_EQ(plugin->calls.back(), (std::vector<std::string>{"<null>", "<null>"}));
  run->SetAllowNullInAllParams(false);
  expectFailure(
      manager->ExecuteCommand(plugin, "Run", {keltk::VarInt(2), keltk::VarPChar(nullptr)}),
      "Error $E025:  Incompatible parameter type for command \"Run\", plugin \"cmd.kel\", "
      "param 1 (must be compatibable with type \"ptAnsiString\").");
  // Refused even when types are not checked.
  run->SetCheckParamType(false);
  expectFailure(
      manager->ExecuteCommand(plugin, "Run", {keltk::TVarRec::Null(), keltk::VarInt(2)}),
      "Error $E025:  Incompatible parameter type for command \"Run\", plugin \"cmd.kel\", "
      "param 0 (must be compatibable with type \"ptInteger\").");
  EXPECT_EQ(plugin->calls.size(), 1u);
}

TEST_F(DispatchTest, AHandlerThatRaisesIsLogged) {
  load();
  TCommand* boom = plugin->Commands()->Add();
  boom->SetName("Boom");
  boom->SetOnCommand(TEventOnCommand::bind<&CommandPlugin::Raise>(plugin));
  const TKelMethodResult r = manager->ExecuteCommand(plugin, "Boom");
  EXPECT_EQ(r, smrUnexpectedError);
  EXPECT_EQ(log().back(),
            entry("MANAGER", 'E',
                  "Event OnCommand(\"Boom\") on plugin \"cmd.kel\" raised an exception:  boom"));
  EXPECT_EQ(plugin->CodeDepth(), 0);
}

TEST_F(DispatchTest, ACommandThatUnloadsItsOwnPluginFinishesFirst) {
  load();
  TCommand* quit = plugin->Commands()->Add();
  quit->SetName("Quit");
  quit->SetOnCommand(TEventOnCommand::bind<&CommandPlugin::UnloadMyself>(plugin));
  manager->HookApplicationIdle(); // as a load through the manager does
  EXPECT_EQ(manager->ExecuteCommand(plugin, "Quit"), smrOk);
  EXPECT_TRUE(plugin->aliveAfterUnload);
  EXPECT_EQ(manager->PluginCount(), 1);
  EXPECT_EQ(manager->PendingUnloadCount(), 1);
  EXPECT_TRUE(plugin->unloadAnswer.Success);
  keltk::Application()->Idle();
  EXPECT_EQ(manager->PluginCount(), 0);
  EXPECT_EQ(manager->PendingUnloadCount(), 0);
}

TEST_F(DispatchTest, MessagesToAPlugin) {
  load();
  expectFailure(manager->SendMessage(plugin, 7),
                "Error $E00D:  No event assigned for messages in plugin \"cmd.kel\".");
  plugin->SetOnMessage(TEventOnMessage::bind<&CommandPlugin::Message>(plugin));
  const std::string hello = "hello";
  EXPECT_EQ(manager->SendMessage(plugin, 7, {keltk::VarStr(hello)}), smrOk);
  EXPECT_EQ(plugin->messages, (std::vector<std::string>{"7:hello"}));
  EXPECT_EQ(plugin->depths, (std::vector<int>{1}));
  EXPECT_EQ(log().back(),
            entry("MANAGER", 'M', "Sending message 7 to plugin \"cmd.kel\" with 1 argument..."));
  EXPECT_EQ(manager->Log()->GetCount(lkMessage), 1);
}

TEST_F(DispatchTest, MessagesToTheHost) {
  const std::string program = keltk::ExtractFileName(keltk::TApplication::ExeName());
  expectFailure(
      manager->SendMessage(nullptr, 3),
      fmt::format("Error $E00D:  No event assigned for messages in plugin \"{}\".", program));
  HostSide host;
  manager->SetOnMessage(TEventOnMessage::bind<&HostSide::Message>(&host));
  const TKelMethodResult r = manager->SendMessage(nullptr, 3, {keltk::VarInt(1), keltk::VarInt(2)});
  EXPECT_EQ(r.ErrorCode, 3);
  EXPECT_EQ(host.received, (std::vector<std::string>{"3/2"}));
  EXPECT_EQ(log().back(), entry("MANAGER", 'M', "Sending message 3 to host with 2 arguments..."));
}

TEST_F(DispatchTest, Setup) {
  load();
  expectFailure(manager->SetupPlugin(plugin),
                "Error $E00B:  No event assigned for setup in plugin \"cmd.kel\".");
  plugin->SetOnSetup(TEventOnSetup::bind<&CommandPlugin::Setup>(plugin));
  EXPECT_EQ(manager->SetupPlugin(plugin), smrOk);
  EXPECT_EQ(plugin->setups, 1);
  EXPECT_EQ(log().back(), entry("MANAGER", 'A', "Setting up plugin \"cmd.kel\"..."));
}

// ---- through a real plug-in module

// The host's own idle handler, which unloads a plug-in when asked to.
struct HostIdle : keltk::TObject {
  TulmKelMan* manager = nullptr;
  TulmKel* target = nullptr;
  void OnIdle(keltk::TObject*, bool&) {
    if (target == nullptr) return;
    TulmKel* plugin = target;
    target = nullptr;
    (void)manager->UnloadPlugin(plugin);
  }
};

using DispatchModuleTest = LifecycleTest;

TEST_F(DispatchModuleTest, EveryRefusal) {
  TulmKel* minimal = load("Minimal");
  TulmKel* commander = load("Commander");
  ASSERT_NE(commander, nullptr);
  auto refused = [&](const TKelMethodResult& r, const std::string& message) {
    EXPECT_EQ(r.ErrorMsg, message);
    EXPECT_FALSE(r.Success);
    EXPECT_EQ(lines().back(), error(message));
  };
  refused(manager->ExecuteCommand(minimal, "Echo"),
          "Error $E01B:  No commands defined for plugin \"Minimal.kel\".");
  EXPECT_EQ(manager->ExecuteCommand(commander, "Walk").ErrorMsg,
            "Error $E020:  Command object (index -1, plugin \"Commander.kel\") could not be "
            "accessed.");
  EXPECT_EQ(lines().back(), error("Plugin \"Commander.kel\" has no command \"Walk\"."));
  refused(manager->ExecuteCommand(commander, 99),
          "Error $E01E:  Invalid command index for plugin \"Commander.kel\": 99.");
  refused(manager->ExecuteCommand(commander, "Silent"),
          "Error $E00C:  No event assigned for command \"Silent\" in plugin \"Commander.kel\".");
  refused(manager->ExecuteCommand(commander, "Echo", {keltk::VarInt(1)}),
          "Error $E024:  Invalid number of parameters for command \"Echo\", plugin "
          "\"Commander.kel\": 1 (2 params required).");
  const std::string text = "seven";
  refused(manager->ExecuteCommand(commander, 0, {keltk::VarStr(text), keltk::VarStr(text)}),
          "Error $E025:  Incompatible parameter type for command \"Echo\", plugin "
          "\"Commander.kel\", param 0 (must be compatibable with type \"ptInteger\").");
  refused(manager->ExecuteCommand(commander, "Echo", {keltk::VarInt(1), keltk::TVarRec::Null()}),
          "Error $E025:  Incompatible parameter type for command \"Echo\", plugin "
          "\"Commander.kel\", param 1 (must be compatibable with type \"ptAnsiString\").");
  refused(manager->SendMessage(minimal, 1),
          "Error $E00D:  No event assigned for messages in plugin \"Minimal.kel\".");
  refused(manager->SetupPlugin(minimal),
          "Error $E00B:  No event assigned for setup in plugin \"Minimal.kel\".");
}

TEST_F(DispatchModuleTest, CommandsMessagesAndSetup) {
  TulmKel* commander = load("Commander");
  ASSERT_NE(commander, nullptr);
  const std::size_t from = logged();
  const std::string text = "seven";
  EXPECT_EQ(manager->ExecuteCommand(commander, "echo", {keltk::VarInt(7), keltk::VarStr(text)}),
            smrOk);
  EXPECT_EQ(manager->SendMessage(commander, 5), smrOk);
  EXPECT_EQ(manager->SetupPlugin(commander), smrOk);
  EXPECT_EQ(
      linesFrom(from),
      (std::vector<std::string>{
          line("MANAGER", 'C',
               "Executing command \"Echo\" of plugin \"Commander.kel\" with 2 arguments..."),
          line("Commander", 'U', "Echo 7 seven"),
          line("MANAGER", 'M', "Sending message 5 to plugin \"Commander.kel\" with 0 arguments..."),
          line("Commander", 'U', "Message 5 with 0"),
          action("Setting up plugin \"Commander.kel\"..."),
          line("Commander", 'U', "Setup"),
      }));
}

TEST_F(DispatchModuleTest, ACommandThatUnloadsItsOwnPluginFinishesFirst) {
  TulmKel* commander = load("Commander");
  ASSERT_NE(commander, nullptr);
  EXPECT_EQ(manager->ExecuteCommand(commander, "Quit"), smrOk);
  EXPECT_EQ(lines().back(), line("Commander", 'U', "Quit: unload ok, queued: yes"));
  EXPECT_EQ(manager->PluginCount(), 1);
  EXPECT_TRUE(isMapped(fixture("Commander")));
  keltk::Application()->Idle();
  EXPECT_EQ(manager->PluginCount(), 0);
  EXPECT_FALSE(isMapped(fixture("Commander")));
  EXPECT_EQ(lines().back(),
            action("Plugin Unloaded: \"Commander\" (\"" + fixture("Commander") + "\")."));
}

TEST_F(DispatchModuleTest, TheHostUnloadsThePluginWhileItsCommandRuns) {
  HostIdle host;
  host.manager = manager.get();
  keltk::Application()->SetOnIdle(keltk::TIdleEvent::bind<&HostIdle::OnIdle>(&host));
  TulmKel* commander = load("Commander");
  ASSERT_NE(commander, nullptr);
  host.target = commander;
  EXPECT_EQ(manager->ExecuteCommand(commander, "Pump"), smrOk);
  EXPECT_EQ(host.target, nullptr);
  EXPECT_EQ(lines().back(), line("Commander", 'U', "Pump: still running, queued: yes"));
  EXPECT_EQ(manager->PluginCount(), 1);
  keltk::Application()->Idle();
  EXPECT_EQ(manager->PluginCount(), 0);
  EXPECT_FALSE(isMapped(fixture("Commander")));
}

TEST_F(DispatchModuleTest, AFailureMadeInTheModuleOutlivesIt) {
  TulmKel* commander = load("Commander");
  ASSERT_NE(commander, nullptr);
  const TKelMethodResult r = manager->ExecuteCommand(commander, "Fail");
  keltk::Application()->Idle();
  ASSERT_FALSE(isMapped(fixture("Commander")));
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(r.ErrorMsg, "Error $E005:  Plugin \"Commander.kel\" could not be registered.");
  ASSERT_NE(r.ErrorClass, nullptr);
  EXPECT_STREQ(r.ErrorClass->name, "EulmKelLoadError");
}

} // namespace
} // namespace kelvarin::test
