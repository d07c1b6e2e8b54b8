// The one way framework code logs a line: a call per kind on each side, the
// manager's (origin MANAGER) and a plug-in's. Each logs only what the log's
// ItemsToLog asks for and never raises.
#pragma once

#include "ActionCatalogue.h"

#include <initializer_list>
#include <string_view>

namespace kelvarin {

class TulmKelMan;
class TulmKel;

void LogAction(TulmKelMan& manager, ActionText text,
               std::initializer_list<std::string_view> args = {});
void LogError(TulmKelMan& manager, std::string_view msg);
void LogCommand(TulmKelMan& manager, std::string_view msg);
void LogMessage(TulmKelMan& manager, std::string_view msg);

// A plug-in that no manager has adopted yet hands every line on: the unattached
// sink, when there is one, decides.
void LogAction(TulmKel& plugin, ActionText text, std::initializer_list<std::string_view> args = {});
void LogError(TulmKel& plugin, std::string_view msg);

} // namespace kelvarin
