// Driving loaded plug-ins from the host: running their commands with checked
// arguments, sending messages to them or to the host, asking them for setup.
#include "ExceptionReport.h"
#include "LogCalls.h"
#include "ManagerOperation.h"
#include "PluginCallScope.h"
#include "ThreadCheck.h"
#include "kelvarin/Catalogue.h"
#include "kelvarin/Commands.h"
#include "kelvarin/Errors.h"
#include "kelvarin/manager.h"
#include "kelvarin/plugin.h"

#include <algorithm>
#include <cassert>
#include <fmt/format.h>
#include <keltk/Application.h>
#include <keltk/StrUtils.h>

namespace kelvarin {

namespace {

// The family has no class of its own for these failures.
TErrorClass dispatchError() {
  return &EulmKelError::StaticClass();
}

std::string arguments(std::size_t count) {
  return fmt::format("{} argument{}", count, count == 1 ? "" : "s");
}

} // namespace

bool TulmKelMan::checkLoadedPlugin(TKelMethodResult& result, TulmKel* plugin) {
  if (!CheckIf_NoPluginsLoaded(result, dispatchError())) return false;
  // Only a plug-in in the list is touched: any other pointer may be stale.
  if (std::find(plugins_.begin(), plugins_.end(), plugin) != plugins_.end() && plugin != nullptr)
    return true;
  TulmKel* none = nullptr;
  return CheckIf_PluginCouldNotBeAccessed(result, dispatchError(), -1, none);
}

TKelMethodResult TulmKelMan::executeCommand(TulmKel* plugin, keltk::TVarRecs params,
                                            const CommandPicker& pick) {
  return RunOperation(
      *this, "TulmKelMan.ExecuteCommand", [&](MethodFrame& site, TKelMethodResult& result) {
        if (!checkLoadedPlugin(result, plugin)) return;
        site.step = 11;
        TCommands* commands = plugin->Commands();
        assert(commands != nullptr); // a plug-in has its collection from its creation on
        if (commands->Count() == 0) {
          site.step = 12;
          LogError(*this, FormatError(dispatchError(), result, E01B,
                                      {keltk::VarStr(plugin->ShortFileName())}));
          return;
        }
        site.step = 21;
        TCommand* command = pick(*commands, result, site);
        if (command == nullptr) return;
        site.step = 41;
        result = runCommand(plugin, command, params, site);
      });
}

TKelMethodResult TulmKelMan::ExecuteCommand(TulmKel* Plugin, const std::string& Name,
                                            keltk::TVarRecs Params) {
  return executeCommand(
      Plugin, Params, [&](TCommands& commands, TKelMethodResult& result, MethodFrame& site) {
        TCommand* command = commands.Find(Name);
        if (command != nullptr) return command;
        site.step = 22;
        LogError(*this, FormatError(dispatchError(), result, E020,
                                    {keltk::VarInt(-1), keltk::VarStr(Plugin->ShortFileName())}));
        // The catalogue's text has no place for the name asked for.
        LogError(*this, fmt::format("Plugin \"{}\" has no command \"{}\".", Plugin->ShortFileName(),
                                    Name));
        return command;
      });
}

TKelMethodResult TulmKelMan::ExecuteCommand(TulmKel* Plugin, int Index, keltk::TVarRecs Params) {
  return executeCommand(
      Plugin, Params, [&](TCommands& commands, TKelMethodResult& result, MethodFrame& site) {
        TCommand* command = nullptr;
        if (Index < 0 || Index >= commands.Count()) {
          site.step = 22;
          LogError(*this,
                   FormatError(dispatchError(), result, E01E,
                               {keltk::VarStr(Plugin->ShortFileName()), keltk::VarInt(Index)}));
          return command;
        }
        site.step = 31;
        command = commands.Items(Index);
        if (command == nullptr) {
          site.step = 32;
          LogError(*this,
                   FormatError(dispatchError(), result, E020,
                               {keltk::VarInt(Index), keltk::VarStr(Plugin->ShortFileName())}));
        }
        return command;
      });
}

TKelMethodResult TulmKelMan::ExecuteCommand(TulmKel* Plugin, const std::string& Name,
                                            std::initializer_list<keltk::TVarRec> Params) {
  return ExecuteCommand(Plugin, Name, keltk::TVarRecs(Params.begin(), Params.size()));
}

TKelMethodResult TulmKelMan::ExecuteCommand(TulmKel* Plugin, int Index,
                                            std::initializer_list<keltk::TVarRec> Params) {
  return ExecuteCommand(Plugin, Index, keltk::TVarRecs(Params.begin(), Params.size()));
}

TKelMethodResult TulmKelMan::runCommand(TulmKel* plugin, TCommand* command, keltk::TVarRecs params,
                                        MethodFrame& site) {
  TKelMethodResult result = smrUnexpectedError;
  // The handler may rename or free its command: nothing of it is read afterwards.
  const std::string name = command->Name();
  const std::string file = plugin->ShortFileName();
  auto fail = [&](std::int32_t code, std::initializer_list<keltk::TVarRec> args) {
    LogError(*this, FormatError(dispatchError(), result, code, args));
  };

  site.step = 51;
  const TEventOnCommand handler = command->OnCommand();
  if (!handler) {
    site.step = 52;
    fail(E00C, {keltk::VarStr(name), keltk::VarStr(file)});
    return result;
  }
  site.step = 61;
  const TCommandParams* declared = command->Params();
  const int required = declared->Count();
  const auto supplied = static_cast<int>(params.size());
  if (command->CheckParamCount() && supplied != required) {
    site.step = 62;
    fail(E024, {keltk::VarStr(name), keltk::VarStr(file), keltk::VarInt(supplied),
                keltk::VarInt(required)});
    return result;
  }
  site.step = 71;
  const bool checkTypes = command->CheckParamType();
  const bool allowNull = command->AllowNullInAllParams();
  for (int i = 0; i < std::min(supplied, required); ++i) {
    const keltk::TVarRec& arg = params[static_cast<std::size_t>(i)];
    const TParamType type = declared->Items(i)->ParamType();
    const bool fits = arg.IsNull() ? allowNull : !checkTypes || ParamTypeAccepts(type, arg.VType);
    if (fits) continue;
    site.step = 72;
    fail(E025, {keltk::VarStr(name), keltk::VarStr(file), keltk::VarInt(i),
                keltk::VarStr(ParamTypeName(type))});
    return result;
  }

  site.step = 81;
  LogCommand(*this, fmt::format("Executing command \"{}\" of plugin \"{}\" with {}...", name, file,
                                arguments(params.size())));
  site.step = 82;
  if (auto error = CallPluginHandler(this, site, plugin, [&] { result = handler(params); }))
    LogError(*this, PluginEventFailure(fmt::format("OnCommand(\"{}\")", name), file, *error));
  // Made by the plug-in's framework copy, which may go with its module.
  return AdoptResult(result);
}

TKelMethodResult TulmKelMan::SendMessage(TulmKel* Plugin, std::int32_t MsgID,
                                         keltk::TVarRecs Params) {
  return RunOperation(
      *this, "TulmKelMan.SendMessage", [&](MethodFrame& site, TKelMethodResult& result) {
        if (Plugin == nullptr) {
          // To the host.
          site.step = 11;
          const TEventOnMessage handler = onMessage_;
          if (!handler) {
            site.step = 12;
            const std::string host = keltk::ExtractFileName(keltk::TApplication::ExeName());
            LogError(*this, FormatError(dispatchError(), result, E00D, {keltk::VarStr(host)}));
            return;
          }
          site.step = 13;
          LogMessage(*this, fmt::format("Sending message {} to host with {}...", MsgID,
                                        arguments(Params.size())));
          site.step = 14;
          if (auto error = CallHandler(this, site, [&] { result = handler(MsgID, Params); }))
            LogError(*this, HostEventFailure("OnMessage()", *error));
          return;
        }

        site.step = 21;
        if (!checkLoadedPlugin(result, Plugin)) return;
        const std::string file = Plugin->ShortFileName();
        const TEventOnMessage handler = Plugin->OnMessage();
        if (!handler) {
          site.step = 22;
          LogError(*this, FormatError(dispatchError(), result, E00D, {keltk::VarStr(file)}));
          return;
        }
        site.step = 23;
        LogMessage(*this, fmt::format("Sending message {} to plugin \"{}\" with {}...", MsgID, file,
                                      arguments(Params.size())));
        site.step = 24;
        if (auto error =
                CallPluginHandler(this, site, Plugin, [&] { result = handler(MsgID, Params); }))
          LogError(*this, PluginEventFailure("OnMessage()", file, *error));
        result = AdoptResult(result);
      });
}

TKelMethodResult TulmKelMan::SendMessage(TulmKel* Plugin, std::int32_t MsgID,
                                         std::initializer_list<keltk::TVarRec> Params) {
  return SendMessage(Plugin, MsgID, keltk::TVarRecs(Params.begin(), Params.size()));
}

TKelMethodResult TulmKelMan::SetupPlugin(TulmKel* Plugin) {
  if (TKelMethodResult refused; !OnManagerThread(*this, "TulmKelMan.SetupPlugin", &refused))
    return refused;
  MethodFrame site{"TulmKelMan.SetupPlugin"};
  TKelMethodResult result = smrUnexpectedError;
  site.step = 1;
  GuardedSwallow(this, site, [&] {
    if (!checkLoadedPlugin(result, Plugin)) return;
    site.step = 11;
    const std::string file = Plugin->ShortFileName();
    const TEventOnSetup handler = Plugin->OnSetup();
    if (!handler) {
      site.step = 12;
      LogError(*this, FormatError(dispatchError(), result, E00B, {keltk::VarStr(file)}));
      return;
    }
    site.step = 21;
    LogAction(*this, ActionText::SettingUp, {file});
    site.step = 22;
    if (auto error = CallPluginHandler(this, site, Plugin, [&] { result = handler(); }))
      LogError(*this, PluginEventFailure("OnSetup()", file, *error));
    result = AdoptResult(result);
  });
  return result;
}

} // namespace kelvarin
