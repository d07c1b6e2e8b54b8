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
  // Stored form data may create a manager by its class name. The toolkit copy
  // may outlive this copy (a plug-in's framework library goes with its last
  // plug-in, the toolkit runtime module stays), so the class leaves its registry
  // when this copy goes.
  static const keltk::ClassRegistrar<TulmKelMan> managerClass;
}

bool FrameworkInitialized() {
  return started;
}

} // namespace kelvarin
