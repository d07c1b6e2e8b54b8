// The GetPluginInfo export of a host program (kelvarin_export_plugin_info). It is
// compiled with the program, so it answers with the framework version of the
// headers the program was built against, not that of the library it runs with.
#include "kelvarin/Framework.h"
#include "kelvarin/PluginModule.h"

extern "C" int GetPluginInfo(char* info, int capacity, std::uint64_t token) {
  return kelvarin::AnswerPluginInfo(info, capacity, token, kelvarin::kFrameworkVersion);
}
