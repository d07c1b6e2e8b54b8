#include "keltk/Writer.h"

#include "FormModel.h"
#include "keltk/Exception.h"
#include "keltk/Reader.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace keltk;
using namespace fmtest;

namespace {

struct Stranger : TObject {
  void Ping(TObject*) {}
};

class FormWriting : public testing::Test {
protected:
  void SetUp() override { registerFormTestClasses(); }
};

TEST_F(FormWriting, ADefaultObjectWritesOnlyWhatHasNoDefaultAndEmptyCollections) {
  TFmForm form(nullptr);
  form.SetName("F");
  EXPECT_EQ(WriteComponentToText(&form), "object F: TFmForm\n"
                                         "  Options = []\n"
                                         "  Settings.Mode = fkFancy\n"
                                         "  Settings.Flags = []\n"
                                         "  Settings.Path = '%App%.log'\n"
                                         "  Commands = <>\n"
                                         "end\n");
}

// Builds a form with awkward values in every kind of property.
void fillRich(TFmForm& f) {
  f.SetName("Rich");
  f.title = std::string("quote ' tab \t nul ") + '\0' + " C1 \u0085 smile \U0001F600 end";
  f.count = INT32_MIN;
  f.big = INT64_MIN;
  f.tiny = 200;
  f.visible = false;
  f.kind = fkOdd;
  f.options = 0x0F;
  f.color = -17; // no identifier for this one
  for (int i = 0; i < 100; ++i)
    f.logo.push_back(static_cast<std::uint8_t>(i * 7));
  f.settings.mode = fkPlain;
  f.settings.flags = 1 << foD;
  f.settings.path = std::string(150, 'x') + "''" + std::string(70, 'y');
  f.settings.limit = 65535;
  f.settings.notes.lines = {"", "second", "'quoted'", std::string(80, 'z')};
  auto* w1 = new TFmWidget(&f);
  w1->SetName("W1");
  w1->caption = "first";
  w1->color = 0xFF;
  auto* w2 = new TFmWidget(&f);
  w2->SetName("W2");
  w2->SetParentComponent(w1);
  w2->buddy = w1;
  w2->onClick = TFmNotify::bind<&TFmForm::WidgetClick>(&f);
  f.main = w2;
  f.settings.source = w1;
  f.onShow = TFmNotify::bind<&TFmForm::FormShow>(&f);
  auto* c = static_cast<TFmCommand*>(f.commands.Add());
  c->name = "Run";
  c->enabled = false;
  c->weight = -1;
  c->data = {0, 1, 2};
  c->target = w2;
  c->onRun = TFmRun::bind<&TFmForm::RunCommand>(&f);
  static_cast<TFmParam*>(c->params.Add())->type = fkOdd;
  c->params.Add();
  f.commands.Add(); // all defaults
}

TEST_F(FormWriting, WritingThenReadingGivesBackEveryValue) {
  TFmForm original(nullptr);
  fillRich(original);
  std::string text = WriteComponentToText(&original);

  TFmForm copy(nullptr);
  ReadComponentFromText(text, &copy);
  EXPECT_EQ(copy.Name(), "Rich");
  EXPECT_EQ(copy.title, original.title);
  EXPECT_EQ(copy.count, original.count);
  EXPECT_EQ(copy.big, original.big);
  EXPECT_EQ(copy.tiny, original.tiny);
  EXPECT_EQ(copy.visible, original.visible);
  EXPECT_EQ(copy.kind, original.kind);
  EXPECT_EQ(copy.options, original.options);
  EXPECT_EQ(copy.color, original.color);
  EXPECT_EQ(copy.logo, original.logo);
  EXPECT_EQ(copy.settings.mode, original.settings.mode);
  EXPECT_EQ(copy.settings.flags, original.settings.flags);
  EXPECT_EQ(copy.settings.path, original.settings.path);
  EXPECT_EQ(copy.settings.limit, original.settings.limit);
  EXPECT_EQ(copy.settings.notes.lines, original.settings.notes.lines);

  auto* w1 = ObjectAs<TFmWidget>(copy.FindComponent("W1"));
  auto* w2 = ObjectAs<TFmWidget>(copy.FindComponent("W2"));
  ASSERT_TRUE(w1 && w2);
  EXPECT_EQ(w1->caption, "first");
  EXPECT_EQ(w1->color, 0xFF);
  EXPECT_EQ(w2->parent, w1);
  EXPECT_EQ(w2->buddy, w1);
  EXPECT_EQ(copy.main, w2);
  EXPECT_EQ(copy.settings.source, w1);
  ASSERT_TRUE(w2->onClick);
  EXPECT_EQ(w2->onClick.data(), &copy);
  EXPECT_TRUE(copy.onShow.sameCode(original.onShow));

  ASSERT_EQ(copy.commands.Count(), 2);
  auto* c = static_cast<TFmCommand*>(copy.commands.Items(0));
  EXPECT_EQ(c->name, "Run");
  EXPECT_FALSE(c->enabled);
  EXPECT_EQ(c->weight, -1);
  EXPECT_EQ(c->data, (std::vector<std::uint8_t>{0, 1, 2}));
  EXPECT_EQ(c->target, w2);
  EXPECT_EQ(c->onRun(c), -1);
  ASSERT_EQ(c->params.Count(), 2);
  EXPECT_EQ(static_cast<TFmParam*>(c->params.Items(0))->type, fkOdd);
  EXPECT_EQ(static_cast<TFmParam*>(c->params.Items(1))->name, "Param_1");
  auto* plain = static_cast<TFmCommand*>(copy.commands.Items(1));
  EXPECT_EQ(plain->name, "Command_1");
  EXPECT_TRUE(plain->enabled);
  EXPECT_EQ(plain->params.Count(), 0);

  EXPECT_EQ(WriteComponentToText(&copy), text); // and the text is stable
}

TEST_F(FormWriting, TextEscapesAndLineSplitting) {
  TFmForm form(nullptr);
  form.SetName("F");
  form.title = "a'b\r\n\u0085c";
  form.settings.path = std::string(70, 'p');
  form.settings.notes.lines = {"x"};
  form.logo.assign(40, 0xAB);
  std::string text = WriteComponentToText(&form);
  EXPECT_NE(text.find("  Title = 'a''b'#13#10#133'c'\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  Settings.Path = '" + std::string(64, 'p') + "' +\n    '" +
                      std::string(6, 'p') + "'\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("  Settings.Notes.Strings = (\n    'x')\n"), std::string::npos) << text;
  std::string hexLine;
  for (int i = 0; i < 32; ++i)
    hexLine += "AB";
  EXPECT_NE(text.find("  Logo = {\n    " + hexLine + "\n    ABABABABABABABAB}\n"),
            std::string::npos)
      << text;
}

TEST_F(FormWriting, TextThatIsNotUtf8CannotBeWritten) {
  TFmForm form(nullptr);
  form.SetName("F");
  form.title = "caf\xE9";
  try {
    WriteComponentToText(&form);
    FAIL() << "no exception";
  } catch (const EWriteError& e) {
    EXPECT_EQ(
        e.Message(),
        "cannot write property \"Title\" of TFmForm: byte #$E9 at offset 3 is not UTF-8 text");
  }
  EXPECT_FALSE(form.HasState(csWriting));
}

TEST_F(FormWriting, ReferencesOutsideTheFormAndUnpublishedHandlersAreRefused) {
  TFmForm form(nullptr), other(nullptr);
  form.SetName("F");
  auto* stranger = new TFmWidget(&other);
  stranger->SetName("Stranger");
  form.main = stranger;
  try {
    WriteComponentToText(&form);
    FAIL() << "no exception";
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message(), "cannot write property \"Main\" of TFmForm: component \"Stranger\" "
                           "does not belong to the form");
  }
  form.main = nullptr;

  Stranger handler;
  form.onShow = TFmNotify::bind<&Stranger::Ping>(&handler);
  try {
    WriteComponentToText(&form);
    FAIL() << "no exception";
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message(), "cannot write property \"OnShow\" of TFmForm: the handler is no "
                           "published method of TFmForm");
  }
}

TEST_F(FormWriting, WriteDataAloneWritesTheBody) {
  TFmWidget w(nullptr);
  w.caption = "solo";
  TWriter writer;
  writer.WriteData(&w);
  EXPECT_EQ(writer.Text(), "  Caption = 'solo'\nend\n");
}

} // namespace
