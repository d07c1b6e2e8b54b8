// Ten thousand loads and unloads of one plug-in: resident memory and open file
// descriptors after the first hundred cycles and at the end.
//   lifecycle_soak [cycles] [--quiet-log]
// --quiet-log logs nothing (the log keeps every entry it records, by design, so
// with the default settings memory grows by the entries' size).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <keltk/Application.h>
#include <kelvarin/kelvarin.h>
#include <string>
#include <unistd.h>

namespace {

long residentKiB() {
  long pages = 0, resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

int openDescriptors() {
  int count = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (const dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ++count;
    ::closedir(d);
  }
  return count - 1; // the listing's own
}

} // namespace

int main(int argc, char** argv) {
  using namespace kelvarin;
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 10000;
  const bool quiet = argc > 2 && std::strcmp(argv[2], "--quiet-log") == 0;
  const std::string path = std::string(KELVARIN_FIXTURE_DIR) + "/Minimal.kel";

  keltk::ObjectPtr<TulmKelMan> manager(keltk::CreateObject<TulmKelMan>(nullptr));
  manager->Log()->SetDumpOn(doNever);
  if (quiet) manager->Log()->SetItemsToLog({});
  long rss100 = 0;
  int fds100 = 0;
  for (int i = 1; i <= cycles; ++i) {
    TulmKel* plugin = nullptr;
    const TKelMethodResult r = manager->LoadPlugin(path, &plugin);
    if (!r.Success) {
      std::fprintf(stderr, "cycle %d: %s\n", i, r.ErrorMsg.c_str());
      return 1;
    }
    if (const TKelMethodResult u = manager->UnloadPlugin(plugin); !u.Success) {
      std::fprintf(stderr, "cycle %d: %s\n", i, u.ErrorMsg.c_str());
      return 1;
    }
    if (i == 100) {
      rss100 = residentKiB();
      fds100 = openDescriptors();
    }
  }
  std::printf("log: %s, cycles: %d, log entries: %zu\n", quiet ? "nothing" : "default settings",
              cycles, manager->Log()->Entries().Count());
  std::printf("after 100 cycles: resident %ld KiB, open descriptors %d\n", rss100, fds100);
  std::printf("after %d cycles: resident %ld KiB, open descriptors %d\n", cycles, residentKiB(),
              openDescriptors());
  return 0;
}
