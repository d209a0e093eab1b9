// The start-up step that registers the scalar kinds. Their descriptors are built in this one unit so
// that they register in a fixed order (kinds 0, 3, 4, 5, 6, 1, 2); each unregisters at exit.
#include "kernel/values/VBoolean.h"
#include "kernel/values/VByte.h"
#include "kernel/values/VEmpty.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VLong8.h"
#include "kernel/values/VReal.h"
#include "kernel/values/VWord.h"

namespace velk {

const VEmpty_info VEmpty::sInfo{};
const VValueInfo_scalar<VWord, VK_WORD, int16> VWord::sInfo{};
const VValueInfo_scalar<VLong, VK_LONG, int32> VLong::sInfo{};
const VValueInfo_scalar<VLong8, VK_LONG8, int64> VLong8::sInfo{};
const VReal::VValueInfo_real VReal::sInfo{};
const VValueInfo_scalar<VBoolean, VK_BOOLEAN, uint8> VBoolean::sInfo{};
const VValueInfo_scalar<VByte, VK_BYTE, int8> VByte::sInfo{};

}  // namespace velk
