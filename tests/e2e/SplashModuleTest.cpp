// The Splash module as its stored data declares it: loaded in this process by a
// manager of the shared framework, as any host would, and inspected.
#include <gtest/gtest.h>
#include <keltk/Graphics.h>
#include <keltk/Object.h>
#include <keltk/Strings.h>
#include <kelvarin/manager.h>
#include <kelvarin/plugin.h>
#include <set>

using namespace kelvarin;

namespace {

struct Declared {
  std::string name, caption, hint;
  std::vector<std::pair<std::string, TParamType>> params;
};

class SplashModuleTest : public ::testing::Test {
protected:
  void SetUp() override {
    manager_.reset(keltk::CreateObject<TulmKelMan>(nullptr));
    manager_->Log()->SetDumpOn(doNever); // no log file next to the test program
    const TKelMethodResult result = manager_->LoadPlugin(KELVARIN_SPLASH, &plugin_);
    ASSERT_TRUE(result.Success) << result.ErrorMsg;
    ASSERT_NE(plugin_, nullptr);
  }
  void TearDown() override { manager_.reset(); }

  keltk::ObjectPtr<TulmKelMan> manager_;
  TulmKel* plugin_ = nullptr;
};

} // namespace

TEST_F(SplashModuleTest, IdentityAndSettingsComeFromItsStoredData) {
  EXPECT_EQ(plugin_->ClassName(), "TkelSplash");
  EXPECT_EQ(plugin_->Name(), "kelSplash");
  EXPECT_EQ(plugin_->DeepName(), "Splash Screen");
  EXPECT_EQ(plugin_->Version(), "1.01");
  ASSERT_EQ(plugin_->Description()->Count(), 1);
  EXPECT_EQ(plugin_->Description()->Strings(0), "Provides a Splash Screen for Applications.");
  EXPECT_FALSE(plugin_->Author().empty());
  EXPECT_NE(plugin_->Copyright().find("2004"), std::string::npos);
  EXPECT_EQ(plugin_->MaxInstances(), 1);
  EXPECT_TRUE(plugin_->PropsToMonitor().empty());
  EXPECT_FALSE(plugin_->MenuMerging()->Automatic());
  EXPECT_EQ(plugin_->MenuMerging()->MergeType(), mtCreateChildItem);
  EXPECT_EQ(plugin_->MenuMerging()->TargetMenu(), tmPluginsTopLevelMenu);
  EXPECT_EQ(plugin_->MenuMerging()->SourceMenu(), nullptr);
  EXPECT_TRUE(plugin_->OnInitialize());
  EXPECT_TRUE(plugin_->OnFinalize());
}

TEST_F(SplashModuleTest, DeclaresItsThreeCommandsInOrder) {
  const std::vector<Declared> expected = {
      {"Startup_Gauge",
       "Startup",
       "Initializes the progress metter",
       {{"Min", ptInteger}, {"Max", ptInteger}}},
      {"Increment_Gauge",
       "Increment",
       "Increases the progress metter",
       {{"Message", ptAnsiString}}},
      {"Hide_Splash", "Hide", "Hides the splash form", {}},
  };
  TCommands* commands = plugin_->Commands();
  ASSERT_EQ(commands->Count(), 3);
  for (int i = 0; i < 3; ++i) {
    const TCommand* command = commands->Items(i);
    const Declared& want = expected[static_cast<std::size_t>(i)];
    SCOPED_TRACE(want.name);
    EXPECT_EQ(command->Name(), want.name);
    EXPECT_EQ(command->Caption(), want.caption);
    EXPECT_EQ(command->Hint(), want.hint);
    EXPECT_TRUE(command->CheckParamType());
    EXPECT_TRUE(command->CheckParamCount());
    EXPECT_TRUE(command->AllowNullInAllParams());
    EXPECT_TRUE(command->OnCommand());
    ASSERT_EQ(command->Params()->Count(), static_cast<int>(want.params.size()));
    for (int p = 0; p < command->Params()->Count(); ++p) {
      EXPECT_EQ(command->Params()->Items(p)->ParamName(), want.params[std::size_t(p)].first);
      EXPECT_EQ(command->Params()->Items(p)->ParamType(), want.params[std::size_t(p)].second);
    }
  }
  EXPECT_TRUE(commands->Items(1)->Bitmap()->Empty());
  EXPECT_TRUE(commands->Items(2)->Bitmap()->Empty());
}

TEST_F(SplashModuleTest, FirstCommandsGlyphIsTwoPicturesOnDarkCyan) {
  const keltk::TBitmap* glyph = plugin_->Commands()->Items(0)->Bitmap();
  ASSERT_EQ(glyph->Width(), 36);
  ASSERT_EQ(glyph->Height(), 18);
  EXPECT_EQ(glyph->PixelFormat(), keltk::pf4bit);
  constexpr std::uint32_t teal = 0xFF008080;
  constexpr std::uint32_t yellow = 0xFFFFFF00;
  EXPECT_EQ(glyph->Pixel(0, 17), teal); // the transparent colour
  std::set<std::uint32_t> left, right;
  for (int y = 0; y < 18; ++y)
    for (int x = 0; x < 18; ++x) {
      left.insert(glyph->Pixel(x, y));
      right.insert(glyph->Pixel(18 + x, y));
    }
  EXPECT_TRUE(left.contains(yellow));
  EXPECT_TRUE(left.contains(0xFFFFFFFF));
  EXPECT_TRUE(left.contains(0xFF000000));
  // The disabled picture: greys only, on the same background.
  for (std::uint32_t colour : right) {
    if (colour == teal) continue;
    const std::uint32_t r = colour >> 16 & 0xFF, g = colour >> 8 & 0xFF, b = colour & 0xFF;
    EXPECT_TRUE(r == g && g == b) << std::hex << colour;
  }
  // Same shapes: a pixel is background on the left exactly when it is on the right.
  for (int y = 0; y < 18; ++y)
    for (int x = 0; x < 18; ++x)
      EXPECT_EQ(glyph->Pixel(x, y) == teal, glyph->Pixel(18 + x, y) == teal) << x << "," << y;
}
