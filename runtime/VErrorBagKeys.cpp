#include "runtime/VErrorBagKeys.h"

namespace velk::VErrorBagKeys {

const StBagKeyNoDefault<VError, VLong8> error_code("error_code");
const StBagKeyNoDefault<int32, VLong> task_id("task_id");
const StBagKeyNoDefault<VString, VString> task_name("task_name");
const StPackedDictionaryKey parameters("parameters");
const StPackedDictionaryKey error("error");
const StPackedDictionaryKey error_stack("error_stack");

}  // namespace velk::VErrorBagKeys
