// Base of the typed value arrays: the element block, its resizing, copies, the shared sort entry points
// and the frame of the stream form.
#include "containers/VArrayValue.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "kernel/memory/VMemory.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VStream.h"
#include "kernel/values/VTime.h"
#include "kernel/values/VValueInfo.h"
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

VArrayValue::VArrayValue(uint32 elementSize)
	: fElementSize(elementSize)
{
}

VArrayValue::~VArrayValue()
{
	VMemory::DisposePtr(fData);
}

bool VArrayValue::SetCount(int32 count)
{
	if (count < 0)
		count = 0;
	if (count == fCount && (fData != nullptr || _BlockBytes(count) == 0))
		return true;

	const uint64 newSize = _BlockBytes(count);
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
			blockSize = std::min(std::max(newSize, 2 * uint64(fDataSize)), uint64(INT32_MAX));
		void* block = fData != nullptr ? VMemory::SetPtrSize(fData, size_t(blockSize)) : VMemory::NewPtrClear(size_t(blockSize), int32(kARRAY_TAG));
		if (block != nullptr)
		{
			// Bytes past the old block are not zeroed by a resize.
			if (blockSize > uint64(fDataSize))
				std::memset(static_cast<uint8*>(block) + fDataSize, 0, size_t(blockSize - uint64(fDataSize)));
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
	if (count > fCount && fElementSize > 0)
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

void VArrayValue::Delete(int32 pos, int32 count)
{
	if (pos < 1)
	{
		// The part of the range before the first element deletes nothing.
		if (int64(count) + pos - 1 < 1)
			return;
		count += pos - 1;
		pos = 1;
	}
	if (pos > fCount || count < 1)
		return;
	count = std::min(count, fCount - pos + 1);

	DeleteElements(pos - 1, count);
	const int32 following = fCount - (pos - 1 + count);
	MoveElements(pos - 1 + count, pos - 1, following);
	// The tail now repeats moved elements: cleared, so that shrinking releases nothing twice.
	InitElements(fCount - count, count);
	SetCount(fCount - count);
}

void VArrayValue::Clear()
{
	SetCount(0);
}

int32 VArrayValue::_AppendOne()
{
	const int32 pos = fCount + 1;
	return Insert(pos, 1) ? pos : 0;
}

int32 VArrayValue::AppendBoolean(bool value)
{
	if (const int32 pos = _AppendOne())
		FromBoolean(uint8(value), pos);
	return fCount;
}

int32 VArrayValue::AppendByte(int8 value)
{
	if (const int32 pos = _AppendOne())
		FromByte(value, pos);
	return fCount;
}

int32 VArrayValue::AppendWord(int16 value)
{
	if (const int32 pos = _AppendOne())
		FromWord(value, pos);
	return fCount;
}

int32 VArrayValue::AppendLong(int32 value)
{
	if (const int32 pos = _AppendOne())
		FromLong(value, pos);
	return fCount;
}

int32 VArrayValue::AppendLong8(int64 value)
{
	if (const int32 pos = _AppendOne())
		FromLong8(value, pos);
	return fCount;
}

int32 VArrayValue::AppendReal(double value)
{
	if (const int32 pos = _AppendOne())
		FromReal(value, pos);
	return fCount;
}

int32 VArrayValue::AppendTime(const VTime& value)
{
	if (const int32 pos = _AppendOne())
		FromTime(value, pos);
	return fCount;
}

int32 VArrayValue::AppendDuration(const VDuration& value)
{
	if (const int32 pos = _AppendOne())
		FromDuration(value, pos);
	return fCount;
}

int32 VArrayValue::AppendString(const VString& text)
{
	if (const int32 pos = _AppendOne())
		FromString(text, pos);
	return fCount;
}

void VArrayValue::GetValue(VValueSingle& out, int32) const
{
	out.Clear();
}

VValueSingle* VArrayValue::CloneValue(int32) const
{
	return nullptr;
}

void VArrayValue::FromValue(const VValueSingle&, int32) {}

int32 VArrayValue::Find(const VValueSingle&, int32, bool, CompareMethod) const
{
	return -1;
}

void VArrayValue::Sort(int32, int32, bool) {}

void VArrayValue::Unsort()
{
	if (fCount < 2)
		return;
	void* data = LockAndGetData();
	const int32 last = fCount - 1;
	int32 down = last;
	for (int32 up = 0; up < last; up += 2)
	{
		if (up != down)
			SwapElements(data, up, down);
		down -= 3;
		if (down < 0)
			down = last;
	}
	UnlockData();
}

bool VArrayValue::_SynchronizedSort(bool descending, VArrayValue* const* arrays)
{
	if (arrays[0] == nullptr)
		return true;
	const int32 count = arrays[0]->GetCount();
	ISortable* sortables[16];
	int32 n = 0;
	for (; arrays[n] != nullptr; ++n)
	{
		// A shorter follower would be read and written past its end.
		if (arrays[n]->GetCount() != count)
			return false;
		sortables[n] = arrays[n];
	}
	sortables[n] = nullptr;
	const uint8 direction = descending ? 1 : 0;
	return MultiCriteriaQSort(sortables, &direction, 1, 0, count - 1);
}

bool VArrayValue::Copy(const VArrayValue& other)
{
	if (&other == this)
		return true;
	Clear();
	if (other.GetValueKind() != GetValueKind() || other.fElementSize != fElementSize)
		return false;
	if (!SetCount(other.fCount))
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	if (!_CopyElementsFrom(other))
	{
		Clear();
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	return true;
}

VValue* VArrayValue::Clone() const
{
	const VValueInfo* info = GetValueInfo();
	VValue* made = info != nullptr ? info->Generate() : nullptr;
	VArrayValue* array = dynamic_cast<VArrayValue*>(made);
	if (array == nullptr || !array->Copy(*this))
	{
		delete made;
		if (array == nullptr)
			_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	return array;
}

bool VArrayValue::_CopyElementsFrom(const VArrayValue& other)
{
	const uint64 bytes = _BlockBytes(fCount);
	if (bytes > 0)
		std::memcpy(fData, other.fData, size_t(bytes));
	return true;
}

void VArrayValue::_SwapContent(VArrayValue& other)
{
	std::swap(fElementSize, other.fElementSize);
	std::swap(fCount, other.fCount);
	std::swap(fData, other.fData);
	std::swap(fDataSize, other.fDataSize);
}

void VArrayValue::SwapElements(void*, int32 i, int32 j)
{
	uint8* a = _ElementAt(i);
	uint8* b = _ElementAt(j);
	for (uint32 k = 0; k < fElementSize; ++k)
		std::swap(a[k], b[k]);
}

int32 VArrayValue::CompareElements(void*, int32, int32)
{
	return 0;
}

bool VArrayValue::_Satisfies(CompareResult result, CompareMethod method)
{
	switch (result)
	{
		case CR_SMALLER:
			return method == CM_SMALLER || method == CM_SMALLER_OR_EQUAL;
		case CR_EQUAL:
			return method == CM_EQUAL || method == CM_SMALLER_OR_EQUAL || method == CM_GREATER_OR_EQUAL;
		case CR_BIGGER:
			return method == CM_GREATER || method == CM_GREATER_OR_EQUAL;
		default:
			return false;
	}
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

VError VArrayValue::WriteToStream(VStream* stream, int32 param) const
{
	if (param == kARRAY_STREAM_PREFIX)
		stream->PutLong(int32(GetValueKind()));
	stream->PutLong(fCount);
	if (stream->GetLastError() == VE_OK)
		_WriteElements(stream);
	return stream->GetLastError();
}

VError VArrayValue::ReadFromStream(VStream* stream, int32)
{
	int32 count = 0;
	if (stream->GetLong(count) != VE_OK)
		return stream->GetLastError();
	if (count < 0 || _MinStreamBytes(count) > uint64(stream->GetRemaining()))
		return stream->SetError(VE_STREAM_EOF);

	// The elements are read into a fresh array, taken only once all of them are in.
	const VValueInfo* info = GetValueInfo();
	VValue* made = info != nullptr ? info->Generate() : nullptr;
	VArrayValue* fresh = dynamic_cast<VArrayValue*>(made);
	if (fresh == nullptr || fresh->GetValueKind() != GetValueKind() || !fresh->SetCount(count))
	{
		delete made;
		_ThrowError(VE_MEMORY_FULL);
		return VE_MEMORY_FULL;
	}
	VError error = fresh->_ReadElements(stream);
	if (error == VE_OK)
		error = stream->GetLastError();
	if (error == VE_OK)
		_SwapContent(*fresh);
	delete fresh;
	return error;
}

VError VArrayValue::_ReadElements(VStream* stream)
{
	const uint64 bytes = _BlockBytes(fCount);
	if (bytes > 0)
		stream->GetData(fData, size_t(bytes));
	return stream->GetLastError();
}

void VArrayValue::_WriteElements(VStream* stream) const
{
	const uint64 bytes = _BlockBytes(fCount);
	if (bytes > 0 && fData != nullptr)
	{
		stream->PutData(fData, size_t(bytes));
	}
	else
	{
		// An empty boolean array whose byte could not be had still writes its byte.
		for (uint64 k = 0; k < bytes; ++k)
			stream->PutByte(0);
	}
}

}  // namespace velk
