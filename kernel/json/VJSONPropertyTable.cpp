#include "kernel/json/VJSONPropertyTable.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>
#include <utility>

namespace velk {

VJSONPropertyTable::Entry::Entry(Entry&& other) noexcept
	: fName(other.fName), fLength(other.fLength), fCapacity(other.fCapacity), fValue(std::move(other.fValue))
{
	other.fName = nullptr;
	other.fLength = 0;
	other.fCapacity = 0;
}

VJSONPropertyTable::Entry& VJSONPropertyTable::Entry::operator=(Entry&& other) noexcept
{
	if (this != &other)
	{
		_ReleaseName();
		fValue = std::move(other.fValue);
		fName = other.fName;
		fLength = other.fLength;
		fCapacity = other.fCapacity;
		other.fName = nullptr;
		other.fLength = 0;
		other.fCapacity = 0;
	}
	return *this;
}

VJSONPropertyTable::Entry::~Entry()
{
	_ReleaseName();
}

void VJSONPropertyTable::Entry::_ReleaseName()
{
	if (fName != nullptr)
		VString::ReleaseRetainedBuffer(fName, fCapacity);
	fName = nullptr;
}

VString VJSONPropertyTable::Entry::GetName() const
{
	if (fName == nullptr || fLength <= 0)
		return VString();
	return VString(VInlineString{fLength, fName, fCapacity});
}

bool VJSONPropertyTable::Entry::HasName(const UniChar* units, int32 length) const
{
	return fLength == length && (length == 0 || std::memcmp(fName, units, size_t(length) * sizeof(UniChar)) == 0);
}

VJSONPropertyTable::VJSONPropertyTable(VJSONPropertyTable&& other) noexcept
{
	Swap(other);
}

VJSONPropertyTable& VJSONPropertyTable::operator=(VJSONPropertyTable&& other) noexcept
{
	if (this != &other)
	{
		VJSONPropertyTable taken;
		taken.Swap(other);
		Swap(taken);
	}
	return *this;
}

void VJSONPropertyTable::Swap(VJSONPropertyTable& other) noexcept
{
	fEntries.swap(other.fEntries);
	fIndex.swap(other.fIndex);
	std::swap(fIndexMask, other.fIndexMask);
	std::swap(fLive, other.fLive);
}

void VJSONPropertyTable::_UseRoom(VJSONTrailingRoom* room)
{
	if (fEntries.empty() && fEntries.capacity() == 0)
		fEntries = EntryList(VJSONRoomAllocator<Entry>(room));
}

size_t VJSONPropertyTable::_Hash(const UniChar* units, int32 length)
{
	// The standard library's byte hash over the units, as names are hashed everywhere else.
	return std::hash<std::u16string_view>()(std::u16string_view(units, size_t(length)));
}

const VJSONPropertyTable::Entry* VJSONPropertyTable::Find(const UniChar* units, int32 length) const
{
	if (fIndex == nullptr)
	{
		for (const Entry& entry : fEntries)
		{
			if (entry.HasName(units, length))
				return &entry;
		}
		return nullptr;
	}
	for (size_t slot = _Hash(units, length) & fIndexMask;; slot = (slot + 1) & fIndexMask)
	{
		const uint32 position = fIndex[slot];
		if (position == 0)
			return nullptr;
		const Entry& entry = fEntries[position - 1];
		if (entry.HasName(units, length))
			return &entry;
	}
}

VJSONPropertyTable::Entry* VJSONPropertyTable::Find(const UniChar* units, int32 length)
{
	return const_cast<Entry*>(static_cast<const VJSONPropertyTable*>(this)->Find(units, length));
}

void VJSONPropertyTable::Reserve(size_t count)
{
	// Removed entries still take their place until the next compaction.
	const size_t total = count + (fEntries.size() - fLive);
	if (fEntries.capacity() < total)
		fEntries.reserve(std::max(total, fEntries.capacity() * 2));
	if (total > kScanLimit && (fIndex == nullptr || (fIndexMask + 1) < 2 * total))
		_BuildIndex(total);
}

void VJSONPropertyTable::_BuildIndex(size_t count)
{
	size_t size = 16;
	while (size < 2 * count)
		size *= 2;
	// Made whole before it replaces the former one, so that a refused allocation changes nothing.
	std::unique_ptr<uint32[]> index(new uint32[size]());
	fIndex.swap(index);
	fIndexMask = size - 1;
	for (size_t position = 0; position < fEntries.size(); ++position)
	{
		const Entry& entry = fEntries[position];
		if (!entry.IsRemoved())
			_IndexEntry(position, _Hash(entry.fName, entry.fLength));
	}
}

void VJSONPropertyTable::_IndexEntry(size_t position, size_t hash)
{
	size_t slot = hash & fIndexMask;
	while (fIndex[slot] != 0)
		slot = (slot + 1) & fIndexMask;
	fIndex[slot] = uint32(position + 1);
}

void VJSONPropertyTable::_Emplace(UniChar* name, int32 length, int32 capacity, VJSONValue&& value)
{
	fEntries.emplace_back(name, length, capacity, std::move(value));
	++fLive;
	if (fIndex != nullptr)
		_IndexEntry(fEntries.size() - 1, _Hash(name, length));
}

bool VJSONPropertyTable::Append(const VString& name, VJSONValue&& value)
{
	Reserve(fLive + 1);
	int32 length = 0;
	int32 capacity = 0;
	UniChar* buffer = name.RetainBuffer(length, capacity);
	if (buffer == nullptr && name.GetLength() > 0)
		return false;
	_Emplace(buffer, length, capacity, std::move(value));
	return true;
}

void VJSONPropertyTable::AppendAdopting(UniChar* name, int32 length, int32 capacity, VJSONValue&& value)
{
	Reserve(fLive + 1);
	_Emplace(name, length, capacity, std::move(value));
}

void VJSONPropertyTable::AdoptEntries(std::vector<Entry>& entries)
{
	if (entries.empty())
		return;
	if (!fEntries.empty())
	{
		// Not the case the readers meet; each entry as a store of its own.
		Reserve(fLive + entries.size());
		for (Entry& entry : entries)
		{
			if (Entry* found = Find(entry.fName, entry.fLength))
				found->fValue = std::move(entry.fValue);
			else
				_Emplace(std::exchange(entry.fName, nullptr), entry.fLength, entry.fCapacity, std::move(entry.fValue));
		}
		entries.clear();
		return;
	}
	// Into the owner's room when it is free.
	EntryList adopted(fEntries.get_allocator());
	adopted.reserve(entries.size());
	std::unique_ptr<uint32[]> index;
	size_t mask = 0;
	if (entries.size() > kScanLimit)
	{
		size_t size = 16;
		while (size < 2 * entries.size())
			size *= 2;
		index.reset(new uint32[size]());
		mask = size - 1;
	}
	for (Entry& entry : entries)
	{
		Entry* found = nullptr;
		size_t slot = 0;
		if (index == nullptr)
		{
			for (Entry& kept : adopted)
			{
				if (kept.HasName(entry.fName, entry.fLength))
				{
					found = &kept;
					break;
				}
			}
		}
		else
		{
			for (slot = _Hash(entry.fName, entry.fLength) & mask; index[slot] != 0; slot = (slot + 1) & mask)
			{
				Entry& kept = adopted[index[slot] - 1];
				if (kept.HasName(entry.fName, entry.fLength))
				{
					found = &kept;
					break;
				}
			}
		}
		if (found != nullptr)
		{
			found->fValue = std::move(entry.fValue);
			continue;
		}
		adopted.push_back(std::move(entry));  // within the reserved room: cannot throw
		if (index != nullptr)
			index[slot] = uint32(adopted.size());
	}
	entries.clear();
	fEntries.swap(adopted);
	fIndex.swap(index);
	fIndexMask = mask;
	fLive = fEntries.size();
}

void VJSONPropertyTable::AppendSharingName(const Entry& named, VJSONValue&& value)
{
	Reserve(fLive + 1);
	VString::RetainRetainedBuffer(named.fName, named.fCapacity);
	_Emplace(named.fName, named.fLength, named.fCapacity, std::move(value));
}

void VJSONPropertyTable::Remove(Entry* entry, VJSONValue& removed)
{
	removed = std::move(entry->fValue);
	entry->_ReleaseName();
	entry->fLength = -1;
	entry->fCapacity = 0;
	--fLive;
	const size_t dead = fEntries.size() - fLive;
	if (fLive == 0)
	{
		fEntries.clear();
		if (fIndex != nullptr)
			std::fill(fIndex.get(), fIndex.get() + fIndexMask + 1, 0u);
	}
	else if (dead > kScanLimit && dead > fLive)
	{
		_Compact();
	}
}

void VJSONPropertyTable::_Compact()
{
	fEntries.erase(std::remove_if(fEntries.begin(), fEntries.end(), [](const Entry& entry) { return entry.IsRemoved(); }),
		fEntries.end());
	if (fIndex == nullptr)
		return;
	std::fill(fIndex.get(), fIndex.get() + fIndexMask + 1, 0u);
	for (size_t position = 0; position < fEntries.size(); ++position)
		_IndexEntry(position, _Hash(fEntries[position].fName, fEntries[position].fLength));
}

size_t VJSONPropertyTable::Rank(const Entry* entry) const
{
	size_t rank = 0;
	for (const Entry* walked = fEntries.data(); walked < entry; ++walked)
		rank += walked->IsRemoved() ? 0 : 1;
	return rank;
}

}  // namespace velk
