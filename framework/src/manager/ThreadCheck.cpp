#include "ThreadCheck.h"

#include "IdleHub.h"
#include "LogCalls.h"
#include "kelvarin/Catalogue.h"
#include "kelvarin/Errors.h"
#include "kelvarin/manager.h"

#include <fmt/format.h>
#include <keltk/Application.h>

namespace kelvarin {

bool OnManagerThread(const TulmKelMan& manager, std::string_view operation,
                     TKelMethodResult* result) {
  if (manager.CalledFromOwnThread()) return true;
  std::string text = fmt::format("{} was called from another thread; a manager answers only the "
                                 "thread that created it.",
                                 operation);
  if (result != nullptr)
    *result = TKelMethodResult{false, &EulmKelError::StaticClass(), E018,
                               fmt::format("Error ${:04X}:  {}", E018, text)};
  // The log belongs to the manager's thread: the entry is written there, if the
  // manager still lives by then.
  auto* target = const_cast<TulmKelMan*>(&manager);
  keltk::RunOnMainThread([target, text = std::move(text)] {
    if (IdleHub::instance().has(target)) LogError(*target, text);
  });
  return false;
}

} // namespace kelvarin
