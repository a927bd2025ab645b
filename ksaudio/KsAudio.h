// The kernel-streaming access library: everything a user needs.
#pragma once

#include "KsAudFilter.h"
#include "KsAudPin.h"
#include "KsEnumFilters.h"
#include "KsFilter.h"
#include "KsIrpTarget.h"
#include "KsPin.h"
