// The 8-bit signed integer value (kind 2): conversions to and from every basic kind, its flat form and
// its comparisons. The shared integer body is VIntegerValue.
#pragma once

#include "kernel/VExport.h"

#include "kernel/values/VIntegerValue.h"

namespace velk {

// Flat form: the one byte. Conversions out go through the target's FromWord with the byte
// sign-extended; from another kind it takes the source's GetWord cut to its low 8 bits. A real is
// truncated toward zero to 32 bits, then keeps its low 8 bits. CompareTo reads the other's GetLong.
class VELK_API VByte : public VIntegerValue<VByte, int8>
{
public:
	using VIntegerValue::VIntegerValue;
	VByte() = default;
	VByte(const VByte&) = default;
	VByte& operator=(const VByte&) = default;
	~VByte() override = default;

	// A byte travels in a stream as a 16-bit word: 2.
	uint64 GetStreamSpace() const override { return 2; }

	static const VValueInfo_scalar<VByte, VK_BYTE, int8> sInfo;
};

extern template class VIntegerValue<VByte, int8>;

}  // namespace velk
