// The 16-bit signed integer value (kind 3): conversions to and from every basic kind, its flat form and
// its comparisons. The shared integer body is VIntegerValue.
#pragma once

#include "kernel/VExport.h"

#include "kernel/values/VIntegerValue.h"

namespace velk {

// Flat form: the 2 bytes in host order. Conversions go through FromWord and GetWord; a real is truncated
// toward zero to 32 bits, then keeps its low 16 bits. CompareTo reads the other's GetLong.
class VELK_API VWord : public VIntegerValue<VWord, int16>
{
public:
	using VIntegerValue::VIntegerValue;
	VWord() = default;
	VWord(const VWord&) = default;
	VWord& operator=(const VWord&) = default;
	~VWord() override = default;

	// The text's GetLong cut to the low 16 bits (GetWord of an out-of-range text would give 0), and its
	// null state.
	void FromString(const VString& text) override;

	static const VValueInfo_scalar<VWord, VK_WORD, int16> sInfo;
};

extern template class VIntegerValue<VWord, int16>;

}  // namespace velk
