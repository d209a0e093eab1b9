// An ordered list of value bags, the content of one element name of a bag: each bag is held by one
// reference of the list. Positions are 1-based.
#pragma once

#include "kernel/VExport.h"

#include <vector>

#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "runtime/VError.h"

namespace velk {

class VStream;
class VString;
class VValueBag;

class VELK_API VBagArray : public VObject, public IRefCountable
{
public:
	// Empty, one reference held by the creator.
	VBagArray() = default;
	// A deep copy: every bag is copied into a new bag. When memory is short, or a bag is nested deeper than
	// the free stack allows, the copy holds fewer bags (GetCopyError tells why: velk 100 or velk 108).
	VBagArray(const VBagArray& other);
	VBagArray& operator=(const VBagArray&) = delete;
	// Releases every bag.
	~VBagArray() override;

	int32 GetCount() const { return int32(fBags.size()); }

	// Appends the bag and retains it; false for a null bag or when memory is short.
	bool AddTail(VValueBag* bag);
	// Inserts the bag before pos (pos below 1: at the front; past the end: at the tail) and retains it;
	// false for a null bag or when memory is short.
	bool AddNth(VValueBag* bag, int32 pos);
	// Puts the bag at pos (1 to count) in place of the one there, which is released. A null bag, a position
	// out of range or the bag already there change nothing.
	void SetNth(VValueBag* bag, int32 pos);
	// Releases and removes the bag at pos; out of range is ignored.
	void DeleteNth(int32 pos);
	// Removes the first entry that is this bag WITHOUT releasing it: the list's reference passes to the
	// caller.
	void Delete(VValueBag* bag);
	// 1-based position of the first entry that is this bag, 0 when absent.
	int32 Find(const VValueBag* bag) const;
	// The bag at pos, retained for the caller. Out of range (or a null entry) gives a new empty bag, never
	// null; null only when memory is short.
	VValueBag* RetainNth(int32 pos) const;
	// The bag at pos, not retained: valid while the list holds it. Null out of range.
	VValueBag* _GetNth(int32 pos) const { return pos >= 1 && pos <= GetCount() ? fBags[size_t(pos - 1)] : nullptr; }
	// Releases every bag and empties the list.
	void Destroy();

	// Appends the list as a JSON array of its bags (VValueBag::_GetJSONString) at the indentation level.
	// Answers 0, or (raised) velk 107 when the text cannot be made, velk 108 when a bag is nested deeper
	// than the free stack allows.
	VError _GetJSONString(VString& json, int32& level, bool pretty, uint32 options) const;

	// Binary form (VValueBagStream.cpp): the bag count, then each bag's minimal form
	// (VValueBag::WriteToStreamMinimal). Writing stops at the first bag that fails; answers its error.
	VError WriteToStreamMinimal(VStream* stream) const;
	// Reads that form, appending new bags (one reference, the list's). A negative count gives velk 100, a
	// count beyond the bytes left velk 200 (stored in the stream). On failure the bags read by this call
	// are released and the list is as it was.
	VError ReadFromStreamMinimal(VStream* stream);

	// False when the copy constructor could not copy every bag.
	bool IsComplete() const { return fCopyError == VE_OK; }
	VError GetCopyError() const { return fCopyError; }

private:
	std::vector<VValueBag*> fBags;
	VError fCopyError = VE_OK;
};

}  // namespace velk
