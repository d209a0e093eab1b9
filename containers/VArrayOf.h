// A small growable array of plain elements (numbers, pointers, function pointers) with 1-based positions,
// an optional mode that refuses duplicates and an optional borrowed buffer. It grows by a fixed step, not
// geometrically: it is meant for a few tens of elements, searched linearly. It is no value and has no stream
// form. Not locked: its owner serialises access.
#pragma once

#include <cstring>
#include <type_traits>

#include "kernel/VKernelTypes.h"
#include "kernel/memory/VMemory.h"
#include "kernel/memory/VObject.h"
#include "runtime/VError.h"

namespace velk {

template <class T>
class VArrayOf : public VObject
{
	// Elements are moved as bytes when the buffer grows or positions shift.
	static_assert(std::is_trivially_copyable_v<T>, "VArrayOf holds plain elements only");

public:
	// No buffer until the first element; a grow step below 1 counts as 1.
	explicit VArrayOf(int32 growStep = 10, bool unique = false)
	: fGrowStep(growStep < 1 ? 1 : growStep), fUnique(unique)
	{
	}

	// Starts on a buffer of allocated elements owned by the caller: it is used until it is full and never
	// freed by the array, which moves to a buffer of its own when it needs more room.
	VArrayOf(T* borrowed, int32 allocated, int32 growStep = 10, bool unique = false)
	: fData(borrowed), fAllocated(borrowed != nullptr && allocated > 0 ? allocated : 0),
	  fGrowStep(growStep < 1 ? 1 : growStep), fUnique(unique), fNotOwned(borrowed != nullptr)
	{
	}

	VArrayOf(const VArrayOf&) = delete;
	VArrayOf& operator=(const VArrayOf&) = delete;

	~VArrayOf() override { _FreeBuffer(); }

	int32 GetCount() const { return fCount; }
	int32 GetAllocated() const { return fAllocated; }
	bool IsUnique() const { return fUnique; }

	// The element at pos (1..count); T() outside.
	T GetNth(int32 pos) const { return _IsPosition(pos) ? fData[pos - 1] : T(); }

	// Overwrites the element at pos (1..count) without releasing what was there; false outside.
	bool SetNth(const T& value, int32 pos)
	{
		if (!_IsPosition(pos))
			return false;
		fData[pos - 1] = value;
		return true;
	}

	// Inserts value before pos, clamped to 1..count + 1 (0 or below inserts first, beyond the end appends).
	// False when the unique flag is set and value is already there, or when memory is short: velk 100 is
	// then thrown and the array is unchanged.
	bool AddNth(const T& value, int32 pos)
	{
		if (fUnique && FindPos(value) > 0)
			return false;
		if (fCount >= fAllocated && !_Grow())
		{
			_ThrowError(VE_MEMORY_FULL);
			return false;
		}
		if (pos < 1)
			pos = 1;
		else if (pos > fCount + 1)
			pos = fCount + 1;
		T* at = fData + (pos - 1);
		std::memmove(static_cast<void*>(at + 1), static_cast<const void*>(at), size_t(fCount - (pos - 1)) * sizeof(T));
		*at = value;
		++fCount;
		return true;
	}

	bool Append(const T& value) { return AddNth(value, fCount + 1); }

	// Removes count elements from pos (the range clipped to the elements in use), handing them to
	// DoDeleteDataRange first. Nothing for a pos outside 1..count or a count below 1.
	void DeleteNth(int32 pos, int32 count = 1)
	{
		if (!_IsPosition(pos) || count < 1)
			return;
		if (count > fCount - (pos - 1))
			count = fCount - (pos - 1);
		T* begin = fData + (pos - 1);
		DoDeleteDataRange(begin, begin + count);
		std::memmove(static_cast<void*>(begin), static_cast<const void*>(begin + count),
			size_t(fCount - (pos - 1) - count) * sizeof(T));
		fCount -= count;
	}

	// Removes every element (through DoDeleteDataRange); the buffer is kept.
	void DeleteAll()
	{
		if (fCount > 0)
			DoDeleteDataRange(fData, fData + fCount);
		fCount = 0;
	}

	// The position of the first element equal to value at or after start (values below 1 count as 1);
	// 0 when there is none.
	int32 FindPos(const T& value, int32 start = 1) const
	{
		if (start < 1)
			start = 1;
		if (start > fCount)
			return 0;
		const T* end = fData + fCount;
		const T* found = DoFindData(fData + (start - 1), end, value);
		return found == end ? 0 : int32(found - fData) + 1;
	}

	bool Contains(const T& value) const { return FindPos(value) > 0; }

	// The first element equal to value in [begin, end), or end; plain ==.
	virtual const T* DoFindData(const T* begin, const T* end, const T& value) const
	{
		for (const T* each = begin; each != end; ++each)
			if (*each == value)
				return each;
		return end;
	}

	// Elements leaving the array; plain elements need nothing.
	virtual void DoDeleteDataRange(T* /*begin*/, T* /*end*/) {}

protected:
	T* _GetData() const { return fData; }

	// Set by VArrayRetainedPtrOf: the elements are released when the array goes.
	bool fRetained = false;

	// Frees the buffer unless it is borrowed, and forgets the elements without handing them to
	// DoDeleteDataRange (a destructor cannot reach the derived class any more).
	void _FreeBuffer()
	{
		if (!fNotOwned)
			VMemory::DisposePtr(fData);
		fData = nullptr;
		fCount = 0;
		fAllocated = 0;
		fNotOwned = false;
	}

private:
	bool _IsPosition(int32 pos) const { return pos >= 1 && pos <= fCount; }

	// count + grow step elements, else count + 1; the elements copied, the old buffer freed when owned.
	bool _Grow()
	{
		constexpr int32 kTag = int32(FourCharCode("arr "));
		int64 size = int64(fCount) + fGrowStep;
		if (size > kMaxElements)
			size = kMaxElements;
		T* data = size > fCount ? static_cast<T*>(VMemory::NewPtr(size_t(size) * sizeof(T), kTag)) : nullptr;
		if (data == nullptr && fCount < kMaxElements)
		{
			size = int64(fCount) + 1;
			data = static_cast<T*>(VMemory::NewPtr(size_t(size) * sizeof(T), kTag));
		}
		if (data == nullptr)
			return false;
		if (fCount > 0)
			std::memcpy(static_cast<void*>(data), static_cast<const void*>(fData), size_t(fCount) * sizeof(T));
		if (!fNotOwned)
			VMemory::DisposePtr(fData);
		fData = data;
		fNotOwned = false;
		fAllocated = int32(size);
		return true;
	}

	// Positions are int32: the count never passes this.
	static constexpr int64 kMaxElements = 0x7FFFFFFF;

	T* fData = nullptr;
	int32 fCount = 0;
	int32 fAllocated = 0;
	int32 fGrowStep = 10;
	bool fUnique = false;
	bool fNotOwned = false;
};

}  // namespace velk
