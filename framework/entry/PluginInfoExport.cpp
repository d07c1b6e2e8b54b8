// The GetPluginInfo export of one module. Linked into every plug-in module and
// host program (kelvarin_add_plugin, kelvarin_export_plugin_info); it answers
// with the framework copy that its module is linked with.
#include "kelvarin/PluginModule.h"

extern "C" int GetPluginInfo(char* info, int capacity, std::uint64_t token) {
  return kelvarin::AnswerPluginInfo(info, capacity, token);
}
