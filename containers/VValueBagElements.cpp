// The value bag's element lists: adding, replacing and removing lists, finding unique elements and
// ordering element names.
#include "containers/VValueBag.h"

#include <algorithm>
#include <new>
#include <vector>

#include "containers/IBaggable.h"
#include "containers/VBagArray.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace velk {

VValueBag::VPackedElements* VValueBag::_GetOrMakeElements()
{
	if (fElements == nullptr)
	{
		fElements = new (std::nothrow) VPackedElements();
		if (fElements == nullptr)
			_MemoryFull();
	}
	return fElements;
}

void VValueBag::_DropEmptyElements()
{
	if (fElements != nullptr && fElements->IsEmpty())
	{
		delete fElements;
		fElements = nullptr;
	}
}

bool VValueBag::AddElement(const StPackedDictionaryKey& key, VValueBag* bag)
{
	if (bag == nullptr || !_IsStorableKey(key))
		return false;
	if (_GetOrMakeElements() == nullptr)
		return false;
	if (VBagArray* list = fElements->GetValue(key))
		return list->AddTail(bag) || _MemoryFull();

	// The list is filled before it is stored so that a failure leaves no empty name behind.
	VBagArray* list = new (std::nothrow) VBagArray();
	const bool added = list != nullptr && list->AddTail(bag) && fElements->SetValue(key, list);
	if (list != nullptr)
		list->Release();
	if (!added)
		_DropEmptyElements();
	return added || _MemoryFull();
}

VError VValueBag::AddElement(const IBaggable* object)
{
	if (object == nullptr)
		return VE_OK;
	VValueBag* bag = new (std::nothrow) VValueBag();
	if (bag == nullptr)
	{
		_MemoryFull();
		return VE_MEMORY_FULL;
	}
	VStr<31> kind;
	VError error = object->SaveToBag(*bag, kind);
	if (error == VE_OK)
	{
		const StPackedDictionaryKey key(kind);
		// A kind name no dictionary can store would lose the object without a word.
		if (!_IsStorableKey(key))
		{
			error = VE_INVALID_PARAMETER;
			_ThrowError(error);
		}
		else if (!AddElement(key, bag))
		{
			error = VE_MEMORY_FULL;
		}
	}
	bag->Release();
	return error;
}

VBagArray* VValueBag::GetElements(const StPackedDictionaryKey& key) const
{
	return fElements != nullptr ? fElements->GetValue(key) : nullptr;
}

VBagArray* VValueBag::GetNthElementName(int32 n, VString* name) const
{
	if (n < 1 || n > GetElementNamesCount())
	{
		if (name != nullptr)
			name->Clear();
		return nullptr;
	}
	const VPackedValue_VBagArray& slot = *(fElements->begin() + (n - 1));
	if (name != nullptr)
	{
		size_t bytes = 0;
		const char* key = fElements->_GetKeyBytes(slot, bytes);
		name->FromBlock(key, bytes, 7);
	}
	return slot.fValue;
}

bool VValueBag::SetElements(const StPackedDictionaryKey& key, VBagArray* list)
{
	if (!_IsStorableKey(key) || _GetOrMakeElements() == nullptr)
		return false;
	if (fElements->SetValue(key, list))
		return true;
	_DropEmptyElements();
	return _MemoryFull();
}

bool VValueBag::RemoveElements(const StPackedDictionaryKey& key)
{
	return fElements != nullptr && fElements->Clear(key);
}

bool VValueBag::ReplaceElement(const StPackedDictionaryKey& key, VValueBag* bag)
{
	if (bag == nullptr)
	{
		RemoveElements(key);
		return false;
	}
	if (!_IsStorableKey(key))
		return false;
	VBagArray* list = GetElements(key);
	if (list == nullptr)
		return AddElement(key, bag);
	if (list->GetCount() == 1 && list->_GetNth(1) == bag)
		return false;
	// The list may hold the only reference to the bag: emptying it first would free the bag.
	bag->Retain();
	list->Destroy();
	const bool added = list->AddTail(bag);
	bag->Release();
	return added || _MemoryFull();
}

// ---------------------------------------------------------------------------------------------------------
// Unique elements

VValueBag* VValueBag::RetainUniqueElementWithAttribute(const StPackedDictionaryKey& elementKey, const StPackedDictionaryKey& attributeKey, const VValueSingle& value) const
{
	const VBagArray* list = GetElements(elementKey);
	if (list == nullptr || list->GetCount() == 0)
		return nullptr;
	VValue* made = nullptr;
	try
	{
		made = value.Clone();
	}
	catch (const std::bad_alloc&)
	{
	}
	VValueSingle* read = made != nullptr ? made->IsVValueSingle() : nullptr;
	if (read == nullptr)
	{
		delete made;
		_MemoryFull();
		return nullptr;
	}
	int32 matches = 0;
	int32 found = 0;
	for (int32 pos = 1; pos <= list->GetCount() && matches < 2; ++pos)
	{
		const VValueBag* bag = list->_GetNth(pos);
		if (bag == nullptr || !bag->GetAttribute(attributeKey, *read))
			read->Clear();
		if (read->EqualTo(value, false))
		{
			++matches;
			found = pos;
		}
	}
	delete read;
	return matches == 1 ? list->RetainNth(found) : nullptr;
}

VValueBag* VValueBag::GetUniqueElementAnyKind(VString& name) const
{
	if (GetElementNamesCount() != 1)
		return nullptr;
	VString only;
	const VBagArray* list = GetNthElementName(1, &only);
	if (list == nullptr || list->GetCount() != 1 || list->_GetNth(1) == nullptr)
		return nullptr;
	name.FromString(only);
	return list->_GetNth(1);
}

// ---------------------------------------------------------------------------------------------------------
// Ordering

namespace {

const StBagElementsOrdering* FindOrdering(const StBagElementsOrdering* orderings, const char* name, size_t length)
{
	for (const StBagElementsOrdering* record = orderings; record->fElementName != nullptr; ++record)
	{
		if (record->fElementName->EqualsBytes(name, length))
			return record;
	}
	return nullptr;
}

}  // namespace

bool VValueBag::SortElements(const StPackedDictionaryKey& key, const StBagElementsOrdering* orderings)
{
	if (orderings == nullptr)
		return true;
	const StBagElementsOrdering* record = FindOrdering(orderings, key.GetKey(), key.GetKeyLength());
	if (record == nullptr)
		return true;
	VError error = VE_OK;
	_Sort(*record, orderings, error);
	return error == VE_OK || _Failed(error);
}

void VValueBag::_Sort(const StBagElementsOrdering& ordering, const StBagElementsOrdering* orderings, VError& error)
{
	const size_t count = size_t(GetElementNamesCount());
	if (count == 0)
		return;
	// Each child is sorted by its own call.
	if (_IsStackLow())
	{
		if (error == VE_OK)
			error = VE_STACK_OVERFLOW;
		return;
	}
	try
	{
		// Each name's place in the record, 0 for a name it does not list.
		std::vector<size_t> places(count, 0);
		for (size_t i = 0; i < count; ++i)
		{
			size_t bytes = 0;
			const char* name = fElements->_GetKeyBytes(*(fElements->begin() + ptrdiff_t(i)), bytes);
			for (size_t j = 0; j < StBagElementsOrdering::kMAX_CHILDREN; ++j)
			{
				const StPackedDictionaryKey* child = ordering.fChildElementNames[j];
				if (child != nullptr && child->EqualsBytes(name, bytes))
				{
					places[i] = j + 1;
					break;
				}
			}
		}
		size_t last = 0;
		bool ascending = true;
		for (const size_t place : places)
		{
			if (place == 0)
				continue;
			ascending = ascending && place >= last;
			last = place;
		}
		if (count >= 2 && !ascending)
		{
			std::vector<size_t> order(count);
			for (size_t i = 0; i < count; ++i)
				order[i] = i;
			std::stable_sort(order.begin(), order.end(), [&places](size_t a, size_t b) { return places[a] < places[b]; });
			if (!fElements->_Reorder(order) && error == VE_OK)
				error = VE_MEMORY_FULL;
		}
	}
	catch (const std::bad_alloc&)
	{
		if (error == VE_OK)
			error = VE_MEMORY_FULL;
	}

	for (const VPackedValue_VBagArray& slot : *fElements)
	{
		size_t bytes = 0;
		const char* name = fElements->_GetKeyBytes(slot, bytes);
		const StBagElementsOrdering* childOrdering = FindOrdering(orderings, name, bytes);
		if (childOrdering == nullptr || slot.fValue == nullptr)
			continue;
		for (int32 pos = 1; pos <= slot.fValue->GetCount(); ++pos)
		{
			if (VValueBag* child = slot.fValue->_GetNth(pos))
				child->_Sort(*childOrdering, orderings, error);
		}
	}
}

}  // namespace velk
