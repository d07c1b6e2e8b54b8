// kelinfo: what plug-in modules are, read from their files without loading them;
// a FOLDER lists every module in it (*.kel) with its state.

// The framework's version alone: kelinfo links no framework to start.
#define KELVARIN_NO_FRAMEWORK_STARTER
#include "ModuleMetadata.h"
#include "PluginSummary.h"

#include <cstdio>
#include <keltk/Exception.h>
#include <kelvarin/Framework.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int kFileFailed = 1;
constexpr int kUsageError = 2;

constexpr const char* kUsage =
    "usage: kelinfo [--json] FILE|FOLDER...\n"
    "       kelinfo --help | --version\n"
    "Shows what plug-in modules declare (framework version, class, DeepName,\n"
    "menu merging, commands), read from the files without loading them. A FOLDER\n"
    "lists each of its modules (*.kel) with its state: loadable, other-version,\n"
    "not-a-plugin, damaged.\n"
    "  --json     JSON: one object, or an array of objects with a \"file\" key\n"
    "             when several FILEs are given\n"
    "  --help     this text, on standard output\n"
    "  --version  \"kelinfo\" and the framework version it belongs to\n"
    "  --         what follows is a FILE, even when it starts with \"-\"\n"
    "Exit status: 0 when every FILE was listed; 1 when a FILE could not be (the\n"
    "reason goes to standard error, the other FILEs are still listed); 2 for a\n"
    "wrong command line (this text on standard error).\n";

struct Options {
  bool json = false;
  bool help = false;
  bool version = false;
  std::vector<std::string> files;
};

// The command line, or nothing when it is wrong.
std::optional<Options> parse(int argc, char** argv) {
  Options o;
  bool filesOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (filesOnly || arg == "-" || !arg.starts_with("-"))
      o.files.emplace_back(arg);
    else if (arg == "--")
      filesOnly = true;
    else if (arg == "--json")
      o.json = true;
    else if (arg == "--help")
      o.help = true;
    else if (arg == "--version")
      o.version = true;
    else
      return std::nullopt;
  }
  if (!o.help && !o.version && o.files.empty()) return std::nullopt;
  return o;
}

// One FILE's listing, or its reason on standard error.
std::optional<std::string> describe(const std::string& path, const Options& o) {
  const std::string_view label = o.files.size() > 1 ? std::string_view(path) : std::string_view();
  std::string why;
  try {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
      const auto list = kelvarin::ReadPluginFolder(path, "kel");
      return o.json ? kelinfo::FormatFolderJson(list) : kelinfo::FormatFolderText(list);
    } else {
      const auto summary = kelinfo::Summarize(kelinfo::ReadModuleMetadataFile(path));
      return o.json ? kelinfo::FormatJson(summary, label) : kelinfo::FormatText(summary, label);
    }
  } catch (const kelinfo::MetadataError& e) {
    why = e.what();
  } catch (const keltk::Exception& e) {
    why = "stored form data: " + e.Message();
  }
  std::fprintf(stderr, "kelinfo: %s: %s\n", kelinfo::ShownText(path).c_str(),
               kelinfo::ShownText(why).c_str());
  return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
  const std::optional<Options> options = parse(argc, argv);
  if (!options) {
    std::fputs(kUsage, stderr);
    return kUsageError;
  }
  if (options->help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options->version) {
    std::printf("kelinfo %s\n", kelvarin::kFrameworkVersion);
    return 0;
  }
  // Several listings: text ones apart by a blank line, JSON ones in an array.
  // Each is written as soon as it is there, so that a later file's error
  // follows it.
  const bool several = options->files.size() > 1;
  const bool array = several && options->json;
  int status = 0;
  int listed = 0;
  if (array) std::fputs("[\n", stdout);
  for (const std::string& path : options->files) {
    std::optional<std::string> listing = describe(path, *options);
    if (!listing) {
      status = kFileFailed;
      continue;
    }
    if (array) {
      listing->pop_back(); // the object's line break: a comma may follow
      if (listed > 0) std::fputs(",\n", stdout);
    } else if (listed > 0) {
      std::fputs("\n", stdout);
    }
    std::fwrite(listing->data(), 1, listing->size(), stdout);
    std::fflush(stdout);
    ++listed;
  }
  if (array) std::fputs(listed > 0 ? "\n]\n" : "]\n", stdout);
  return status;
}
