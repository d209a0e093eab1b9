// The 32-bit signed integer value (kind 4): conversions to and from every basic kind, its flat form and
// its comparisons. The shared integer body is VIntegerValue.
#pragma once

#include "kernel/VExport.h"

#include "kernel/values/VIntegerValue.h"

namespace velk {

// Flat form: the 4 bytes in host order. Conversions go through FromLong and GetLong; a real is truncated
// toward zero (NaN gives 0, beyond the 32-bit range it saturates).
class VELK_API VLong : public VIntegerValue<VLong, int32>
{
public:
	using VIntegerValue::VIntegerValue;
	VLong() = default;
	VLong(const VLong&) = default;
	VLong& operator=(const VLong&) = default;
	~VLong() override = default;

	static const VValueInfo_scalar<VLong, VK_LONG, int32> sInfo;
};

extern template class VIntegerValue<VLong, int32>;

}  // namespace velk
