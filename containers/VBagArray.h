// An ordered list of value bags, the content of one element name of a bag: each bag is held by one
// reference of the list. Positions are 1-based.
#pragma once

#include "kernel/VExport.h"

#include <vector>

#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"

namespace velk {

class VValueBag;

class VELK_API VBagArray : public VObject, public IRefCountable
{
public:
	// Empty, one reference held by the creator.
	VBagArray() = default;
	// A deep copy: every bag is copied into a new bag. When memory is short the copy holds fewer bags
	// (IsComplete tells).
	VBagArray(const VBagArray& other);
	VBagArray& operator=(const VBagArray&) = delete;
	// Releases every bag.
	~VBagArray() override;

	int32 GetCount() const { return int32(fBags.size()); }

	// Appends the bag and retains it; false for a null bag or when memory is short.
	bool AddTail(VValueBag* bag);
	// The bag at pos, retained for the caller. Out of range (or a null entry) gives a new empty bag, never
	// null; null only when memory is short.
	VValueBag* RetainNth(int32 pos) const;
	// Releases every bag and empties the list.
	void Destroy();

	// False when the copy constructor could not copy every bag.
	bool IsComplete() const { return fComplete; }

private:
	std::vector<VValueBag*> fBags;
	bool fComplete = true;
};

}  // namespace velk
