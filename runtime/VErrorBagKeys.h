// The bag keys of an error and of a list of errors: an error's code, task and parameters, the element of one
// error in a list, and the element of a list of errors.
#pragma once

#include "kernel/VExport.h"

#include "containers/StBagKey.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VLong8.h"
#include "runtime/VError.h"

namespace velk {

namespace VErrorBagKeys {

VELK_API extern const StBagKeyNoDefault<VError, VLong8> error_code;   // "error_code"
VELK_API extern const StBagKeyNoDefault<int32, VLong> task_id;         // "task_id"
VELK_API extern const StBagKeyNoDefault<VString, VString> task_name;  // "task_name"
VELK_API extern const StPackedDictionaryKey parameters;               // "parameters", an element
VELK_API extern const StPackedDictionaryKey error;                    // "error", an element
VELK_API extern const StPackedDictionaryKey error_stack;              // "error_stack", an element

}  // namespace VErrorBagKeys

}  // namespace velk
