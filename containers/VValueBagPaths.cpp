// The value bag's paths: element names separated by '/', split into keys and followed through first bags.
#include "containers/VValueBag.h"

#include <cstring>
#include <new>

#include "containers/VBagArray.h"
#include "kernel/strings/VString.h"

namespace velk {

namespace {

constexpr UniChar kSEPARATOR = '/';

// Where following the first count keys of a path leads, without creating anything; null when a name, its
// list or a first bag is missing.
VValueBag* Follow(const VValueBag* bag, const VValueBag::KeyPath& keys, size_t count)
{
	for (size_t i = 0; i < count && bag != nullptr; ++i)
	{
		const VBagArray* list = bag->GetElements(keys[i]);
		bag = list != nullptr ? list->_GetNth(1) : nullptr;
	}
	return const_cast<VValueBag*>(bag);
}

}  // namespace

void VValueBag::GetKeysFromPath(const VString& path, KeyPath& keys)
{
	keys.clear();
	const UniChar* units = path.GetCPointer();
	const int32 length = path.GetLength();
	int32 start = 0;
	VString piece;
	while (start <= length)
	{
		int32 end = start;
		while (end < length && units[end] != kSEPARATOR)
			++end;
		if (end == length && end == start)
			break;
		// A piece too long for a key stays in the path as an empty key: leaving it out would make the path
		// name another element.
		piece.FromUniString(units + start, end - start);
		keys.emplace_back(piece);
		start = end + 1;
	}
}

void VValueBag::GetKeysFromUTF8PathNoCopy(const char* path, KeyPath& keys)
{
	keys.clear();
	if (path == nullptr)
		return;
	const char* start = path;
	for (;;)
	{
		const char* end = std::strchr(start, '/');
		if (end == nullptr)
		{
			if (*start != 0)
				keys.push_back(StPackedDictionaryKey::Borrow(start, std::strlen(start)));
			return;
		}
		keys.push_back(StPackedDictionaryKey::Borrow(start, size_t(end - start)));
		start = end + 1;
	}
}

VValueBag* VValueBag::GetUniqueElementByPath(const KeyPath& keys) const
{
	return Follow(this, keys, keys.size());
}

VValueBag* VValueBag::GetUniqueElementByPath(const VString& path) const
{
	KeyPath keys;
	GetKeysFromPath(path, keys);
	return GetUniqueElementByPath(keys);
}

VValueBag* VValueBag::GetElementByPathAndCreateIfDontExists(const KeyPath& keys)
{
	// Checked first, so that a refused path creates nothing on its way.
	for (const StPackedDictionaryKey& key : keys)
	{
		if (!_IsStorableKey(key))
			return nullptr;
	}
	VValueBag* bag = this;
	for (const StPackedDictionaryKey& key : keys)
	{
		const VBagArray* list = bag->GetElements(key);
		VValueBag* next = list != nullptr ? list->_GetNth(1) : nullptr;
		if (next == nullptr)
		{
			next = new (std::nothrow) VValueBag();
			if (next == nullptr)
			{
				_MemoryFull();
				return nullptr;
			}
			const bool stored = bag->ReplaceElement(key, next);
			// The list holds it now.
			next->Release();
			if (!stored)
				return nullptr;
		}
		bag = next;
	}
	return bag;
}

bool VValueBag::ReplaceElementByPath(const KeyPath& keys, VValueBag* bag)
{
	if (keys.empty())
		return false;
	const size_t parents = keys.size() - 1;
	if (bag == nullptr)
	{
		if (VValueBag* parent = Follow(this, keys, parents))
			parent->RemoveElements(keys.back());
		return true;
	}
	if (!_IsStorableKey(keys.back()))
		return false;
	VValueBag* parent = this;
	if (parents > 0)
	{
		const KeyPath prefix(keys.begin(), keys.end() - 1);
		parent = GetElementByPathAndCreateIfDontExists(prefix);
	}
	return parent != nullptr && parent->ReplaceElement(keys.back(), bag);
}

}  // namespace velk
