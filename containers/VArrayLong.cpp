// Typed array of 32-bit signed integers (kind 103): its descriptor and element values.
#include "containers/VArrayLong.h"

#include <new>

#include "kernel/values/VLong.h"

namespace velk {

const VValueInfo_array<VArrayLong, VK_ARRAY_LONG> VArrayLong::sInfo;

VValueSingle* VArrayLong::_NewValue(int32 element)
{
	return new (std::nothrow) VLong(element);
}

}  // namespace velk
