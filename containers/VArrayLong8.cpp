// Typed array of 64-bit signed integers (kind 104): its descriptor and element values.
#include "containers/VArrayLong8.h"

#include <new>

#include "kernel/values/VLong8.h"

namespace velk {

const VValueInfo_array<VArrayLong8, VK_ARRAY_LONG8> VArrayLong8::sInfo;

VValueSingle* VArrayLong8::_NewValue(int64 element)
{
	return new (std::nothrow) VLong8(element);
}

}  // namespace velk
