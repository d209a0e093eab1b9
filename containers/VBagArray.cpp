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
		fCopyError = VE_MEMORY_FULL;
		return;
	}
	for (const VValueBag* bag : other.fBags)
	{
		VValueBag* copy = bag->_CopyBag(&fCopyError);
		if (copy == nullptr)
			return;
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

bool VBagArray::AddNth(VValueBag* bag, int32 pos)
{
	if (bag == nullptr)
		return false;
	const int32 at = pos < 1 ? 0 : (pos > GetCount() ? GetCount() : pos - 1);
	try
	{
		fBags.insert(fBags.begin() + at, bag);
	}
	catch (const std::bad_alloc&)
	{
		return false;
	}
	bag->Retain();
	return true;
}

void VBagArray::SetNth(VValueBag* bag, int32 pos)
{
	if (bag == nullptr || pos < 1 || pos > GetCount())
		return;
	VValueBag*& entry = fBags[size_t(pos - 1)];
	if (entry == bag)
		return;
	bag->Retain();
	VValueBag* old = entry;
	entry = bag;
	if (old != nullptr)
		old->Release();
}

void VBagArray::DeleteNth(int32 pos)
{
	if (pos < 1 || pos > GetCount())
		return;
	VValueBag* bag = fBags[size_t(pos - 1)];
	fBags.erase(fBags.begin() + (pos - 1));
	if (bag != nullptr)
		bag->Release();
}

void VBagArray::Delete(VValueBag* bag)
{
	const int32 pos = Find(bag);
	if (pos > 0)
		fBags.erase(fBags.begin() + (pos - 1));
}

int32 VBagArray::Find(const VValueBag* bag) const
{
	for (size_t i = 0; i < fBags.size(); ++i)
	{
		if (fBags[i] == bag)
			return int32(i + 1);
	}
	return 0;
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
