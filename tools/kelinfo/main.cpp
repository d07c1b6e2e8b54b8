// kelinfo: what a plug-in module is, read from the file without loading it.
//   kelinfo [--json] FILE.kel
//   kelinfo [--json] FOLDER      every module in FOLDER (*.kel) and its state
// Exit code 0 with the listing on standard output; 1 with the reason on standard
// error when FILE is not a plug-in module whose metadata can be read.
#include "ModuleMetadata.h"
#include "PluginSummary.h"

#include <cstdio>
#include <keltk/Exception.h>
#include <string>
#include <string_view>
#include <sys/stat.h>

int main(int argc, char** argv) {
  bool json = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--json" && !json) {
      json = true;
    } else if (path == nullptr && !arg.starts_with("--")) {
      path = argv[i];
    } else {
      path = nullptr;
      break;
    }
  }
  if (path == nullptr) {
    std::fprintf(stderr, "usage: kelinfo [--json] FILE.kel|FOLDER\n");
    return 1;
  }
  if (struct stat info{}; ::stat(path, &info) == 0 && S_ISDIR(info.st_mode)) {
    const auto list = kelvarin::DescribePluginFolder(path, "kel");
    const std::string out =
        json ? kelinfo::FormatFolderJson(list) : kelinfo::FormatFolderText(list);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
  }
  try {
    const auto summary = kelinfo::Summarize(kelinfo::ReadModuleMetadataFile(path));
    const std::string out = json ? kelinfo::FormatJson(summary) : kelinfo::FormatText(summary);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
  } catch (const kelinfo::MetadataError& e) {
    std::fprintf(stderr, "kelinfo: %s: %s\n", path, e.what());
  } catch (const keltk::Exception& e) {
    std::fprintf(stderr, "kelinfo: %s: stored form data: %s\n", path, e.Message().c_str());
  }
  return 1;
}
