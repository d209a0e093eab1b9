// Base of the typed value arrays: a whole column of one element kind kept in one contiguous block,
// resized, grown, emptied, searched, sorted and streamed by 1-based position. Each kind adds its typed
// access, its order and the stream form of its elements.
#pragma once

#include "kernel/VExport.h"

#include <type_traits>

#include "containers/ISortable.h"
#include "kernel/values/VValueMultiple.h"

namespace velk {

class VDuration;
class VString;
class VTime;
class VValueSingle;

// How Find matches an element against the value it is given; any other number makes Find answer its start.
using CompareMethod = int32;
constexpr CompareMethod CM_GREATER_OR_EQUAL = -2;
constexpr CompareMethod CM_GREATER = -1;
constexpr CompareMethod CM_EQUAL = 0;
constexpr CompareMethod CM_SMALLER = 1;
constexpr CompareMethod CM_SMALLER_OR_EQUAL = 2;

// The stream-form argument that puts the array's kind before its count.
constexpr int32 kARRAY_STREAM_PREFIX = int32(FourCharCode("VVAL"));

class VELK_API VArrayValue : public VValueMultiple, public ISortable
{
public:
	// Arrays own what their elements point to: they are not copied through the value base.
	VArrayValue(const VArrayValue&) = delete;
	VArrayValue& operator=(const VArrayValue&) = delete;
	// Frees the block. A kind whose elements own memory releases them in its own destructor first.
	~VArrayValue() override;

	int32 GetCount() const override { return fCount; }
	// The kind of the elements; 65535 (no kind) here.
	virtual ValueKind GetElemValueKind() const { return VK_UNDEFINED; }

	// Sets the number of elements (a negative count counts as 0): a smaller count first releases the
	// dropped elements; new elements are zeroed. The block keeps room beyond the count: it doubles when it
	// must grow and is given back when less than a quarter is used (count 0 frees it). False, with the
	// array unchanged, when the block cannot grow.
	virtual bool SetCount(int32 count);
	// Makes room for count zeroed elements before the 1-based position pos (clamped to 1..count+1).
	// False, with the array unchanged, when the block cannot grow.
	virtual bool Insert(int32 pos, int32 count);
	// Removes count elements from the 1-based position pos, releasing what they own; the range is cut to
	// the elements that exist (a start below 1 shortens it), and an empty range does nothing.
	virtual void Delete(int32 pos, int32 count);
	// Empties the array (count 0, block freed).
	void Clear() override;
	void Destroy() { Clear(); }

	// Each grows the array by one element set through the kind's setter of that type (a kind ignores the
	// types it does not hold, leaving a zeroed element); returns the new count (the old one, array
	// unchanged, when the block cannot grow).
	int32 AppendBoolean(bool value);
	int32 AppendByte(int8 value);
	int32 AppendWord(int16 value);
	int32 AppendLong(int32 value);
	int32 AppendLong8(int64 value);
	int32 AppendReal(double value);
	int32 AppendTime(const VTime& value);
	int32 AppendDuration(const VDuration& value);
	int32 AppendString(const VString& text);

	// Copies the element at the 1-based pos into out through out's own setter; out is cleared for a
	// position outside 1..count. The base, without elements of its own, clears out.
	virtual void GetValue(VValueSingle& out, int32 pos) const;
	// A new value of the element kind holding the element at pos, owned by the caller; null when memory is
	// short or the kind has no element value. The base answers null.
	virtual VValueSingle* CloneValue(int32 pos) const;
	// Stores value, converted to the element type, at pos; nothing outside 1..count. The base does nothing.
	virtual void FromValue(const VValueSingle& value, int32 pos);

	// The 1-based position of the first element from start (walking up when forward, down otherwise) that
	// matches value, converted to the element type, by method; -1 when none does, when the array is empty or
	// when start lies outside 1..count. A method other than -2..2 answers start. The base answers -1.
	virtual int32 Find(const VValueSingle& value, int32 start, bool forward, CompareMethod method) const;

	// Orders the 1-based positions from..to (inclusive); nothing unless 1 <= from < to <= count. The base
	// does nothing.
	virtual void Sort(int32 from, int32 to, bool descending);
	// Shuffles the elements the same way every time (nothing under 2 elements).
	virtual void Unsort();

	// Sorts first and makes up to 14 more arrays follow each of its exchanges, so that rows stay aligned.
	// False, nothing changed, when an array holds another count than the first or memory is short (velk 100).
	template <class... MORE>
	static bool SynchronizedSort(bool descending, VArrayValue* first, MORE*... more)
	{
		static_assert(sizeof...(MORE) <= 14, "up to 15 arrays are sorted together");
		static_assert((std::is_base_of_v<VArrayValue, MORE> && ...), "only typed arrays are sorted together");
		VArrayValue* const arrays[] = {first, more..., nullptr};
		return _SynchronizedSort(descending, arrays);
	}

	// Makes this array hold copies of other's elements (of the same kind). Copying an array into itself
	// does nothing. False, with this array left empty, when the kinds differ or memory is short (velk 100).
	virtual bool Copy(const VArrayValue& other);
	// A new array of the same kind and elements, owned by the caller; null when memory is short (velk 100).
	VValue* Clone() const override;

	void* LockAndGetData() override { return fData; }
	void UnlockData() override {}
	// Exchanges the raw bytes of two elements; plain kinds need nothing else.
	void SwapElements(void* data, int32 i, int32 j) override;
	// The base has no order: 0.
	int32 CompareElements(void* data, int32 i, int32 j) override;

	// Moves n elements from the 0-based index from to to (overlap allowed); nothing for negative indexes,
	// ranges past the count, equal indexes or n < 1.
	virtual void MoveElements(int32 from, int32 to, int32 n);
	// Releases what n elements from the 0-based index from own; nothing for plain kinds.
	virtual void DeleteElements(int32 from, int32 n);
	// Zeroes n elements from the 0-based index from.
	virtual void InitElements(int32 from, int32 n);

	// Stream form, in the stream's byte order: with kARRAY_STREAM_PREFIX as param, a uint32 holding the
	// array's kind first (read by the caller, not by ReadFromStream); then a uint32 count and the elements.
	// Reading is all or nothing: a negative count, or one whose elements cannot fit in the bytes left, is
	// corrupt data (velk 200 stored in the stream); velk 100 when memory is short; any error in the elements
	// is answered too, and in every such case the array is unchanged. Otherwise the stream's error.
	bool CanBeStreamed() const override { return true; }
	VError ReadFromStream(VStream* stream, int32 param = 0) override;
	VError WriteToStream(VStream* stream, int32 param = 0) const override;

protected:
	// count zeroed elements of elementSize bytes (a negative count counts as 0); the array stays empty when
	// the block cannot be had.
	VArrayValue(uint32 elementSize, int32 count);
	// For kinds whose block size is not count x element size: call SetCount from the derived constructor.
	explicit VArrayValue(uint32 elementSize);

	// Bytes of the block for count elements.
	virtual uint64 _BlockBytes(int32 count) const { return uint64(count) * fElementSize; }
	// The fewest stream bytes count elements take: a count beyond what is left is refused before any memory
	// is asked for.
	virtual uint64 _MinStreamBytes(int32 count) const { return _BlockBytes(count); }
	// The elements' stream form; the array already holds count zeroed elements when reading.
	virtual VError _ReadElements(VStream* stream);
	virtual void _WriteElements(VStream* stream) const;
	// Fills this array, already sized like other, with copies of other's elements; false when one cannot be
	// made (the places not copied stay zeroed).
	virtual bool _CopyElementsFrom(const VArrayValue& other);
	// Exchanges the whole content with another array of the same kind.
	virtual void _SwapContent(VArrayValue& other);

	// The walk of Find: matches(pos) tells whether the element at pos satisfies the search.
	template <class MATCHES>
	int32 _FindBy(int32 start, bool forward, CompareMethod method, MATCHES matches) const
	{
		if (fCount == 0 || start < 1 || start > fCount)
			return -1;
		if (method < CM_GREATER_OR_EQUAL || method > CM_SMALLER_OR_EQUAL)
			return start;
		const int32 step = forward ? 1 : -1;
		for (int32 pos = start; pos >= 1 && pos <= fCount; pos += step)
		{
			if (matches(pos))
				return pos;
		}
		return -1;
	}
	// Whether an element that compares to the value as result satisfies method (never for CR_UNRELEVANT).
	static bool _Satisfies(CompareResult result, CompareMethod method);

	// Start of the element at the 0-based index.
	uint8* _ElementAt(int32 index) const { return static_cast<uint8*>(fData) + size_t(index) * fElementSize; }
	bool _IsValidPos(int32 pos) const { return pos >= 1 && pos <= fCount; }
	// Converts a 1-based range for the sorts: false unless 1 <= from < to <= count.
	bool _IsSortRange(int32 from, int32 to) const { return from >= 1 && from < to && to <= fCount; }

	uint32 fElementSize;
	int32 fCount = 0;
	void* fData = nullptr;
	// Bytes of the block: the capacity, at least _BlockBytes(fCount).
	int32 fDataSize = 0;

private:
	static bool _SynchronizedSort(bool descending, VArrayValue* const* arrays);
	int32 _AppendOne();
};

}  // namespace velk
