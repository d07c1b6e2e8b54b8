#include "keltk/Reader.h"

#include "FormModel.h"
#include "keltk/Exception.h"

#include <cctype>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace keltk;
using namespace fmtest;

namespace {

const char* const kRichForm = R"(object Form1: TFmForm
  Title = 'It''s a ' + 'test'#13#10'line'
  Count = -42
  Big = $7FFFFFFFFFFFFFFF
  Tiny = 255
  Visible = False
  Kind = fkOdd
  Options = [foA, foC]
  Color = clBtnFace
  Logo = {
    0001FF
    10}
  Settings.Mode = fkOdd
  Settings.Flags = []
  Settings.Path = 'C:'#$263A#233
  Settings.Limit = 7
  Settings.Source = Button2
  Settings.Notes.Strings = (
    'first'
    ''
    'third' +
      ' part')
  Commands = <
    item
      Name = 'Open'
      Enabled = False
      Weight = 3
      Params = <
        item
          ParamName = 'Path'
          ParamType = fkFancy
        end
        item
        end>
      Data = {CAFE}
      Target = Button1
      OnRun = RunCommand
    end
    item
      Name = 'Close'
      Params = <>
    end>
  Main = Button2
  OnShow = FormShow
  object Button1: TFmWidget
    Caption = 'One'
    Color = clRed
    Buddy = Button2
    OnClick = WidgetClick
    object Inner: TFmWidget
      Color = 12345
    end
  end
  object Button2: TFmWidget
    Caption = 'Two'
  end
end
)";

class FormReading : public testing::Test {
protected:
  void SetUp() override {
    registerFormTestClasses();
    fmLog.clear();
    liveBefore_ = fmLiveWidgets;
  }
  void TearDown() override { EXPECT_EQ(fmLiveWidgets, liveBefore_) << "widgets leaked"; }

  int liveBefore_ = 0;
};

TFmCommand* command(TFmForm& f, int i) {
  return static_cast<TFmCommand*>(f.commands.Items(i));
}
TFmParam* param(TFmCommand* c, int i) {
  return static_cast<TFmParam*>(c->params.Items(i));
}

TEST_F(FormReading, ReadsEveryKindOfValue) {
  TFmForm form(nullptr);
  ReadComponentFromText(kRichForm, &form);

  EXPECT_EQ(form.Name(), "Form1");
  EXPECT_EQ(form.title, "It's a test\r\nline");
  EXPECT_EQ(form.count, -42);
  EXPECT_EQ(form.big, INT64_MAX);
  EXPECT_EQ(form.tiny, 255);
  EXPECT_FALSE(form.visible);
  EXPECT_EQ(form.kind, fkOdd);
  EXPECT_EQ(form.options, (1 << foA) | (1 << foC));
  EXPECT_EQ(form.color, -16);
  EXPECT_EQ(form.logo, (std::vector<std::uint8_t>{0x00, 0x01, 0xFF, 0x10}));

  EXPECT_EQ(form.settings.mode, fkOdd);
  EXPECT_EQ(form.settings.flags, 0);
  EXPECT_EQ(form.settings.path, "C:\u263A\u00E9");
  EXPECT_EQ(form.settings.limit, 7);
  EXPECT_EQ(form.settings.notes.lines, (std::vector<std::string>{"first", "", "third part"}));

  ASSERT_EQ(form.commands.Count(), 2);
  TFmCommand* open = command(form, 0);
  EXPECT_EQ(open->name, "Open");
  EXPECT_FALSE(open->enabled);
  EXPECT_EQ(open->weight, 3);
  ASSERT_EQ(open->params.Count(), 2);
  EXPECT_EQ(param(open, 0)->name, "Path");
  EXPECT_EQ(param(open, 0)->type, fkFancy);
  EXPECT_EQ(param(open, 1)->name, "Param_1"); // an empty item keeps its defaults
  EXPECT_EQ(open->data, (std::vector<std::uint8_t>{0xCA, 0xFE}));
  TFmCommand* close = command(form, 1);
  EXPECT_EQ(close->name, "Close");
  EXPECT_TRUE(close->enabled);
  EXPECT_EQ(close->params.Count(), 0);

  ASSERT_EQ(form.ComponentCount(), 3);
  auto* b1 = ObjectAs<TFmWidget>(form.FindComponent("Button1"));
  auto* inner = ObjectAs<TFmWidget>(form.FindComponent("Inner"));
  auto* b2 = ObjectAs<TFmWidget>(form.FindComponent("Button2"));
  ASSERT_TRUE(b1 && inner && b2);
  EXPECT_EQ(b1->caption, "One");
  EXPECT_EQ(b1->color, 0xFF);
  EXPECT_EQ(inner->color, 12345);
  EXPECT_EQ(inner->Owner(), &form); // nested components belong to the root
  EXPECT_EQ(inner->parent, b1);     // and hang below the enclosing one
  EXPECT_EQ(b1->children, std::vector<TFmWidget*>{inner});
  EXPECT_EQ(b2->parent, nullptr);

  // References, including ones to components declared further down.
  EXPECT_EQ(form.main, b2);
  EXPECT_EQ(form.settings.source, b2);
  EXPECT_EQ(b1->buddy, b2);
  EXPECT_EQ(open->target, b1);
}

TEST_F(FormReading, EventsBindToThePublishedMethodsOfTheRoot) {
  TFmForm form(nullptr);
  ReadComponentFromText(kRichForm, &form);
  ASSERT_TRUE(form.onShow);
  EXPECT_EQ(form.onShow.data(), &form);
  form.onShow(&form);
  EXPECT_EQ(form.shows, 1);

  auto* b1 = ObjectAs<TFmWidget>(form.FindComponent("Button1"));
  ASSERT_TRUE(b1->onClick);
  b1->onClick(b1);
  EXPECT_EQ(form.shows, 101); // the handler runs on the form, not on the button

  TFmCommand* open = command(form, 0);
  ASSERT_TRUE(open->onRun);
  EXPECT_EQ(open->onRun(open), 3);
  EXPECT_FALSE(command(form, 1)->onRun);
}

TEST_F(FormReading, LoadedRunsOnceForEveryComponentAfterReferencesAreResolved) {
  TFmForm form(nullptr);
  ReadComponentFromText(kRichForm, &form);
  EXPECT_EQ(fmLog,
            (std::vector<std::string>{"Loaded Form1 loading main=Button2", "Loaded Button1 loading",
                                      "Loaded Inner loading", "Loaded Button2 loading"}));
  EXPECT_FALSE(form.HasState(csLoading));
  EXPECT_FALSE(form.HasState(csReading));
  for (int i = 0; i < form.ComponentCount(); ++i) {
    EXPECT_EQ(form.Components(i)->ComponentState() & (csLoading | csReading), 0u);
  }
  // Properties were set while the component was loading and reading.
  EXPECT_TRUE(ObjectAs<TFmWidget>(form.FindComponent("Button1"))->readingWhenCaptionSet);
}

TEST_F(FormReading, ACollectionIsReplacedNotAppendedTo) {
  TFmForm form(nullptr);
  form.commands.Add();
  form.commands.Add();
  ReadComponentFromText("object F: TFmForm\n  Commands = <\n    item\n      Name = 'Only'\n"
                        "    end>\nend\n",
                        &form);
  ASSERT_EQ(form.commands.Count(), 1);
  EXPECT_EQ(command(form, 0)->name, "Only");
  ReadComponentFromText("object F: TFmForm\n  Commands = <>\nend\n", &form);
  EXPECT_EQ(form.commands.Count(), 0);
}

TEST_F(FormReading, ReferencesOfItemsThatAReReadCollectionFreedAreDropped) {
  TFmForm form(nullptr);
  ReadComponentFromText("object F: TFmForm\n"
                        "  Commands = <\n    item\n      Target = W\n    end>\n"
                        "  Commands = <\n    item\n      Name = 'Second'\n    end>\n"
                        "  object W: TFmWidget\n  end\nend\n",
                        &form);
  ASSERT_EQ(form.commands.Count(), 1);
  EXPECT_EQ(command(form, 0)->target, nullptr);
}

TEST_F(FormReading, NilClearsReferencesAndEvents) {
  TFmForm form(nullptr);
  ReadComponentFromText("object F: TFmForm\n  Main = W\n  OnShow = FormShow\n"
                        "  object W: TFmWidget\n  end\nend\n",
                        &form);
  ASSERT_NE(form.main, nullptr);
  // A later form (of the same load or not) may take them away again.
  std::vector<std::string_view> texts{
      "object F: TFmForm\n  Main = W\n  object W: TFmWidget\n  end\nend\n",
      "inherited F: TFmForm\n  Main = nil\n  OnShow = nil\nend\n"};
  TFmForm other(nullptr);
  ReadInheritedForms(texts, &other);
  EXPECT_EQ(other.main, nullptr);
  EXPECT_FALSE(other.onShow);
}

const char* const kBaseForm = R"(object Form1: TFmForm
  Title = 'Base'
  Count = 1
  Commands = <
    item
      Name = 'Open'
      Target = Button1
    end>
  object Button1: TFmWidget
    Caption = 'One'
  end
end
)";

const char* const kDerivedForm = R"(inherited Form1: TFmDerivedForm
  Extra = 'more'
  Count = 2
  Commands = <
    item
      Name = 'Save'
      Target = Button2
    end>
  inherited Button1: TFmWidget
    Caption = 'Uno'
  end
  object Button2: TFmWidget
  end
end
)";

TEST_F(FormReading, InheritedFormsAreReadBaseFirstAsOneLoad) {
  TFmDerivedForm form(nullptr);
  std::vector<std::string_view> texts{kBaseForm, kDerivedForm};
  ReadInheritedForms(texts, &form);

  EXPECT_EQ(form.title, "Base");
  EXPECT_EQ(form.count, 2);
  EXPECT_EQ(form.extra, "more");
  ASSERT_EQ(form.commands.Count(), 1);
  EXPECT_EQ(command(form, 0)->name, "Save");
  EXPECT_EQ(command(form, 0)->target, form.FindComponent("Button2"));
  ASSERT_EQ(form.ComponentCount(), 2);
  EXPECT_EQ(ObjectAs<TFmWidget>(form.FindComponent("Button1"))->caption, "Uno");
  EXPECT_EQ(fmLog, (std::vector<std::string>{"Loaded Form1 loading", "Loaded Button1 loading",
                                             "Loaded Button2 loading"}));
}

TEST_F(FormReading, ADescendantsFormDoesNotFitItsAncestor) {
  TFmForm form(nullptr);
  try {
    ReadComponentFromText(kDerivedForm, &form);
    FAIL() << "no exception";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(),
              "line 1, column 18: a form of class TFmDerivedForm cannot be read into a TFmForm");
  }
  TFmDerivedForm derived(nullptr);
  try {
    ReadComponentFromText(kDerivedForm, &derived); // its ancestor's part is missing
    FAIL() << "no exception";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "line 9, column 3: no inherited component named \"Button1\" in "
                           "TFmDerivedForm");
  }
  EXPECT_EQ(derived.ComponentCount(), 0);
  EXPECT_FALSE(derived.HasState(csLoading));
}

TEST_F(FormReading, CreateComponentFromTextMakesTheNamedClass) {
  TFmForm owner(nullptr);
  TComponent* made =
      CreateComponentFromText("object W9: TFmWidget\n  Caption = 'x'\nend\n", &owner);
  auto* w = ObjectAs<TFmWidget>(made);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->Name(), "W9");
  EXPECT_EQ(w->caption, "x");
  EXPECT_EQ(w->Owner(), &owner);
  EXPECT_FALSE(w->HasState(csLoading));

  EXPECT_THROW(CreateComponentFromText("object W9: TFmWidget\n  Caption = 1\nend\n", &owner),
               EReadError);
  EXPECT_THROW(CreateComponentFromText("object X: TFmNothing\nend\n", &owner), EClassNotFound);
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(FormClassName("  inherited Form1: TFmDerivedForm\n"), "TFmDerivedForm");
  EXPECT_EQ(FormClassName("garbage"), "");
}

TEST_F(FormReading, ARootUnderAnOwnerTakesAFreeName) {
  TFmForm owner(nullptr);
  auto* first = new TFmForm(&owner);
  ReadComponentFromText("object Child: TFmForm\nend\n", first);
  auto* second = new TFmForm(&owner);
  ReadComponentFromText("object Child: TFmForm\nend\n", second);
  EXPECT_EQ(first->Name(), "Child");
  EXPECT_EQ(second->Name(), "Child_1");
}

// --- bad data ---------------------------------------------------------------

struct BadCase {
  const char* what;
  std::string text;
  std::string exceptionClass;
  std::string message;
};

std::string form(std::string_view body) {
  return "object Form1: TFmForm\n" + std::string(body) + "\nend\n";
}

class BadData : public FormReading, public testing::WithParamInterface<BadCase> {};

TEST_P(BadData, RaisesAToolkitErrorNamingLineColumnAndText) {
  const BadCase& c = GetParam();
  TFmForm root(nullptr);
  try {
    ReadComponentFromText(c.text, &root);
    FAIL() << "no exception for " << c.what;
  } catch (const Exception& e) {
    EXPECT_EQ(e.ClassName(), c.exceptionClass);
    EXPECT_EQ(e.Message(), c.message);
  }
  EXPECT_EQ(root.ComponentCount(), 0) << "created components must be freed";
  EXPECT_EQ(root.ComponentState() & (csLoading | csReading), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Reader, BadData,
    testing::Values(
        BadCase{"unknown property",
                "object Form1: TFmForm\n  Title = 'x'\n  object Button1: TFmWidget\n"
                "    Captoin = 'One'\n  end\nend\n",
                "EReadError", "line 4, column 5: unknown property \"Captoin\" of TFmWidget"},
        BadCase{"unknown sub-object property", form("  Settings.Moode = fkOdd"), "EReadError",
                "line 2, column 12: unknown property \"Moode\" of TFmSettings"},
        BadCase{"dotted through a plain property", form("  Title.Length = 1"), "EReadError",
                "line 2, column 3: property \"Title\" of TFmForm has no properties of its own"},
        BadCase{"value of the wrong kind", form("  Count = 'abc'"), "EReadError",
                "line 2, column 11: property \"Count\" of TFmForm takes an integer, not "
                "\"'abc'\""},
        BadCase{"boolean of the wrong kind", form("  Visible = 1"), "EReadError",
                "line 2, column 13: property \"Visible\" of TFmForm takes True or False, not "
                "\"1\""},
        BadCase{"unknown enumeration value", form("  Kind = fkNone"), "EReadError",
                "line 2, column 10: \"fkNone\" is not a value of TFmKind (property \"Kind\" of "
                "TFmForm)"},
        BadCase{"unknown set element", form("  Options = [foA, foZ]"), "EReadError",
                "line 2, column 19: \"foZ\" is not a value of TFmOption (property \"Options\" "
                "of TFmForm)"},
        BadCase{"unterminated set", form("  Options = [foA foB]"), "EReadError",
                "line 2, column 18: \",\" or \"]\" expected in a set, found \"foB\""},
        BadCase{"unknown class", form("  object B: TNoSuch\n  end"), "EClassNotFound",
                "line 2, column 13: class \"TNoSuch\" not found"},
        BadCase{"unknown method", form("  OnShow = FormHide"), "EReadError",
                "line 2, column 12: method \"FormHide\" not found in TFmForm (event \"OnShow\" "
                "of TFmForm)"},
        BadCase{"method of another shape", form("  OnShow = WrongShape"), "EReadError",
                "line 2, column 12: method \"WrongShape\" of TFmForm does not fit event "
                "\"OnShow\" of TFmForm"},
        BadCase{"one end too many", "object Form1: TFmForm\nend\nend\n", "EReadError",
                "line 3, column 1: text after the end of the form: \"end\""},
        BadCase{"missing end", "object Form1: TFmForm\n  Title = 'x'\n", "EReadError",
                "line 3, column 1: unexpected end of text, \"end\" expected"},
        BadCase{"missing end of an item", form("  Commands = <\n    item\n      Name = 'x'\n"),
                "EReadError", "line 7, column 1: unexpected end of text in a collection"},
        BadCase{"bad hex digit", form("  Logo = {12G4}"), "EReadError",
                "line 2, column 13: invalid character \"G\" in binary data"},
        BadCase{"odd hex digits", form("  Logo = {123}"), "EReadError",
                "line 2, column 14: odd number of hex digits in binary data"},
        BadCase{"truncated binary", "object Form1: TFmForm\n  Logo = {12", "EReadError",
                "line 2, column 13: unexpected end of text in binary data"},
        BadCase{"unterminated string", form("  Title = 'abc"), "EReadError",
                "line 2, column 11: unterminated string"},
        BadCase{"string that is not UTF-8",
                form("  Title = 'a\xFF"
                     "b'"),
                "EReadError",
                "line 2, column 13: string holds a byte that is not valid UTF-8 (#$FF)"},
        BadCase{"overlong UTF-8", form("  Title = '\xC0\xAF'"), "EReadError",
                "line 2, column 12: string holds a byte that is not valid UTF-8 (#$C0)"},
        BadCase{"character code out of range", form("  Title = #1114112"), "EReadError",
                "line 2, column 11: character code \"#1114112\" out of range"},
        BadCase{"surrogate character code", form("  Title = #$D800"), "EReadError",
                "line 2, column 11: character code \"#$D800\" out of range"},
        BadCase{"number out of range", form("  Count = 99999999999999999999"), "EReadError",
                "line 2, column 11: number \"99999999999999999999\" out of range"},
        BadCase{"number too big for the property", form("  Tiny = 256"), "EReadError",
                "line 2, column 10: value \"256\" out of range for property \"Tiny\" of TFmForm"},
        BadCase{"negative number for an unsigned property", form("  Settings.Limit = -1"),
                "EReadError",
                "line 2, column 20: value \"-1\" out of range for property \"Limit\" of "
                "TFmSettings"},
        BadCase{"malformed number", form("  Count = 12ab"), "EReadError",
                "line 2, column 11: invalid number \"12ab\""},
        BadCase{"unknown component", form("  Main = Nobody"), "EReadError",
                "line 2, column 10: unknown component \"Nobody\" (property \"Main\" of TFmForm)"},
        BadCase{"component of the wrong class", form("  Main = Form1"), "EReadError",
                "line 2, column 10: component \"Form1\" is a TFmForm; property \"Main\" of "
                "TFmForm takes a TFmWidget"},
        BadCase{"form of another class", "object W: TFmWidget\nend\n", "EReadError",
                "line 1, column 11: a form of class TFmWidget cannot be read into a TFmForm"},
        BadCase{"duplicate component name",
                form("  object B: TFmWidget\n  end\n  object B: TFmWidget\n  end"),
                "EComponentError", "line 4, column 3: A component named B already exists"},
        BadCase{"component nested in itself",
                form("  object A: TFmWidget\n    inherited A: TFmWidget\n    end\n  end"),
                "EReadError", "line 3, column 5: component \"A\" cannot be nested in itself"},
        BadCase{"item junk", form("  Commands = <foo>"), "EReadError",
                "line 2, column 15: \"item\" or \">\" expected, found \"foo\""},
        BadCase{"sub-object given a value", form("  Settings = 3"), "EReadError",
                "line 2, column 14: property \"Settings\" of TFmForm takes no value of its own; "
                "set its properties as Settings.Name = ..."},
        BadCase{"sub-object that is no collection", form("  Settings = <>"), "EReadError",
                "line 2, column 14: property \"Settings\" of TFmForm is not a collection"},
        BadCase{"unexpected character", form("  Title = @"), "EReadError",
                "line 2, column 11: unexpected character \"@\""},
        BadCase{"missing equals sign", form("  Title 'x'"), "EReadError",
                "line 2, column 9: \"=\" expected after \"Title\", found \"'x'\""},
        BadCase{"string joined with nothing", form("  Title = 'a' + 3"), "EReadError",
                "line 2, column 17: a string expected after \"+\", found \"3\""},
        BadCase{"no header", "Title = 'x'\n", "EReadError",
                "line 1, column 1: \"object\" expected, found \"Title\""},
        BadCase{"empty text", "", "EReadError",
                "line 1, column 1: \"object\" expected, found end of text"},
        BadCase{"columns count characters, not bytes", form("  Title = '\u00E9\u00E9' x"),
                "EReadError", "line 2, column 16: unknown property \"x\" of TFmForm"},
        BadCase{"a long offending text is shortened",
                form("  Count = '" + std::string(100, 'a') + "'"), "EReadError",
                "line 2, column 11: property \"Count\" of TFmForm takes an integer, not \"'" +
                    std::string(39, 'a') + "...\""}),
    [](const testing::TestParamInfo<BadCase>& info) {
      std::string name;
      for (char ch : std::string(info.param.what))
        name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return name;
    });

TEST_F(FormReading, AFailureAfterComponentsWereCreatedFreesThemAll) {
  TFmForm root(nullptr);
  std::string text = kRichForm;
  text.insert(text.rfind("end"), "  Settings.Source = Missing\n");
  try {
    ReadComponentFromText(text, &root);
    FAIL() << "no exception";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "line 57, column 21: unknown component \"Missing\" (property "
                           "\"Source\" of TFmSettings)");
  }
  EXPECT_EQ(root.ComponentCount(), 0);
  EXPECT_EQ(fmLiveWidgets, liveBefore_);
  EXPECT_TRUE(fmLog.empty()) << "Loaded must not run for a failed load";
}

TEST_F(FormReading, EveryTruncationOfAFormIsAnErrorNeverACrash) {
  std::string text = kRichForm;
  ASSERT_EQ(text.substr(text.size() - 4), "end\n");
  for (std::size_t len = 0; len + 1 < text.size(); ++len) {
    TFmForm root(nullptr);
    try {
      ReadComponentFromText(std::string_view(text).substr(0, len), &root);
      ADD_FAILURE() << "no exception at length " << len;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message().rfind("line ", 0), 0u) << e.Message();
    }
    ASSERT_EQ(root.ComponentCount(), 0) << "at length " << len;
  }
}

TEST_F(FormReading, DeepNestingIsRefusedBeforeTheStackRunsOut) {
  std::string text = "object Form1: TFmForm\n";
  const int levels = 300;
  for (int i = 0; i < levels; ++i)
    text += "object W" + std::to_string(i) + ": TFmWidget\n";
  for (int i = 0; i <= levels; ++i)
    text += "end\n";
  TFmForm root(nullptr);
  try {
    ReadComponentFromText(text, &root);
    FAIL() << "no exception";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "line 257, column 1: nesting deeper than 256 levels");
  }
  EXPECT_EQ(root.ComponentCount(), 0);

  std::string fine = "object Form1: TFmForm\n";
  for (int i = 0; i < 200; ++i)
    fine += "object W" + std::to_string(i) + ": TFmWidget\n";
  for (int i = 0; i <= 200; ++i)
    fine += "end\n";
  ReadComponentFromText(fine, &root);
  EXPECT_EQ(root.ComponentCount(), 200);
}

TEST_F(FormReading, ErrorsNameTheSource) {
  TFmForm root(nullptr);
  try {
    TReader reader("object F: TFmForm\n  Nope = 1\nend\n", "Main.kfm");
    reader.ReadRootComponent(&root);
    FAIL() << "no exception";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Main.kfm: line 2, column 3: unknown property \"Nope\" of TFmForm");
  }
}

} // namespace
