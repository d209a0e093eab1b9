// Base of the typed value arrays: the element block and its resizing.
#include "containers/VArrayValue.h"

#include <algorithm>
#include <cstring>

#include "kernel/memory/VMemory.h"
#include "kernel/values/VValueSingle.h"

namespace velk {

namespace {

constexpr OsType kARRAY_TAG = FourCharCode("varr");

}  // namespace

VArrayValue::VArrayValue(uint32 elementSize, int32 count)
	: fElementSize(elementSize)
{
	// Growing from nothing releases no element: the base SetCount is all a constructor needs.
	VArrayValue::SetCount(count);
}

VArrayValue::~VArrayValue()
{
	VMemory::DisposePtr(fData);
}

bool VArrayValue::SetCount(int32 count)
{
	if (count < 0)
		count = 0;
	if (count == fCount)
		return true;

	const uint64 newSize = uint64(count) * fElementSize;
	if (count > fCount && newSize > uint64(INT32_MAX))
		return false;
	if (count < fCount)
		DeleteElements(count, fCount - count);

	if (newSize == 0)
	{
		VMemory::DisposePtr(fData);
		fData = nullptr;
		fDataSize = 0;
		fCount = count;
		return true;
	}

	if (newSize > uint64(fDataSize) || newSize < uint64(fDataSize) / 4)
	{
		// Growth doubles the block, so that appending one element at a time copies each element a bounded
		// number of times; a block left mostly empty is given back.
		uint64 blockSize = newSize;
		if (newSize > uint64(fDataSize))
			blockSize = std::min(std::max(newSize, 2 * uint64(fDataSize)), uint64(INT32_MAX) / fElementSize * fElementSize);
		void* block = fData != nullptr ? VMemory::SetPtrSize(fData, size_t(blockSize)) : VMemory::NewPtrClear(size_t(blockSize), int32(kARRAY_TAG));
		if (block != nullptr)
		{
			fData = block;
			fDataSize = int32(blockSize);
		}
		else if (newSize > uint64(fDataSize))
		{
			return false;
		}
		// A smaller count still holds in the old block.
	}
	// Places past the old count may hold bytes of elements dropped earlier.
	if (count > fCount)
		std::memset(_ElementAt(fCount), 0, size_t(count - fCount) * fElementSize);
	fCount = count;
	return true;
}

bool VArrayValue::Insert(int32 pos, int32 count)
{
	if (count < 1)
		return true;
	if (count > INT32_MAX - fCount)
		return false;
	if (pos < 1)
		pos = 1;
	if (pos > fCount + 1)
		pos = fCount + 1;

	const int32 oldCount = fCount;
	if (!SetCount(oldCount + count))
		return false;
	MoveElements(pos - 1, pos - 1 + count, oldCount - (pos - 1));
	InitElements(pos - 1, count);
	return true;
}

void VArrayValue::Clear()
{
	SetCount(0);
}

int32 VArrayValue::AppendString(const VString& text)
{
	const int32 pos = fCount + 1;
	if (!Insert(pos, 1))
		return fCount;
	FromString(text, pos);
	return fCount;
}

void VArrayValue::GetValue(VValueSingle& out, int32) const
{
	out.Clear();
}

void VArrayValue::MoveElements(int32 from, int32 to, int32 n)
{
	if (from < 0 || to < 0 || n < 1 || from == to)
		return;
	if (n > fCount - from || n > fCount - to)
		return;
	std::memmove(_ElementAt(to), _ElementAt(from), size_t(n) * fElementSize);
}

void VArrayValue::DeleteElements(int32, int32) {}

void VArrayValue::InitElements(int32 from, int32 n)
{
	if (from < 0 || n < 1 || n > fCount - from)
		return;
	std::memset(_ElementAt(from), 0, size_t(n) * fElementSize);
}

}  // namespace velk
