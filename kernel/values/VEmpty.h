// The value of no content: null from construction, comparable with nothing. The default descriptor of
// the value model makes values of this class.
#pragma once

#include "kernel/VExport.h"

#include "kernel/values/VValueInfo.h"
#include "kernel/values/VValueSingle.h"

namespace velk {

class VEmpty_info;

class VELK_API VEmpty : public VValueSingle
{
public:
	// Null and dirty.
	VEmpty() { fFlags = kFLAG_NULL | kFLAG_DIRTY; }

	// The kind-0 descriptor.
	const VValueInfo* GetValueInfo() const override;
	VValue* Clone() const override;
	bool CanBeEvaluated() const override { return false; }

	// Always CR_UNRELEVANT: an empty value has no order against anything, itself included.
	CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;

	static const VEmpty_info sInfo;
};

// Descriptor of kind 0: makes null empty values (from flat data too, of which the kind has none) and
// leaves flat data as it is.
class VELK_API VEmpty_info : public VValueInfo_default<VEmpty, VK_EMPTY>
{
};

}  // namespace velk
