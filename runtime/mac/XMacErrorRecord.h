// A system service's error record as a toolbox code, for the platform classes that receive one.
#pragma once

#include "platform/ErrorRecord.h"
#include "runtime/VError.h"

namespace velk {

// 0 for no record; the domain gives the signature ('CARB', 'POSX', 'MACH', 'COCO') and the code's low 32
// bits the number; any other domain gives velk 1.
VError MakeVErrorFromCFError(const plat::ErrorRecord* error);
// The same, then deletes a record the caller owned.
VError MakeVErrorFromCFErrorAndRelease(plat::ErrorRecord* error);
// The framework's form of the same record.
VError MakeVErrorFromNSError(const plat::ErrorRecord* error);

}  // namespace velk
