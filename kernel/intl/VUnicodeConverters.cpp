// The built-in converters.
#include "kernel/intl/VUnicodeConverters.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "kernel/intl/VUTFCodec.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace velk {

namespace {

void RaiseConversionFailed(const char* reason)
{
	const VString text(reason);
	_ThrowError(MakeVError(kVELK_SIGNATURE, 300), &text);
}

void RaiseCannotGrow()
{
	RaiseConversionFailed("conversion failed (EnsureSize failed).");
}

inline size_t RoomInBytes(const void* dest, int32 maxUnits, size_t unitBytes)
{
	return (dest == nullptr || maxUnits <= 0) ? 0 : size_t(maxUnits) * unitBytes;
}

void SwapUnits(UniChar* units, size_t count)
{
	for (size_t i = 0; i < count; ++i)
		units[i] = UniChar(__builtin_bswap16(uint16(units[i])));
}

// Whole units from the source into the destination: min(source bytes, 2 x room) rounded down to even.
size_t CopyUnits(const void* source, size_t sourceBytes, void* dest, size_t roomBytes)
{
	if (source == nullptr)
		return 0;
	const size_t bytes = std::min(sourceBytes, roomBytes) & ~size_t(1);
	if (bytes > 0)
		std::memcpy(dest, source, bytes);
	return bytes;
}

// Appends the whole units of the block to the string; swapped when asked. The consumed count excludes an odd
// last byte, which waits for the rest of its unit.
bool AppendUnits(const void* source, size_t sourceBytes, size_t* outBytesConsumed, VString& ioString, bool swap)
{
	if (outBytesConsumed != nullptr)
		*outBytesConsumed = 0;
	if (source == nullptr)
		return true;
	const int32 length = ioString.GetLength();
	const size_t units = std::min(sourceBytes / 2, size_t(INT32_MAX - 1) - size_t(length));
	// Units that lie in the string itself would be freed as it grows: they are read from a copy.
	const StStringSource copy(ioString, source, units * 2);
	if (!copy.IsValid())
	{
		RaiseConversionFailed("mem failure");
		return false;
	}
	UniChar* buffer = ioString.GetCPointerForWrite(int32(size_t(length) + units));
	if (buffer == nullptr)
	{
		RaiseCannotGrow();
		return false;
	}
	std::memcpy(buffer + length, copy.Get(), units * 2);
	if (swap)
		SwapUnits(buffer + length, units);
	ioString.Validate(int32(size_t(length) + units));
	if (outBytesConsumed != nullptr)
		*outBytesConsumed = units * 2;
	return true;
}

inline uint32 Load32(const uint8* p, bool swap)
{
	uint32 value;
	std::memcpy(&value, p, 4);
	return swap ? __builtin_bswap32(value) : value;
}

inline void Store32(uint8* p, uint32 value, bool swap)
{
	if (swap)
		value = __builtin_bswap32(value);
	std::memcpy(p, &value, 4);
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// UTF-16, machine order and swapped

bool VToUnicodeConverter_Null::ConvertString(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, VString& ioString) const
{
	return AppendUnits(inSource, inSourceBytes, outBytesConsumed, ioString, false);
}

bool VToUnicodeConverter_Null::Convert(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, UniChar* outDest,
									   int32 inDestMaxUnits, int32* outUnitsProduced) const
{
	const size_t bytes = CopyUnits(inSource, inSourceBytes, outDest, RoomInBytes(outDest, inDestMaxUnits, 2));
	*outBytesConsumed = bytes;
	*outUnitsProduced = int32(bytes / 2);
	return true;
}

bool VFromUnicodeConverter_Null::Convert(const UniChar* inSource, int32 inSourceUnits, int32* outUnitsConsumed, void* outDest,
										 size_t inDestMaxBytes, size_t* outBytesProduced) const
{
	const size_t bytes = CopyUnits(inSource, RoomInBytes(inSource, inSourceUnits, 2), outDest, outDest == nullptr ? 0 : inDestMaxBytes);
	*outUnitsConsumed = int32(bytes / 2);
	*outBytesProduced = bytes;
	return true;
}

bool VToUnicodeConverter_Swap::ConvertString(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, VString& ioString) const
{
	return AppendUnits(inSource, inSourceBytes, outBytesConsumed, ioString, true);
}

bool VToUnicodeConverter_Swap::Convert(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, UniChar* outDest,
									   int32 inDestMaxUnits, int32* outUnitsProduced) const
{
	const size_t bytes = CopyUnits(inSource, inSourceBytes, outDest, RoomInBytes(outDest, inDestMaxUnits, 2));
	SwapUnits(outDest, bytes / 2);
	*outBytesConsumed = bytes;
	*outUnitsProduced = int32(bytes / 2);
	return true;
}

bool VFromUnicodeConverter_Swap::Convert(const UniChar* inSource, int32 inSourceUnits, int32* outUnitsConsumed, void* outDest,
										 size_t inDestMaxBytes, size_t* outBytesProduced) const
{
	const size_t bytes = CopyUnits(inSource, RoomInBytes(inSource, inSourceUnits, 2), outDest, outDest == nullptr ? 0 : inDestMaxBytes);
	uint8* out = static_cast<uint8*>(outDest);
	for (size_t i = 0; i < bytes; i += 2)
		std::swap(out[i], out[i + 1]);
	*outUnitsConsumed = int32(bytes / 2);
	*outBytesProduced = bytes;
	return true;
}

// ---------------------------------------------------------------------------------------------------------
// UTF-32 code points

bool VToUnicodeConverter_UTF32::Convert(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, UniChar* outDest,
										int32 inDestMaxUnits, int32* outUnitsProduced) const
{
	return DecodeUTF32(inSource, inSourceBytes, fSwap, outBytesConsumed, outDest, inDestMaxUnits, outUnitsProduced);
}

bool VFromUnicodeConverter_UTF32::Convert(const UniChar* inSource, int32 inSourceUnits, int32* outUnitsConsumed, void* outDest,
										  size_t inDestMaxBytes, size_t* outBytesProduced) const
{
	const int32 count = (inSource == nullptr) ? 0 : std::max(inSourceUnits, 0);
	uint8* const begin = static_cast<uint8*>(outDest);
	const size_t room = (begin == nullptr) ? 0 : inDestMaxBytes;
	size_t produced = 0;
	int32 i = 0;
	while (i < count && room - produced >= 4)
	{
		uint32 value = inSource[i];
		int32 units = 1;
		if (value >= 0xD800 && value <= 0xDFFF)
		{
			const bool pair = value <= 0xDBFF && i + 1 < count && inSource[i + 1] >= 0xDC00 && inSource[i + 1] <= 0xDFFF;
			if (!pair)
				break;
			value = ((value - 0xD800) << 10) + (uint32(inSource[i + 1]) - 0xDC00) + 0x10000;
			units = 2;
		}
		Store32(begin + produced, value, fSwap);
		produced += 4;
		i += units;
	}
	*outUnitsConsumed = i;
	*outBytesProduced = produced;
	return i == count;
}

// ---------------------------------------------------------------------------------------------------------
// Raw UTF-32: one value per UTF-16 unit

bool VToUnicodeConverter_UTF32_Raw::ConvertString(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, VString& ioString) const
{
	if (outBytesConsumed != nullptr)
		*outBytesConsumed = 0;
	if (inSource == nullptr)
		return true;
	const int32 length = ioString.GetLength();
	const size_t count = std::min(inSourceBytes / 4, size_t(INT32_MAX - 1) - size_t(length));
	// Values that lie in the string itself would be freed or written over as it grows: read from a copy.
	const StStringSource copy(ioString, inSource, count * 4);
	if (!copy.IsValid())
	{
		RaiseConversionFailed("mem failure");
		return false;
	}
	UniChar* buffer = ioString.GetCPointerForWrite(int32(size_t(length) + count));
	if (buffer == nullptr)
	{
		RaiseCannotGrow();
		return false;
	}
	size_t consumed = 0;
	int32 produced = 0;
	Convert(copy.Get(), count * 4, &consumed, buffer + length, int32(count), &produced);
	ioString.Validate(length + produced);
	if (outBytesConsumed != nullptr)
		*outBytesConsumed = consumed;
	return true;
}

bool VToUnicodeConverter_UTF32_Raw::Convert(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, UniChar* outDest,
											int32 inDestMaxUnits, int32* outUnitsProduced) const
{
	const uint8* const source = static_cast<const uint8*>(inSource);
	const size_t count = (source == nullptr) ? 0 : std::min(inSourceBytes, RoomInBytes(outDest, inDestMaxUnits, 4)) / 4;
	for (size_t i = 0; i < count; ++i)
		outDest[i] = UniChar(Load32(source + 4 * i, fSwap));
	*outBytesConsumed = count * 4;
	*outUnitsProduced = int32(count);
	return true;
}

bool VFromUnicodeConverter_UTF32_Raw::Convert(const UniChar* inSource, int32 inSourceUnits, int32* outUnitsConsumed, void* outDest,
											  size_t inDestMaxBytes, size_t* outBytesProduced) const
{
	uint8* const dest = static_cast<uint8*>(outDest);
	const size_t sourceBytes = RoomInBytes(inSource, inSourceUnits, 4);
	const size_t count = (dest == nullptr) ? 0 : std::min(sourceBytes, inDestMaxBytes) / 4;
	// Back to front: value i covers units 2i and 2i+1 of the source, all at or behind unit i.
	for (size_t i = count; i > 0; --i)
	{
		UniChar unit;
		std::memcpy(&unit, reinterpret_cast<const uint8*>(inSource) + 2 * (i - 1), 2);
		Store32(dest + 4 * (i - 1), unit, fSwap);
	}
	*outUnitsConsumed = int32(count);
	*outBytesProduced = count * 4;
	return true;
}

// ---------------------------------------------------------------------------------------------------------
// UTF-8

bool VToUnicodeConverter_UTF8::Convert(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, UniChar* outDest,
									   int32 inDestMaxUnits, int32* outUnitsProduced) const
{
	return DecodeUTF8(inSource, inSourceBytes, outBytesConsumed, outDest, inDestMaxUnits, outUnitsProduced);
}

bool VFromUnicodeConverter_UTF8::Convert(const UniChar* inSource, int32 inSourceUnits, int32* outUnitsConsumed, void* outDest,
										 size_t inDestMaxBytes, size_t* outBytesProduced) const
{
	return EncodeUTF8(inSource, inSourceUnits, outUnitsConsumed, outDest, inDestMaxBytes, outBytesProduced);
}

bool VFromUnicodeConverter_UTF8::ConvertFrom_wchar(const wchar_t* inSource, int32 inSourceUnits, int32* outUnitsConsumed, void* outDest,
												   size_t inDestMaxBytes, size_t* outBytesProduced) const
{
	return EncodeUTF8Wide(inSource, inSourceUnits, outUnitsConsumed, outDest, inDestMaxBytes, outBytesProduced);
}

// ---------------------------------------------------------------------------------------------------------
// No character set

bool VToUnicodeConverter_Void::Convert(const void*, size_t, size_t* outBytesConsumed, UniChar*, int32, int32* outUnitsProduced) const
{
	*outBytesConsumed = 0;
	*outUnitsProduced = 0;
	return false;
}

bool VFromUnicodeConverter_Void::Convert(const UniChar*, int32, int32* outUnitsConsumed, void*, size_t, size_t* outBytesProduced) const
{
	*outUnitsConsumed = 0;
	*outBytesProduced = 0;
	return false;
}

}  // namespace velk
