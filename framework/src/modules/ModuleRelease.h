// Unmapping a plug-in's module only once nothing can run its code any more.
#pragma once

#include <string>
#include <vector>

namespace kelvarin {

class TulmKel;

// Whether releasing `plugin`'s module now would return into unmapped code on
// this thread (the framework's dispatch, or its code found on the stack).
bool PluginCodeRunning(const TulmKel* plugin);
// Unmaps `module` (a reference OpenModule handed out, which this takes over) now
// when nothing holds it; else the application's release queue tries again at
// each idle step. A module another loaded plug-in still runs from only loses a
// reference.
void CloseModuleWhenFree(void* module);
// Frees `plugin` once its code has returned, then its module (taken over) as above.
void ReleaseWhenReturned(TulmKel* plugin, void* module);
// ClearModuleLeftovers, and the idle handlers the managers chain to: what
// `module` left on the objects that outlive it. Nothing while another loaded
// plug-in still runs from the module.
std::vector<std::string> ClearLeftoversOf(void* module);
// Whether the module mapped from `path` is one released but still held: loading
// that path again must not hand it out.
bool ModuleReleasePending(const std::string& path);

} // namespace kelvarin
