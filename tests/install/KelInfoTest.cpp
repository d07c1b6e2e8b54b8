// kelinfo's reader on real modules of this build and on files that are not
// plug-in modules: every failure is a MetadataError or an EReadError, never a crash.
#include "FormTree.h"
#include "ModuleMetadata.h"
#include "PluginSummary.h"
#include "TestFiles.h"

#include <climits>
#include <cstring>
#include <filesystem>
#include <fmt/format.h>
#include <fstream>
#include <gtest/gtest.h>
#include <keltk/Exception.h>
#include <keltk/SysUtils.h>
#include <optional>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelinfo {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

// The whole of a file of this build; one that cannot be read fails the test.
Bytes fileBytes(const std::string& path) {
  std::string why;
  const std::optional<std::string> text = keltk::ReadRegularFile(path, std::size_t{1} << 30, why);
  if (!text) throw std::runtime_error(path + ": " + (why.empty() ? "no such file" : why));
  return bytesOf(*text);
}

std::string errorOf(std::span<const std::uint8_t> file) {
  try {
    Summarize(ReadModuleMetadata(file));
  } catch (const MetadataError& e) {
    return e.what();
  } catch (const keltk::Exception& e) {
    return "form: " + e.Message();
  }
  return "no error";
}

TEST(KelInfoTest, ReadsSplashWithoutLoadingIt) {
  const ModuleMetadata meta = ReadModuleMetadata(fileBytes(KELVARIN_SPLASH_MODULE));
  EXPECT_EQ(meta.versionRecord, "ProdVersion=1.0.01.428\r\n");
  ASSERT_EQ(meta.forms.size(), 2u); // the plug-in's and the splash window's
  const PluginSummary s = Summarize(meta);
  EXPECT_EQ(s.frameworkVersion, "1.0.01.428");
  EXPECT_EQ(s.pluginClass, "TkelSplash");
  EXPECT_EQ(s.deepName, "Splash Screen");
  EXPECT_EQ(s.version, "1.01");
  EXPECT_EQ(s.author, "Tamsin Ulmara");
  EXPECT_EQ(s.description, std::vector<std::string>{"Provides a Splash Screen for Applications."});
  EXPECT_EQ(s.maxInstances, 1);
  EXPECT_FALSE(s.menuMerging.automatic);
  EXPECT_EQ(s.menuMerging.mergeType, "mtCreateChildItem");
  EXPECT_EQ(s.menuMerging.targetMenu, "tmPluginsTopLevelMenu");
  ASSERT_EQ(s.commands.size(), 3u);
  EXPECT_EQ(s.commands[0].name, "Startup_Gauge");
  ASSERT_EQ(s.commands[0].params.size(), 2u);
  EXPECT_EQ(s.commands[0].params[1].name, "Max");
  EXPECT_EQ(s.commands[0].params[1].type, "ptInteger");
  EXPECT_EQ(s.commands[1].params[0].type, "ptAnsiString");
  EXPECT_TRUE(s.commands[2].params.empty());
}

TEST(KelInfoTest, DefaultsForWhatAFormDoesNotStore) {
  const PluginSummary s = Summarize(ReadModuleMetadata(fileBytes(KELVARIN_DONOTHING_MODULE)));
  EXPECT_EQ(s.pluginClass, "TkelDoNothing");
  EXPECT_EQ(s.maxInstances, 1);
  EXPECT_EQ(s.menuMerging.mergeType, "mtCreateChildItem");
  EXPECT_EQ(s.menuMerging.targetMenu, "tmPluginsTopLevelMenu");
  EXPECT_TRUE(s.commands.empty());
  EXPECT_NE(FormatText(s).find("Commands: 0\n"), std::string::npos);
}

TEST(KelInfoTest, ALibraryWithoutTheSectionIsNotAModule) {
  EXPECT_EQ(errorOf(fileBytes(KELVARIN_TOOLKIT_LIBRARY)),
            "no .kelvarin.meta section: not a Kelvarin plug-in module");
}

TEST(KelInfoTest, FilesThatAreNotElf) {
  EXPECT_EQ(errorOf(bytesOf("")), "not an ELF file");
  EXPECT_EQ(errorOf(bytesOf("object x: TFoo\nend\n")), "not an ELF file");
  EXPECT_EQ(errorOf(bytesOf("\x7F"
                            "ELF")),
            "truncated ELF header");
  Bytes header(64, 0);
  std::memcpy(header.data(),
              "\x7F"
              "ELF",
              4);
  header[4] = 1; // 32-bit
  header[5] = 1;
  EXPECT_EQ(errorOf(header), "not a 64-bit little-endian ELF file");
}

TEST(KelInfoTest, EveryTruncationOfAModuleFailsCleanly) {
  const Bytes whole = fileBytes(KELVARIN_SPLASH_MODULE);
  // Cuts at the front, then spread over the file (the section table is at the end).
  std::vector<std::size_t> cuts = {0, 1, 4, 16, 63, 64, 65};
  for (std::size_t i = 1; i < 200; ++i)
    cuts.push_back(whole.size() * i / 200);
  for (std::size_t k = 1; k <= 64; ++k)
    cuts.push_back(whole.size() - k);
  for (std::size_t cut : cuts) {
    const std::span<const std::uint8_t> part(whole.data(), cut);
    EXPECT_NE(errorOf(part), "no error") << "cut at " << cut;
  }
}

TEST(KelInfoTest, HeaderFieldsPointingOutsideTheFile) {
  Bytes file = fileBytes(KELVARIN_SPLASH_MODULE);
  Bytes badTable = file;
  for (int i = 0; i < 8; ++i)
    badTable[0x28 + i] = 0xFF; // section table offset
  EXPECT_EQ(errorOf(badTable), "truncated section table");
  Bytes badEntry = file;
  badEntry[0x3A] = 40; // section header size
  EXPECT_EQ(errorOf(badEntry), "unexpected section header size");
  Bytes badNames = file;
  badNames[0x3E] = 0xFF; // name table index
  badNames[0x3F] = 0xFF;
  EXPECT_EQ(errorOf(badNames), "no section name table");
}

// The dynamic entry `tag` of an ELF64 module's bytes (patched when `value` is
// given); its old value.
std::uint64_t dynamicEntry(Bytes& file, std::int64_t tag, std::optional<std::uint64_t> value = {}) {
  auto at = [&](std::size_t offset, auto type) {
    decltype(type) v{};
    std::memcpy(&v, file.data() + offset, sizeof v);
    return v;
  };
  const auto phoff = at(0x20, std::uint64_t{});
  for (std::uint16_t i = 0; i < at(0x38, std::uint16_t{}); ++i) {
    const std::size_t ph = phoff + i * std::size_t{56};
    if (at(ph, std::uint32_t{}) != 2) continue; // PT_DYNAMIC
    for (std::size_t d = at(ph + 8, std::uint64_t{}); at(d, std::int64_t{}) != 0; d += 16) {
      if (at(d, std::int64_t{}) != tag) continue;
      const std::uint64_t old = at(d + 8, std::uint64_t{});
      if (value) std::memcpy(file.data() + d + 8, &*value, 8);
      return old;
    }
  }
  throw std::runtime_error("no such dynamic entry");
}

std::string fileError(const std::string& path) {
  try {
    ReadModuleMetadataFile(path);
  } catch (const MetadataError& e) {
    return e.what();
  }
  return "no error";
}

// Damaged modules that would crash the loader, and modules of another machine,
// are refused with the reason the manager gives too.
TEST(KelInfoTest, ModulesTheLoaderMustNotSeeAreRefused) {
  const std::string path = ::testing::TempDir() + "kelinfo-damaged.kel";
  const Bytes whole = fileBytes(KELVARIN_SPLASH_MODULE);
  Bytes probe = whole;
  const std::uint64_t strtab = dynamicEntry(probe, 5); // DT_STRTAB
  const std::uint64_t strsz = dynamicEntry(probe, 10); // DT_STRSZ
  const std::uint64_t rela = dynamicEntry(probe, 7);   // DT_RELA
  const std::uint64_t init = dynamicEntry(probe, 25);  // DT_INIT_ARRAY
  const struct {
    std::int64_t tag;
    std::uint64_t value;
    std::string reason;
  } cases[] = {
      {5, 0x7FFF0000,
       fmt::format("DT_STRTAB (0x7fff0000) with DT_STRSZ ({}) reaches outside the "
                   "loaded segments",
                   strsz)},
      {10, 1u << 30,
       fmt::format("DT_STRTAB (0x{:x}) with DT_STRSZ (1073741824) reaches outside "
                   "the loaded segments",
                   strtab)},
      {8, 1ull << 40,
       fmt::format("DT_RELA (0x{:x}) with DT_RELASZ (1099511627776) reaches "
                   "outside the loaded segments",
                   rela)},
      {27, 1u << 20,
       fmt::format("DT_INIT_ARRAY (0x{:x}) with DT_INIT_ARRAYSZ (1048576) reaches "
                   "outside the loaded segments",
                   init)},
      {0, 183, "a module for aarch64; this host is x86-64"}, // e_machine
  };
  for (const auto& c : cases) {
    Bytes file = whole;
    if (c.tag == 0)
      std::memcpy(file.data() + 0x12, &c.value, 2);
    else
      dynamicEntry(file, c.tag, c.value);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    EXPECT_EQ(fileError(path), c.reason);
  }
  std::remove(path.c_str());
}

// Only the headers and the metadata are read: a huge sparse file costs nothing,
// and what is no regular file is not waited on.
TEST(KelInfoTest, FilesAreNeverReadWhole) {
  const std::string sparse = ::testing::TempDir() + "kelinfo-sparse.kel";
  std::ofstream(sparse).put('\x7F');
  ASSERT_EQ(::truncate(sparse.c_str(), 100LL << 30), 0);
  EXPECT_EQ(fileError(sparse), "not an ELF file");
  std::remove(sparse.c_str());
  // Nor is it opened: opening a device may act on it.
  const std::string fifo = ::testing::TempDir() + "kelinfo-fifo.kel";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(::inotify_add_watch(watch, fifo.c_str(), IN_OPEN), 0);
  EXPECT_EQ(fileError(fifo), "not a regular file");
  char event[sizeof(inotify_event) + NAME_MAX + 1];
  EXPECT_EQ(::read(watch, event, sizeof event), -1) << "the fifo was opened";
  ::close(watch);
  std::remove(fifo.c_str());
  EXPECT_EQ(fileError("/"), "not a regular file");
  EXPECT_EQ(fileError("/dev/zero"), "not a regular file");
  EXPECT_EQ(fileError(KELVARIN_SPLASH_MODULE), "no error");
  EXPECT_EQ(fileError("/nonexistent/file.kel"), "cannot open the file: No such file or directory");
}

// A copy of `file` whose metadata section is `meta`, laid after the file's end.
Bytes withMetadata(Bytes file, std::string_view meta) {
  const std::span<const std::uint8_t> old = FindElfSection(file, kMetadataSection);
  const auto oldOffset = static_cast<std::uint64_t>(old.data() - file.data());
  const std::uint64_t offset = file.size();
  const std::uint64_t size = meta.size();
  std::uint64_t table = 0;
  std::uint16_t count = 0;
  std::memcpy(&table, file.data() + 0x28, 8);
  std::memcpy(&count, file.data() + 0x3C, 2);
  for (std::size_t at = table; at < table + count * std::size_t{64}; at += 64) {
    if (std::memcmp(file.data() + at + 24, &oldOffset, 8) != 0) continue;
    std::memcpy(file.data() + at + 24, &offset, 8);
    std::memcpy(file.data() + at + 32, &size, 8);
  }
  file.insert(file.end(), meta.begin(), meta.end());
  return file;
}

// What one module's metadata may cost is bounded in counts, not only in bytes:
// a module past a bound is damaged and read no further.
TEST(KelInfoTest, MetadataPastItsBoundsIsDamaged) {
  auto record = [](std::string_view word, std::string_view body) {
    return fmt::format("{} {}\n{}\n", word, body.size(), body);
  };
  const std::string head = "KELVARIN-META 1\n" + record("version", "ProdVersion=1.0.01.428\r\n");
  std::string emptyLines;
  for (std::size_t i = 0; i <= kelvarin::kMaxFormEntries; ++i)
    emptyLines += "'' ";
  std::string manyForms = head;
  for (int i = 0; i <= 1000; ++i)
    manyForms += record("form", "");
  const struct {
    std::string meta;
    std::string reason;
  } cases[] = {
      {head + record("form",
                     "object kelX: TkelX\n  Description.Strings = (" + emptyLines + ")\nend\n"),
       "its forms hold more than 250000 values; no plug-in needs that many"},
      {manyForms, "more than 1000 forms in the metadata"},
  };
  const std::string path = ::testing::TempDir() + "kelinfo-costly.kel";
  for (const auto& c : cases) {
    const Bytes file = withMetadata(fileBytes(KELVARIN_DONOTHING_MODULE), c.meta);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    const kelvarin::TPluginFileInfo info = kelvarin::DescribePluginFile(path);
    EXPECT_EQ(info.State, kelvarin::TPluginFileState::Damaged);
    EXPECT_EQ(info.Reason, c.reason);
  }
  std::remove(path.c_str());
}

// kelinfo itself on folders: one it cannot read fails with the reason; links
// that lead nowhere are listed as what they are. Root reads any folder, so the
// program runs as nobody then.
TEST(KelInfoTest, FoldersItCannotReadFailAndBrokenLinksAreListed) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(::testing::TempDir()) / "kelinfo-folders";
  fs::remove_all(dir);
  fs::create_directories(dir / "links");
  fs::create_directory(dir / "locked");
  fs::permissions(dir, fs::perms::all);
  fs::permissions(dir / "locked", fs::perms::none);
  fs::create_symlink("missing.kel", dir / "links" / "Dangling.kel");
  fs::create_symlink("Loop.kel", dir / "links" / "Loop.kel");
  // A copy the other user can run wherever the build lies.
  fs::copy_file(KELVARIN_KELINFO, dir / "kelinfo");
  std::string as;
  if (::geteuid() == 0) {
    if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "no setpriv to drop root with";
    as = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups ";
  }
  auto kelinfo = [&](const fs::path& folder) {
    const auto run = kelvarin::testsupport::runCommand(as + (dir / "kelinfo").string() + " " +
                                                       folder.string() + " 2>&1");
    return std::pair{run.status, run.output};
  };
  EXPECT_EQ(kelinfo(dir / "locked"),
            std::pair(1, "kelinfo: " + (dir / "locked").string() +
                             ": cannot read the folder: Permission denied\n"));
  EXPECT_EQ(kelinfo(dir / "links"),
            std::pair(0, std::string("Dangling.kel: damaged\n"
                                     "  Reason:            a dangling link: \"missing.kel\" does "
                                     "not exist\n"
                                     "\n"
                                     "Loop.kel: damaged\n"
                                     "  Reason:            a looping link: following it never "
                                     "ends at a file\n")));
  fs::permissions(dir / "locked", fs::perms::owner_all);
  fs::remove_all(dir);
}

TEST(KelInfoTest, MalformedMetadataRecords) {
  auto parse = [](std::string_view text) -> std::string {
    try {
      ParseMetadata(bytesOf(text));
      return "ok";
    } catch (const MetadataError& e) {
      return e.what();
    }
  };
  EXPECT_EQ(parse("KELVARIN-META 2\n"), "unknown metadata format");
  EXPECT_EQ(parse("KELVARIN-META 1\n"), "the metadata has no version record");
  EXPECT_EQ(parse("KELVARIN-META 1\nversion 3\nabc\n"), "ok");
  EXPECT_EQ(parse("KELVARIN-META 1\nversion 99999999999999999999999\nabc\n"),
            "malformed metadata record at byte 16");
  EXPECT_EQ(parse("KELVARIN-META 1\nversion 4\nabc\n"), "malformed metadata record at byte 16");
  EXPECT_EQ(parse("KELVARIN-META 1\nversion 3\nabcX"), "malformed metadata record at byte 16");
  EXPECT_EQ(parse("KELVARIN-META 1\nversion 3\nabc\nform"), "malformed metadata record at byte 30");
  // Records a later build may add are passed over.
  EXPECT_EQ(parse("KELVARIN-META 1\nicon 2\nxy\nversion 1\nv\n"), "ok");
}

TEST(KelInfoTest, FormsWithoutPluginSettingsAreNotThePluginForm) {
  ModuleMetadata meta;
  meta.versionRecord = "ProdVersion=1.0.01.428\r\n";
  meta.forms = {"object Form1: TForm1\n  Caption = 'x'\nend\n"};
  EXPECT_THROW(Summarize(meta), MetadataError);
  meta.forms.push_back("object kelX: TkelX\n  MaxInstances = 3\n  Copyright = '(C) X'\n"
                       "  Description.Strings = (\n    'say \"hi\"' + ' twice'\n    'again')\n"
                       "  Commands = <\n    item\n      Name = 'Go'\n"
                       "      CheckParamCount = False\n    end>\nend\n");
  const PluginSummary s = Summarize(meta);
  EXPECT_EQ(s.pluginClass, "TkelX");
  EXPECT_EQ(s.maxInstances, 3);
  // Every line of the description under its label; the switches a command stores.
  EXPECT_EQ(FormatText(s), "Framework version: 1.0.01.428\n"
                           "Plug-in class:     TkelX\n"
                           "DeepName:          \n"
                           "Version:           \n"
                           "Author:            \n"
                           "Copyright:         (C) X\n"
                           "Description:       say \"hi\" twice\n"
                           "                   again\n"
                           "MaxInstances:      3\n"
                           "Menu merging:\n"
                           "  Automatic:       False\n"
                           "  MergeType:       mtCreateChildItem\n"
                           "  TargetMenu:      tmPluginsTopLevelMenu\n"
                           "  ValueToSearch:   \n"
                           "  SourceMenu:      \n"
                           "Commands: 1\n"
                           "  Go()\n"
                           "    Checks:  CheckParamType=True, CheckParamCount=False, "
                           "AllowNullInAllParams=True\n");
  EXPECT_EQ(FormatJson(s, "x.kel"),
            "{\n"
            "  \"file\": \"x.kel\",\n"
            "  \"frameworkVersion\": \"1.0.01.428\",\n"
            "  \"pluginClass\": \"TkelX\",\n"
            "  \"deepName\": \"\",\n"
            "  \"version\": \"\",\n"
            "  \"author\": \"\",\n"
            "  \"copyright\": \"(C) X\",\n"
            "  \"description\": [\"say \\\"hi\\\" twice\", \"again\"],\n"
            "  \"maxInstances\": 3,\n"
            "  \"menuMerging\": {\"automatic\": false, \"mergeType\": \"mtCreateChildItem\", "
            "\"targetMenu\": \"tmPluginsTopLevelMenu\", \"valueToSearch\": \"\", \"sourceMenu\": "
            "\"\"},\n"
            "  \"commands\": [\n"
            "    {\"name\": \"Go\", \"caption\": \"\", \"hint\": \"\", \"params\": [], "
            "\"checkParamType\": true, \"checkParamCount\": false, \"allowNullInAllParams\": "
            "true}\n"
            "  ]\n"
            "}\n");
}

// A module's texts cannot drive the terminal: controls, C1 controls and stray
// bytes are shown as escapes; text of other scripts stays as it is.
TEST(KelInfoTest, ControlCharactersAreShownEscaped) {
  const struct {
    std::string_view text, shown, json;
  } cases[] = {
      {"\x1b[2Jgone", "\\x1b[2Jgone", "\"\\u001b[2Jgone\""},
      {"a\tb\x7f", "a\\x09b\\x7f", "\"a\\tb\\u007f\""},
      {"\xc2\x9b"
       "31m",
       "\\u009b31m", "\"\\u009b31m\""},
      {"\x9b"
       "31m\xff",
       "\\x9b31m\\xff", "\"\\u009b31m\\u00ff\""},
      {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac", "\"caf\xc3\xa9 \xe2\x82\xac\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ShownText(c.text), c.shown);
    PluginSummary s;
    s.deepName = c.text;
    s.description = {"x", std::string(c.text)};
    EXPECT_NE(FormatText(s).find("DeepName:          " + std::string(c.shown) + "\n"),
              std::string::npos);
    EXPECT_NE(FormatText(s).find("\n                   " + std::string(c.shown) + "\n"),
              std::string::npos);
    EXPECT_NE(FormatJson(s).find("\"deepName\": " + std::string(c.json) + ","), std::string::npos)
        << FormatJson(s);
  }
}

TEST(KelInfoTest, MalformedFormTextNamesLineAndColumn) {
  try {
    ParseFormTree("object kelX: TkelX\n  DeepName = ]\nend\n");
    FAIL() << "no error";
  } catch (const keltk::EReadError& e) {
    EXPECT_EQ(e.Message(), "line 2, column 14: a value expected, found \"]\"");
  }
  EXPECT_THROW(ParseFormTree("object kelX: TkelX\n  Commands = <\n    item\n"), keltk::EReadError);
  EXPECT_THROW(ParseFormTree("object kelX: TkelX\nend\nend\n"), keltk::EReadError);
}

TEST(KelInfoTest, DeepNestingIsRefusedNotFollowed) {
  std::string deep;
  for (int i = 0; i < 10000; ++i)
    deep += "object a: T\n";
  EXPECT_THROW(ParseFormTree(deep), keltk::EReadError);
  std::string collections = "object a: T\n  P = ";
  for (int i = 0; i < 10000; ++i)
    collections += "< item P = ";
  EXPECT_THROW(ParseFormTree(collections), keltk::EReadError);
}

} // namespace
} // namespace kelinfo
