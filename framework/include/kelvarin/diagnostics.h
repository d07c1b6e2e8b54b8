// Diagnostics: result records and their shared values, the message catalogue and
// FormatError, the exception family and the activity log.
#pragma once

#include "kelvarin/Catalogue.h"
#include "kelvarin/Errors.h"
#include "kelvarin/Framework.h"
#include "kelvarin/Log.h"
#include "kelvarin/MethodResult.h"
#include "kelvarin/Types.h"
