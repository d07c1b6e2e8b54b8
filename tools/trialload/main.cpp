// kelvarin-trial-load FILE: maps one module the way a manager does, in a process
// of its own. The system loader crashes or aborts on some damaged files; a host
// asks this program first and is not the process it does that in.
//
// Prints "loaded" once the loader has finished. Exit status: 0 loaded, 3 the
// loader refused the file (its reason on standard error), 2 usage. Anything else
// (a signal, the loader's own exit) means the file must not be loaded.
#include "ModuleLoader.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
    std::fputs("usage: kelvarin-trial-load FILE\n", stderr);
    return 2;
  }
  // The manager's own call, without the framework: this program links none.
  if (std::string reason; kelvarin::MapWithSystemLoader(argv[1], reason) == nullptr) {
    std::fprintf(stderr, "%s\n", reason.c_str());
    return 3;
  }
  std::fputs("loaded\n", stdout);
  std::fflush(stdout);
  // The module's destructors are not part of the trial.
  ::_exit(0);
}
