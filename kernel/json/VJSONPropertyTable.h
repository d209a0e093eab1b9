// The own properties of a JSON object: names with their values, kept in one block of entries in the order
// the names were first set (an entry's rank among the live ones is its ordinal), with an open-addressing
// index over the entries once there are more than a few. A property therefore costs no allocation of its
// own, and a lookup is one probe of the index, or a short scan of a small object's entries.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <memory>
#include <vector>

#include "kernel/VKernelTypes.h"
#include "kernel/json/VJSONRoomAllocator.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"

namespace velk {

class VELK_API VJSONPropertyTable
{
public:
	// One property. The name is a counted buffer shared with VString (null for the empty name); a removed
	// entry, left in place until the table is compacted, has a negative length.
	class VELK_API Entry
	{
	public:
		Entry() = default;
		Entry(UniChar* name, int32 length, int32 capacity, VJSONValue&& value) noexcept
			: fName(name), fLength(length), fCapacity(capacity), fValue(std::move(value))
		{
		}
		Entry(Entry&& other) noexcept;
		Entry& operator=(Entry&& other) noexcept;
		~Entry();
		Entry(const Entry&) = delete;
		Entry& operator=(const Entry&) = delete;

		bool IsRemoved() const { return fLength < 0; }
		const UniChar* GetNameUnits() const { return fName; }
		int32 GetNameLength() const { return fLength; }
		// The name as a string sharing the buffer.
		VString GetName() const;
		bool HasName(const UniChar* units, int32 length) const;

	private:
		friend class VJSONPropertyTable;
		void _ReleaseName();

		UniChar* fName = nullptr;
		int32 fLength = 0;
		int32 fCapacity = 0;

	public:
		VJSONValue fValue;
	};

	VJSONPropertyTable() = default;
	VJSONPropertyTable(VJSONPropertyTable&& other) noexcept;
	VJSONPropertyTable& operator=(VJSONPropertyTable&& other) noexcept;
	~VJSONPropertyTable() = default;
	VJSONPropertyTable(const VJSONPropertyTable&) = delete;
	VJSONPropertyTable& operator=(const VJSONPropertyTable&) = delete;

	// The entries take their first storage from room, which lies in the owner's block: for an empty table.
	void _UseRoom(VJSONTrailingRoom* room);

	size_t Count() const { return fLive; }
	bool IsEmpty() const { return fLive == 0; }

	// The live entry of that name, or null. The pointer holds until the table next changes.
	Entry* Find(const UniChar* units, int32 length);
	const Entry* Find(const UniChar* units, int32 length) const;
	Entry* Find(const VString& name) { return Find(name.GetCPointer(), name.GetLength()); }
	const Entry* Find(const VString& name) const { return Find(name.GetCPointer(), name.GetLength()); }

	// Appends a name that the table does not hold, sharing the string's buffer (a copy when the string's
	// buffer cannot be shared). Throws std::bad_alloc, the table unchanged, when it cannot grow; false
	// (velk 107 raised, unchanged) when the name's copy cannot be made.
	bool Append(const VString& name, VJSONValue&& value);
	// The same with a counted name buffer whose one reference the table takes over (null for the empty
	// name); on failure (std::bad_alloc) the caller keeps it.
	void AppendAdopting(UniChar* name, int32 length, int32 capacity, VJSONValue&& value);
	// Takes over the entries of an empty table, in their order, at their exact count (a name met again
	// keeps its first place and takes the later value). Throws std::bad_alloc, entries and table unchanged,
	// when the room cannot be made; entries is left empty otherwise.
	void AdoptEntries(std::vector<Entry>& entries);
	// Appends the name of another table's entry, sharing its buffer.
	void AppendSharingName(const Entry& named, VJSONValue&& value);
	// Takes the entry out: its value is moved into removed, its name released. The ordinals above it close
	// up (ranks).
	void Remove(Entry* entry, VJSONValue& removed);
	// Room for count live entries in all, so that appending up to there cannot fail.
	void Reserve(size_t count);
	// Exchanges the whole content with other.
	void Swap(VJSONPropertyTable& other) noexcept;

	// The rank of a live entry among the live ones: its ordinal.
	size_t Rank(const Entry* entry) const;

	// Calls visit(entry) for each live entry in insertion order. visit must not change the table.
	template <class Visit>
	void ForEach(Visit&& visit) const
	{
		for (const Entry& entry : fEntries)
		{
			if (!entry.IsRemoved())
				visit(entry);
		}
	}
	template <class Visit>
	void ForEach(Visit&& visit)
	{
		for (Entry& entry : fEntries)
		{
			if (!entry.IsRemoved())
				visit(entry);
		}
	}

	// Calls visit(entry) for each live entry in insertion order while it answers true. The entries are
	// reached by position and their count read again at each step, so that a visit that changes the table
	// (a value that writes itself by adding to it) cannot lead past the end.
	template <class Visit>
	void ForEachWhile(Visit&& visit) const
	{
		for (size_t position = 0; position < fEntries.size(); ++position)
		{
			const Entry& entry = fEntries[position];
			if (!entry.IsRemoved() && !visit(entry))
				return;
		}
	}

private:
	// Objects up to this many entries are scanned; larger ones are indexed.
	static constexpr size_t kScanLimit = 8;

	static size_t _Hash(const UniChar* units, int32 length);
	// Makes the index for the entries as they are, with room for at least count entries.
	void _BuildIndex(size_t count);
	void _IndexEntry(size_t position, size_t hash);
	// Drops the removed entries and makes the index again.
	void _Compact();
	// The entry appended, and the index kept up; the entries have room already.
	void _Emplace(UniChar* name, int32 length, int32 capacity, VJSONValue&& value);

	using EntryList = std::vector<Entry, VJSONRoomAllocator<Entry>>;

	EntryList fEntries;
	// Entry position + 1 by hash, 0 for an empty slot; null while the entries are few.
	std::unique_ptr<uint32[]> fIndex;
	size_t fIndexMask = 0;
	size_t fLive = 0;
};

}  // namespace velk
