// Typed array of strings (kind 109): each element is an owned string, or null (no string).
#pragma once

#include "kernel/VExport.h"

#include "containers/VArrayValue.h"
#include "containers/VValueInfo_array.h"

namespace velk {

class VELK_API VArrayString : public VArrayValue
{
public:
	// count null elements; constructed with 0 it is empty.
	explicit VArrayString(int32 count = 0);
	// Frees every element string and the block.
	~VArrayString() override;

	const VValueInfo* GetValueInfo() const override { return &sInfo; }
	ValueKind GetValueKind() const override { return VK_ARRAY_STRING; }
	ValueKind GetElemValueKind() const override { return VK_STRING; }

	// Copies the text into the element's string, or into a new one for a null element; nothing for a
	// position outside 1..count or when memory is short.
	void FromString(const VString& text, int32 pos) override;
	// The element's text; out is cleared for a position outside 1..count and made null for a null element.
	void GetString(VString& out, int32 pos) const;
	// out receives the element through its FromString (a null element as a null string).
	void GetValue(VValueSingle& out, int32 pos) const override;

	// Deletes the strings of n elements from the 0-based index from and leaves those places null.
	void DeleteElements(int32 from, int32 n) override;

	static const VValueInfo_array<VArrayString, VK_ARRAY_STRING> sInfo;

private:
	VString* _GetElement(int32 pos) const;
};

}  // namespace velk
