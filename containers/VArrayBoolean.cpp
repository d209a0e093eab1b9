// Typed array of booleans: bit access, the counting sort of the whole array and the stream form's tail.
#include "containers/VArrayBoolean.h"

#include <new>

#include "kernel/values/VBoolean.h"
#include "kernel/values/VStream.h"

namespace velk {

const VValueInfo_array<VArrayBoolean, VK_ARRAY_BOOLEAN> VArrayBoolean::sInfo;

namespace {

// Number of set bits of every byte value.
struct BitCounts
{
	uint8 fCounts[256];

	constexpr BitCounts() : fCounts()
	{
		for (int32 value = 0; value < 256; ++value)
			fCounts[value] = uint8((value & 1) + fCounts[value >> 1]);
	}
};

constexpr BitCounts kBIT_COUNTS;

}  // namespace

VArrayBoolean::VArrayBoolean(int32 count)
	: VArrayValue(0)
{
	// The block has a byte even for no element; a failed allocation leaves the array empty and blockless.
	if (!SetCount(count))
		SetCount(0);
}

bool VArrayBoolean::_Bit(int32 index) const
{
	return ((static_cast<const uint8*>(fData)[index >> 3] >> (index & 7)) & 1) != 0;
}

void VArrayBoolean::_SetBit(int32 index, bool value)
{
	uint8& byte = static_cast<uint8*>(fData)[index >> 3];
	const uint8 mask = uint8(1u << (index & 7));
	byte = value ? uint8(byte | mask) : uint8(byte & ~mask);
}

void VArrayBoolean::_ClearBits(int32 from, int32 to)
{
	for (int32 index = from; index < to; ++index)
		_SetBit(index, false);
}

bool VArrayBoolean::SetCount(int32 count)
{
	if (count < 0)
		count = 0;
	// Dropped bits are cleared first: the bytes kept must read as false when the array grows again.
	if (count < fCount)
		_ClearBits(count, fCount);
	return VArrayValue::SetCount(count);
}

bool VArrayBoolean::GetBoolean(int32 pos) const
{
	return _IsValidPos(pos) && _Bit(pos - 1);
}

void VArrayBoolean::FromBoolean(uint8 value, int32 pos)
{
	if (_IsValidPos(pos))
		_SetBit(pos - 1, value != 0);
}

void VArrayBoolean::GetValue(VValueSingle& out, int32 pos) const
{
	if (!_IsValidPos(pos))
	{
		out.Clear();
		return;
	}
	out.FromBoolean(uint8(_Bit(pos - 1)));
}

VValueSingle* VArrayBoolean::CloneValue(int32 pos) const
{
	return new (std::nothrow) VBoolean(uint8(GetBoolean(pos)));
}

void VArrayBoolean::FromValue(const VValueSingle& value, int32 pos)
{
	FromBoolean(uint8(value.GetBoolean()), pos);
}

CompareResult VArrayBoolean::CompareTo(const VValueSingle& value, bool, int32 pos) const
{
	const int32 element = GetBoolean(pos) ? 1 : 0;
	const int32 other = value.GetBoolean() ? 1 : 0;
	return element < other ? CR_SMALLER : (element > other ? CR_BIGGER : CR_EQUAL);
}

int32 VArrayBoolean::Find(bool value, int32 start, bool forward, CompareMethod method) const
{
	if (method < CM_GREATER_OR_EQUAL || method > CM_SMALLER_OR_EQUAL)
		method = CM_EQUAL;
	return _FindBy(start, forward, method, [&](int32 pos) { return _Bit(pos - 1) == value; });
}

int32 VArrayBoolean::Find(const VValueSingle& value, int32 start, bool forward, CompareMethod method) const
{
	return Find(value.GetBoolean(), start, forward, method);
}

void VArrayBoolean::Sort(int32 from, int32 to, bool descending)
{
	if (!_IsSortRange(from, to))
		return;
	if (from > 1 || to < fCount)
	{
		ISortable* const sortables[] = {this, nullptr};
		const uint8 direction = descending ? 1 : 0;
		MultiCriteriaQSort(sortables, &direction, 1, from - 1, to - 1);
		return;
	}

	const uint8* bytes = static_cast<const uint8*>(fData);
	const int32 wholeBytes = fCount / 8;
	int32 trues = 0;
	for (int32 k = 0; k < wholeBytes; ++k)
		trues += kBIT_COUNTS.fCounts[bytes[k]];
	for (int32 index = wholeBytes * 8; index < fCount; ++index)
		trues += _Bit(index) ? 1 : 0;

	const int32 firstTrue = descending ? 0 : fCount - trues;
	for (int32 index = 0; index < fCount; ++index)
		_SetBit(index, index >= firstTrue && index < firstTrue + trues);
}

void VArrayBoolean::SwapElements(void*, int32 i, int32 j)
{
	const bool kept = _Bit(i);
	_SetBit(i, _Bit(j));
	_SetBit(j, kept);
}

int32 VArrayBoolean::CompareElements(void*, int32 i, int32 j)
{
	return int32(_Bit(i)) - int32(_Bit(j));
}

void VArrayBoolean::MoveElements(int32 from, int32 to, int32 n)
{
	if (from < 0 || to < 0 || n < 1 || from == to)
		return;
	if (n > fCount - from || n > fCount - to)
		return;
	// Bit by bit in the direction that never overwrites a bit still to be moved.
	if (to < from)
	{
		for (int32 k = 0; k < n; ++k)
			_SetBit(to + k, _Bit(from + k));
	}
	else
	{
		for (int32 k = n - 1; k >= 0; --k)
			_SetBit(to + k, _Bit(from + k));
	}
}

void VArrayBoolean::InitElements(int32 from, int32 n)
{
	if (from < 0 || n < 1 || n > fCount - from)
		return;
	_ClearBits(from, from + n);
}

VError VArrayBoolean::_ReadElements(VStream* stream)
{
	const VError error = VArrayValue::_ReadElements(stream);
	_ClearBits(fCount, int32(_BlockBytes(fCount) * 8));
	return error;
}

}  // namespace velk
