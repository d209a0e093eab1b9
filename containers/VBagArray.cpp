// An ordered list of value bags, each held by one reference.
#include "containers/VBagArray.h"

#include <new>

#include "containers/VValueBag.h"

namespace velk {

VBagArray::VBagArray(const VBagArray& other)
	: VObject(), IRefCountable()
{
	try
	{
		fBags.reserve(other.fBags.size());
	}
	catch (const std::bad_alloc&)
	{
		fComplete = false;
		return;
	}
	for (const VValueBag* bag : other.fBags)
	{
		VValueBag* copy = bag->_CopyBag();
		if (copy == nullptr)
		{
			fComplete = false;
			return;
		}
		// The room was reserved: this cannot fail.
		fBags.push_back(copy);
	}
}

VBagArray::~VBagArray()
{
	Destroy();
}

bool VBagArray::AddTail(VValueBag* bag)
{
	if (bag == nullptr)
		return false;
	try
	{
		fBags.push_back(bag);
	}
	catch (const std::bad_alloc&)
	{
		return false;
	}
	bag->Retain();
	return true;
}

VValueBag* VBagArray::RetainNth(int32 pos) const
{
	if (pos >= 1 && pos <= GetCount() && fBags[size_t(pos - 1)] != nullptr)
	{
		VValueBag* bag = fBags[size_t(pos - 1)];
		bag->Retain();
		return bag;
	}
	return new (std::nothrow) VValueBag();
}

void VBagArray::Destroy()
{
	std::vector<VValueBag*> bags;
	bags.swap(fBags);
	for (VValueBag* bag : bags)
	{
		if (bag != nullptr)
			bag->Release();
	}
}

}  // namespace velk
