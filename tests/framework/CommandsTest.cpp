// A plug-in's commands and their parameters: default names, the name rules and
// their log lines, design-time refusals, owners, bitmaps, stored form data, and
// the argument conversions handlers use.
#include "FrameworkTestSupport.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <keltk/Resources.h>
#include <keltk/Writer.h>

namespace kelvarin::test {
namespace {

// A log line as linesAfterStamp shows it.
std::string entry(std::string_view origin, char kind, std::string_view msg) {
  return fmt::format("  {:<20} {}  {}", origin, kind, msg);
}

class CommandsTest : public ::testing::Test {
protected:
  CommandsTest() : manager(makeManager(dir)) {
    manager->Log()->SetDumpOn(doNever);
    plugin = addPlugin(*manager, "Cmd Plugin", "/plugins/cmd.kel");
  }

  TCommand* addCommand(const std::string& name) {
    TCommand* command = plugin->Commands()->Add();
    command->SetName(name);
    return command;
  }
  std::vector<std::string> log() const { return linesAfterStamp(*manager->Log()); }

  TempDir dir;
  keltk::ObjectPtr<TulmKelMan> manager;
  TulmKel* plugin = nullptr;
};

TEST_F(CommandsTest, NewCommandsAndParametersTakeTheirPositionAsName) {
  TCommands* commands = plugin->Commands();
  ASSERT_EQ(commands->Count(), 0);
  TCommand* first = commands->Add();
  TCommand* second = commands->Add();
  EXPECT_EQ(first->Name(), "Command_0");
  EXPECT_EQ(second->Name(), "Command_1");
  EXPECT_TRUE(first->CheckParamType());
  EXPECT_TRUE(first->CheckParamCount());
  EXPECT_TRUE(first->AllowNullInAllParams());
  EXPECT_TRUE(first->Bitmap()->Empty());
  EXPECT_EQ(first->Caption(), "");
  EXPECT_FALSE(first->OnCommand());

  TCommandParam* p0 = second->Params()->Add();
  TCommandParam* p1 = second->Params()->Add();
  EXPECT_EQ(p0->ParamName(), "Param_0");
  EXPECT_EQ(p1->ParamName(), "Param_1");
  EXPECT_EQ(p0->ParamType(), ptInteger);
  EXPECT_EQ(first->Params()->Count(), 0);
  // Names given at creation are not checked, so nothing is logged.
  EXPECT_EQ(manager->Log()->GetCount(lkError), 0);
}

TEST_F(CommandsTest, BackReferencesAndOwnersLeadToThePlugin) {
  TCommand* command = plugin->Commands()->Add();
  TCommandParam* param = command->Params()->Add();
  EXPECT_EQ(plugin->Commands()->Plugin(), plugin);
  EXPECT_EQ(plugin->Commands()->GetOwner(), plugin);
  EXPECT_EQ(command->Plugin(), plugin);
  EXPECT_EQ(command->Commands(), plugin->Commands());
  EXPECT_EQ(command->Params()->Command(), command);
  EXPECT_EQ(command->Params()->Plugin(), plugin);
  EXPECT_EQ(command->Params()->GetOwner(), command);
  EXPECT_EQ(param->Params(), command->Params());
  EXPECT_EQ(param->Command(), command);
  EXPECT_EQ(param->Commands(), plugin->Commands());
  EXPECT_EQ(param->Plugin(), plugin);
  EXPECT_EQ(command->GetParams(), command->Params());
}

TEST_F(CommandsTest, DefaultNamesAreNotCheckedButRenamingIs) {
  TCommands* commands = plugin->Commands();
  commands->Add();
  commands->Add();
  commands->Delete(0);
  TCommand* late = commands->Add();
  EXPECT_EQ(commands->Items(0)->Name(), "Command_1");
  EXPECT_EQ(late->Name(), "Command_1");
  late->SetName("Command_2");
  EXPECT_EQ(late->Name(), "Command_2");
  EXPECT_EQ(commands->Items(0)->Name(), "Command_1");
}

TEST_F(CommandsTest, NamesAreTrimmed) {
  TCommand* command = addCommand("  Open\t ");
  EXPECT_EQ(command->Name(), "Open");
  EXPECT_EQ(command->GetName(), "Open");
  EXPECT_EQ(command->DisplayName(), "Open");
}

TEST_F(CommandsTest, ABlankNameIsRefusedAndLogged) {
  TCommand* command = addCommand("Open");
  const std::size_t before = log().size();
  command->SetName("   ");
  EXPECT_EQ(command->Name(), "Open");
  ASSERT_EQ(log().size(), before + 1);
  EXPECT_EQ(log().back(),
            entry("Cmd Plugin", 'E', "Error $E011:  Plugin Command.Name cannot be blank."));
}

TEST_F(CommandsTest, ANameTakenInAnotherCaseIsRefusedNamingTheHolder) {
  addCommand("Open");
  addCommand("Save");
  TCommand* third = addCommand("Close");
  third->SetName("open");
  EXPECT_EQ(third->Name(), "Close");
  EXPECT_EQ(log().back(),
            entry("Cmd Plugin", 'E',
                  "Error $E012:  Plugin Command.Name \"open\" already in use by command 0."));
  third->SetName(" SAVE ");
  EXPECT_EQ(log().back(),
            entry("Cmd Plugin", 'E',
                  "Error $E012:  Plugin Command.Name \"SAVE\" already in use by command 1."));
}

TEST_F(CommandsTest, TheCheckVisitsTheCommandItself) {
  addCommand("First");
  TCommand* open = addCommand("Open");
  const std::size_t before = log().size();
  open->SetName("Open");
  EXPECT_EQ(log().size(), before); // the identical name: nothing at all
  open->SetName("OPEN");
  EXPECT_EQ(open->Name(), "Open");
  EXPECT_EQ(log().back(),
            entry("Cmd Plugin", 'E',
                  "Error $E012:  Plugin Command.Name \"OPEN\" already in use by command 1."));
}

TEST_F(CommandsTest, ADesignedPluginGetsTheRefusalRaisedAndReported) {
  TCommand* command = addCommand("Open");
  addCommand("Save");
  plugin->SetDesigning(true);
  try {
    command->SetName("save");
    FAIL() << "not raised";
  } catch (const EulmKelPropertyError& e) {
    EXPECT_EQ(e.ErrorCode(), 0xE012);
    EXPECT_EQ(e.Message(),
              "Error $E012:  Plugin Command.Name \"save\" already in use by command 1.");
  }
  EXPECT_EQ(command->Name(), "Open");
  const auto lines = log();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2],
            entry("Cmd Plugin", 'E',
                  "Error $E012:  Plugin Command.Name \"save\" already in use by command 1."));
  EXPECT_EQ(lines.back(),
            entry("Cmd Plugin", 'E',
                  "EXCEPTION [ulmKELrp.bpl] ulmKELru.TCommand.SetName.71: [EulmKelPropertyError] "
                  "Error $E012:  Plugin Command.Name \"save\" already in use by command 1."));
  EXPECT_THROW(command->SetName(""), EulmKelPropertyError);
  plugin->SetDesigning(false);
  EXPECT_NO_THROW(command->SetName(""));
  EXPECT_EQ(command->Name(), "Open");
}

TEST_F(CommandsTest, ParameterNamesAreUniqueWithinOneCommandOnly) {
  TCommand* show = addCommand("Show");
  TCommand* hide = addCommand("Hide");
  TCommandParam* message = show->Params()->Add();
  message->SetParamName("Message");
  TCommandParam* other = hide->Params()->Add();
  other->SetParamName("Message");
  EXPECT_EQ(other->ParamName(), "Message");

  TCommandParam* second = show->Params()->Add();
  second->SetParamName("MESSAGE");
  EXPECT_EQ(second->ParamName(), "Param_1");
  EXPECT_EQ(log().back(),
            entry("Cmd Plugin", 'E',
                  "Error $E014:  Plugin ParamName \"MESSAGE\" already in use by param 0."));
  second->SetParamName(" ");
  EXPECT_EQ(log().back(),
            entry("Cmd Plugin", 'E', "Error $E013:  Plugin ParamName cannot be blank."));
  second->SetParamName(" Count ");
  EXPECT_EQ(second->ParamName(), "Count");
  EXPECT_EQ(second->DisplayName(), "Count");

  plugin->SetDesigning(true);
  EXPECT_THROW(second->SetParamName("message"), EulmKelPropertyError);
  EXPECT_EQ(log().back(),
            entry("Cmd Plugin", 'E',
                  "EXCEPTION [ulmKELrp.bpl] ulmKELru.TCommandParam.SetParamName.71: "
                  "[EulmKelPropertyError] Error $E014:  Plugin ParamName \"message\" already in "
                  "use by param 0."));
  plugin->SetDesigning(false);
}

TEST_F(CommandsTest, ParameterTypes) {
  TCommandParam* param = addCommand("Run")->Params()->Add();
  param->SetParamType(ptWideString);
  EXPECT_EQ(param->GetParamType(), ptWideString);
  EXPECT_EQ(ParamTypeName(ptWideString), "ptWideString");
  EXPECT_EQ(ParamTypeName(ptInt64), "ptInt64");
}

TEST_F(CommandsTest, BitmapIsCopiedNotShared) {
  TCommand* command = addCommand("Paint");
  keltk::TBitmap* own = command->Bitmap();
  auto* given = keltk::CreateObject<keltk::TBitmap>();
  given->SetSize(3, 2);
  given->SetPixel(1, 1, 0xFF112233u);
  command->SetBitmap(given);
  keltk::FreeObject(given);
  EXPECT_EQ(command->Bitmap(), own);
  EXPECT_EQ(own->Width(), 3);
  EXPECT_EQ(own->Height(), 2);
  EXPECT_EQ(own->Pixel(1, 1), 0xFF112233u);
}

TEST_F(CommandsTest, SettingCommandsCopiesThemAndNoneChangesNothing) {
  TCommand* run = addCommand("Run");
  run->SetCaption("&Run");
  run->SetCheckParamType(false);
  run->Params()->Add()->SetParamName("Speed");
  run->Params()->Items(0)->SetParamType(ptExtended);

  TulmKel* other = addPlugin(*manager, "Other", "/plugins/other.kel");
  other->SetCommands(plugin->Commands());
  ASSERT_EQ(other->Commands()->Count(), 1);
  TCommand* copy = other->Commands()->Items(0);
  EXPECT_NE(copy, run);
  EXPECT_EQ(copy->Name(), "Run");
  EXPECT_EQ(copy->Caption(), "&Run");
  EXPECT_FALSE(copy->CheckParamType());
  EXPECT_EQ(copy->Plugin(), other);
  ASSERT_EQ(copy->Params()->Count(), 1);
  EXPECT_EQ(copy->Params()->Items(0)->ParamName(), "Speed");
  EXPECT_EQ(copy->Params()->Items(0)->ParamType(), ptExtended);
  EXPECT_EQ(copy->Params()->Items(0)->Plugin(), other);

  other->SetCommands(nullptr);
  EXPECT_EQ(other->Commands()->Count(), 1);
  // The parameters' own writer never hands the collection over either.
  TCommandParams* params = copy->Params();
  copy->SetParams(nullptr);
  copy->SetParams(run->Params());
  EXPECT_EQ(copy->Params(), params);
  EXPECT_EQ(params->Count(), 1);
}

// ---- stored form data

class TkelCommandsForm : public TulmKel {
public:
  using TulmKel::TulmKel;
  static const keltk::TClassInfo& StaticClass() {
    static keltk::TClassInfo info(
        "TkelCommandsForm", &TulmKel::StaticClass(), [](keltk::TClassInfo& i) {
          keltk::ClassBuilder<TkelCommandsForm>(i).method<&TkelCommandsForm::Startup>("Startup");
        });
    return info;
  }
  const keltk::TClassInfo& ClassType() const override { return StaticClass(); }
  TKelMethodResult Startup(keltk::TVarRecs) { return smrOk; }
};

constexpr std::string_view kCommandsForm = "object kelCommands: TkelCommandsForm\n"
                                           "  DeepName = 'Stored Commands'\n"
                                           "  Commands = <\n"
                                           "    item\n"
                                           "      Caption = 'Start'\n"
                                           "      Name = 'Startup_Gauge'\n"
                                           "      CheckParamType = True\n"
                                           "      CheckParamCount = False\n"
                                           "      AllowNullInAllParams = True\n"
                                           "      Params = <\n"
                                           "        item\n"
                                           "          ParamName = 'Min'\n"
                                           "        end\n"
                                           "        item\n"
                                           "          ParamName = 'Text'\n"
                                           "          ParamType = ptAnsiString\n"
                                           "        end>\n"
                                           "      OnCommand = Startup\n"
                                           "    end\n"
                                           "    item\n"
                                           "      Name = 'Hide_Splash'\n"
                                           "      CheckParamType = False\n"
                                           "      CheckParamCount = True\n"
                                           "      AllowNullInAllParams = False\n"
                                           "      Params = <>\n"
                                           "    end>\n"
                                           "end\n";

TEST(CommandsStoredForm, ReadAndWrittenBack) {
  keltk::RegisterFormResource(kCommandsForm, &kCommandsForm);
  keltk::ObjectPtr<TkelCommandsForm> plugin(keltk::CreateObject<TkelCommandsForm>(nullptr));
  keltk::UnregisterFormResource(kCommandsForm);

  TCommands* commands = plugin->Commands();
  ASSERT_EQ(commands->Count(), 2);
  TCommand* startup = commands->Items(0);
  EXPECT_EQ(startup->Name(), "Startup_Gauge");
  EXPECT_EQ(startup->Caption(), "Start");
  EXPECT_FALSE(startup->CheckParamCount());
  ASSERT_EQ(startup->Params()->Count(), 2);
  EXPECT_EQ(startup->Params()->Items(0)->ParamName(), "Min");
  EXPECT_EQ(startup->Params()->Items(0)->ParamType(), ptInteger);
  EXPECT_EQ(startup->Params()->Items(1)->ParamType(), ptAnsiString);
  ASSERT_TRUE(startup->OnCommand());
  EXPECT_EQ(startup->OnCommand().data(), plugin.get());
  EXPECT_EQ(startup->OnCommand()({}), smrOk);
  EXPECT_EQ(commands->Items(1)->Name(), "Hide_Splash");
  EXPECT_FALSE(commands->Items(1)->AllowNullInAllParams());

  const std::string text = keltk::WriteComponentToText(plugin.get());
  // The switches are always there, an empty parameter list as <>, and nothing
  // for an empty caption, bitmap or handler.
  EXPECT_NE(text.find("      Name = 'Hide_Splash'\n"
                      "      CheckParamType = False\n"
                      "      CheckParamCount = True\n"
                      "      AllowNullInAllParams = False\n"
                      "      Params = <>\n"
                      "    end>"),
            std::string::npos)
      << text;
  // A parameter's type has no streaming default either: ptInteger is stored too.
  EXPECT_NE(text.find("          ParamName = 'Min'\n          ParamType = ptInteger\n        end"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("ParamType = ptAnsiString"), std::string::npos);
  EXPECT_NE(text.find("OnCommand = Startup"), std::string::npos);
  EXPECT_EQ(text.find("Bitmap"), std::string::npos);
  EXPECT_EQ(text.find("Hint"), std::string::npos);
  EXPECT_EQ(text.find("Caption = ''"), std::string::npos);
}

TEST(CommandsStoredForm, AnEmptyCommandListIsStoredEmpty) {
  keltk::ObjectPtr<TulmKel> plugin(keltk::CreateObject<TulmKel>(nullptr));
  plugin->SetName("kelEmpty");
  const std::string text = keltk::WriteComponentToText(plugin.get());
  EXPECT_NE(text.find("  Commands = <>\n"), std::string::npos) << text;
}

// ---- argument conversions

TEST(ArgumentConversions, Integers) {
  const std::string text = " -42 ";
  const std::string hex = "$FF";
  const std::string junk = "12abc";
  const std::u16string wide = u"77";
  const std::int64_t big = std::int64_t{1} << 40;
  const std::int64_t small = -5;
  const long double real = -3.99L;
  const std::int64_t money = 123456; // 12.3456
  keltk::TVarRec variant = keltk::VarInt(9);
  keltk::TVarRec viaVariant;
  viaVariant.VType = keltk::vtVariant;
  viaVariant.VVariant = &variant;

  EXPECT_EQ(Var2Int(keltk::VarInt(-7)), -7);
  EXPECT_EQ(Var2Int(keltk::VarBool(true)), 1);
  EXPECT_EQ(Var2Int(keltk::VarChar('A')), 65);
  EXPECT_EQ(Var2Int(keltk::VarStr(text)), -42);
  EXPECT_EQ(Var2Int(keltk::VarStr(hex)), 255);
  EXPECT_EQ(Var2Int(keltk::VarStr(junk)), 0);
  EXPECT_EQ(Var2Int(keltk::VarPChar("2147483647")), 2147483647);
  EXPECT_EQ(Var2Int(keltk::VarPChar("2147483648")), 0);
  EXPECT_EQ(Var2Int(keltk::VarWideString(wide)), 77);
  EXPECT_EQ(Var2Int(keltk::VarInt64(big)), 0);
  EXPECT_EQ(Var2Int(keltk::VarInt64(small)), -5);
  EXPECT_EQ(Var2Int(keltk::VarExtended(real)), -3);
  keltk::TVarRec currency;
  currency.VType = keltk::vtCurrency;
  currency.VCurrency = &money;
  EXPECT_EQ(Var2Int(currency), 12);
  EXPECT_EQ(Var2Int(viaVariant), 9);
  EXPECT_EQ(Var2Int(keltk::TVarRec::Null()), 0);
  EXPECT_EQ(Var2Int(keltk::VarObject(nullptr)), 0);
}

TEST(ArgumentConversions, Texts) {
  const std::string ansi = "Loading...";
  const std::u16string wide = u"Gr\u00FC\u00DF \U0001F600";
  const unsigned char shortString[] = {3, 'a', 'b', 'c', 'z'};
  const std::int64_t big = -(std::int64_t{1} << 40);
  const long double real = 2.5L;
  const std::int64_t money = -125000;
  keltk::TVarRec shortArg;
  shortArg.VType = keltk::vtString;
  shortArg.VString = shortString;
  keltk::TVarRec currency;
  currency.VType = keltk::vtCurrency;
  currency.VCurrency = &money;
  keltk::TVarRec classArg;
  classArg.VType = keltk::vtClass;
  classArg.VClass = &TCommand::StaticClass();

  EXPECT_EQ(Var2Str(keltk::VarStr(ansi)), "Loading...");
  EXPECT_EQ(Var2Str(keltk::VarPChar("plain")), "plain");
  EXPECT_EQ(Var2Str(keltk::VarWideString(wide)), "Gr\u00FC\u00DF \U0001F600");
  EXPECT_EQ(Var2Str(shortArg), "abc");
  EXPECT_EQ(Var2Str(keltk::VarChar('x')), "x");
  EXPECT_EQ(Var2Str(keltk::VarInt(-12)), "-12");
  EXPECT_EQ(Var2Str(keltk::VarInt64(big)), "-1099511627776");
  EXPECT_EQ(Var2Str(keltk::VarBool(false)), "False");
  EXPECT_EQ(Var2Str(keltk::VarExtended(real)), "2.5");
  EXPECT_EQ(Var2Str(currency), "-12.5");
  EXPECT_EQ(Var2Str(classArg), "TCommand");
  EXPECT_EQ(Var2Str(keltk::TVarRec::Null()), "");
  keltk::TVarRec noString;
  noString.VType = keltk::vtAnsiString;
  noString.VAnsiString = nullptr;
  EXPECT_EQ(Var2Str(noString), "");
}

TEST(ArgumentConversions, TypesAcceptTheirOwnTagAndDocumentedOthers) {
  for (int t = ptInteger; t <= ptInt64; ++t)
    EXPECT_TRUE(ParamTypeAccepts(static_cast<TParamType>(t), static_cast<keltk::TVarType>(t)));
  EXPECT_TRUE(ParamTypeAccepts(ptInt64, keltk::vtInteger));
  EXPECT_FALSE(ParamTypeAccepts(ptInteger, keltk::vtInt64));
  EXPECT_FALSE(ParamTypeAccepts(ptInteger, keltk::vtAnsiString));
  EXPECT_TRUE(ParamTypeAccepts(ptAnsiString, keltk::vtPChar));
  EXPECT_TRUE(ParamTypeAccepts(ptAnsiString, keltk::vtWideString));
  EXPECT_TRUE(ParamTypeAccepts(ptExtended, keltk::vtInteger));
  EXPECT_FALSE(ParamTypeAccepts(ptBoolean, keltk::vtInteger));
  EXPECT_TRUE(ParamTypeAccepts(ptVariant, keltk::vtObject));
  EXPECT_TRUE(ParamTypeAccepts(ptPointer, keltk::vtObject));
  EXPECT_FALSE(ParamTypeAccepts(ptObject, keltk::vtPointer));
}

} // namespace
} // namespace kelvarin::test
