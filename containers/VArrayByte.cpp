// Typed array of signed bytes (kind 101), one per element: its descriptor and element values.
#include "containers/VArrayByte.h"

#include <new>

#include "kernel/values/VByte.h"

namespace velk {

const VValueInfo_array<VArrayByte, VK_ARRAY_BYTE> VArrayByte::sInfo;

VValueSingle* VArrayByte::_NewValue(int8 element)
{
	return new (std::nothrow) VByte(element);
}

}  // namespace velk
