// The 64-bit signed integer value (kind 5): conversions to and from every basic kind, its flat form and
// its comparisons. The shared integer body is VIntegerValue.
#pragma once

#include "kernel/VExport.h"

#include "kernel/values/VIntegerValue.h"

namespace velk {

// Flat form: the 8 bytes in host order. Conversions go through FromLong8 and GetLong8, CompareTo
// included; a real is truncated toward zero (NaN gives 0, beyond the 64-bit range it saturates).
class VELK_API VLong8 : public VIntegerValue<VLong8, int64>
{
public:
	using VIntegerValue::VIntegerValue;
	VLong8() = default;
	VLong8(const VLong8&) = default;
	VLong8& operator=(const VLong8&) = default;
	~VLong8() override = default;

	// The text's GetLong8 and null state; a null text only makes this value null, keeping the number.
	void FromString(const VString& text) override;

	static const VValueInfo_scalar<VLong8, VK_LONG8, int64> sInfo;
};

extern template class VIntegerValue<VLong8, int64>;

}  // namespace velk
