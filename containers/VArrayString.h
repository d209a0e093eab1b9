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
	// A copy of the element as a new string (a null string for a null element); null when memory is short.
	VValueSingle* CloneValue(int32 pos) const override;
	// The value's text; a null value makes the element null.
	void FromValue(const VValueSingle& value, int32 pos) override;
	// The element against the value's text through the collator; a null element orders first.
	CompareResult CompareTo(const VValueSingle& value, bool diacritical, int32 pos) const override;

	// Elements compare with value through the current collator, ignoring diacritics (equality through
	// EqualToString); a null element never matches.
	int32 Find(const VString& value, int32 start, bool forward, CompareMethod method) const;
	int32 Find(const VValueSingle& value, int32 start, bool forward, CompareMethod method) const override;
	// Bisection in an array sorted ascending (Sort's order): the 1-based position of an equal element, or -1.
	int32 QuickFind(const VString& value) const;

	// Through the collator with diacritics; null elements sort before every string.
	void Sort(int32 from, int32 to, bool descending) override;
	int32 CompareElements(void* data, int32 i, int32 j) override;

	// Deletes the strings of n elements from the 0-based index from and leaves those places null.
	void DeleteElements(int32 from, int32 n) override;

	static const VValueInfo_array<VArrayString, VK_ARRAY_STRING> sInfo;

protected:
	// Each element: a uint32 marker 2 and the string's stream form, or the uint32 'NULL' for a null
	// element. Reading takes every marker other than 2 for a null element.
	uint64 _MinStreamBytes(int32 count) const override { return uint64(count) * 4; }
	VError _ReadElements(VStream* stream) override;
	void _WriteElements(VStream* stream) const override;
	bool _CopyElementsFrom(const VArrayValue& other) override;

private:
	VString* _GetElement(int32 pos) const;
	void _SetElement(int32 pos, VString* element);
	// A new string holding text in its own buffer; null when memory is short.
	static VString* _NewCopy(const VString& text);
	static int32 _CompareStrings(const VString* a, const VString* b);
};

}  // namespace velk
