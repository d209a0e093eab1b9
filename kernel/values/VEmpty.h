// The value of no content: null from construction, comparable with nothing. The default descriptor of
// the value model makes values of this class.
#pragma once

#include "kernel/values/VValueSingle.h"

namespace velk {

class VEmpty : public VValueSingle
{
public:
	// Null and dirty.
	VEmpty() { fFlags = kFLAG_NULL | kFLAG_DIRTY; }

	VValue* Clone() const override;
	bool CanBeEvaluated() const override { return false; }

	// Always CR_UNRELEVANT: an empty value has no order against anything, itself included.
	CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;
};

}  // namespace velk
