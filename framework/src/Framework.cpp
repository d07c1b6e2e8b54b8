#include "kelvarin/Framework.h"

#include "kelvarin/Catalogue.h"
#include "kelvarin/MethodResult.h"
#include "kelvarin/manager.h"

#include <keltk/Object.h>

namespace kelvarin {

namespace {
constinit bool started = false;
} // namespace

void InitializeFramework() {
  if (started) return;
  started = true;
  LoadDictionary();
  InitMethodResults();
  // Stored form data may create a manager by its class name.
  keltk::RegisterClass(TulmKelMan::StaticClass());
}

bool FrameworkInitialized() {
  return started;
}

} // namespace kelvarin
