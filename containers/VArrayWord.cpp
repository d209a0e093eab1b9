// Typed array of 16-bit signed integers (kind 102): its descriptor and element values.
#include "containers/VArrayWord.h"

#include <new>

#include "kernel/values/VWord.h"

namespace velk {

const VValueInfo_array<VArrayWord, VK_ARRAY_WORD> VArrayWord::sInfo;

VValueSingle* VArrayWord::_NewValue(int16 element)
{
	return new (std::nothrow) VWord(element);
}

}  // namespace velk
