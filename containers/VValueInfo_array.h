// Descriptor of one typed array kind in the registry of value kinds: makes empty arrays. Arrays have no
// flat form of their own, so rebuilding one from flat data gives an empty array too.
#pragma once

#include "kernel/VExport.h"

#include <new>

#include "kernel/values/VValueInfo.h"

namespace velk {

template <class T, ValueKind KIND>
class VELK_API VValueInfo_array : public VValueInfo
{
public:
	VValueInfo_array() : VValueInfo(KIND, KIND) {}

	// Null when memory is short: nothing is thrown.
	VValue* Generate() const override { return new (std::nothrow) T(0); }
	VValue* Generate(VBlob*) const override { return new (std::nothrow) T(0); }
	VValue* LoadFromPtr(const void*, bool = false) const override { return new (std::nothrow) T(0); }
	void* ByteSwapPtr(void* data, bool) const override { return data; }
};

}  // namespace velk
