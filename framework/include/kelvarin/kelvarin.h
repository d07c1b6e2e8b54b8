// Everything a host or a plug-in module uses of the framework.
#pragma once

#include "kelvarin/EndingSignals.h"
#include "kelvarin/diagnostics.h"
#include "kelvarin/manager.h"
#include "kelvarin/plugin.h"
