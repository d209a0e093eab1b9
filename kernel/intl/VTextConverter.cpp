// The converter interfaces: the string and buffer helpers every converter shares.
#include "kernel/intl/VTextConverter.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "kernel/memory/VCppMemMgr.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace velk {

namespace {

constexpr VError kConversionFailed = MakeVError(kVELK_SIGNATURE, 300);

void RaiseConversionFailed(const char* reason)
{
	const VString text(reason);
	_ThrowError(kConversionFailed, &text);
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// VToUnicodeConverter

bool VToUnicodeConverter::IsValid() const
{
	return true;
}

int32 VToUnicodeConverter::GetCharSize() const
{
	return 2;
}

bool VToUnicodeConverter::ConvertString(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, VString& ioString) const
{
	if (outBytesConsumed != nullptr)
		*outBytesConsumed = 0;
	if (inSource == nullptr)
		inSourceBytes = 0;
	// Bytes that lie in the string itself would be freed or written over as it grows: read from a copy.
	const StStringSource copy(ioString, inSource, inSourceBytes);
	if (!copy.IsValid())
	{
		RaiseConversionFailed("mem failure");
		return false;
	}
	const uint8* const source = static_cast<const uint8*>(copy.Get());

	const int32 length = ioString.GetLength();
	// The string's length is an int32: what does not fit in it is left unconsumed.
	const size_t maxRoom = size_t(INT32_MAX - 1) - size_t(length);

	// At most one unit per source byte is assumed; the room grows when a converter needs more.
	size_t room = std::min(inSourceBytes, maxRoom);
	UniChar* buffer = ioString.GetCPointerForWrite(int32(size_t(length) + room));
	if (buffer == nullptr)
	{
		RaiseConversionFailed("conversion failed (EnsureSize failed).");
		return false;
	}

	size_t consumed = 0;
	size_t produced = 0;
	bool result = true;
	bool grewForNoProgress = false;
	while (consumed < inSourceBytes)
	{
		size_t bytes = 0;
		int32 units = 0;
		Convert(source + consumed, inSourceBytes - consumed, &bytes, buffer + length + produced, int32(room), &units);
		consumed += bytes;
		produced += size_t(units);
		room -= size_t(units);
		if (consumed == inSourceBytes)
			break;

		const size_t left = inSourceBytes - consumed;
		bool grow = room < left;
		if (bytes == 0 && units == 0)
		{
			// No progress: either the input ends inside a sequence, or the next character needs more room
			// than is left. Only the second is helped by more room, and only once.
			if (grewForNoProgress || room >= 4)
				break;
			grow = true;
			grewForNoProgress = true;
		}
		else
		{
			grewForNoProgress = false;
		}
		if (grow)
		{
			const size_t used = size_t(length) + produced;
			room = std::min(left + 100, size_t(INT32_MAX - 1) - used);
			// The text converted so far becomes part of the string before the buffer moves.
			ioString.Validate(int32(used));
			buffer = (room == 0) ? nullptr : ioString.GetCPointerForWrite(int32(used + room));
			if (buffer == nullptr)
			{
				RaiseConversionFailed("conversion failed (EnsureSize failed).");
				result = false;
				break;
			}
		}
	}

	ioString.Validate(int32(size_t(length) + produced));
	if (outBytesConsumed != nullptr)
		*outBytesConsumed = consumed;
	return result;
}

// ---------------------------------------------------------------------------------------------------------
// VFromUnicodeConverter

bool VFromUnicodeConverter::IsValid() const
{
	return true;
}

bool VFromUnicodeConverter::_ConvertInto(const UniChar* inSource, int32 inSourceUnits, uint8* dest, size_t room, int32& ioConsumed,
										 size_t& ioProduced) const
{
	for (;;)
	{
		int32 units = 0;
		size_t bytes = 0;
		const bool result = Convert(inSource + ioConsumed, inSourceUnits - ioConsumed, &units, dest, room, &bytes);
		ioConsumed += units;
		ioProduced += bytes;
		dest += bytes;
		room -= bytes;
		if (!result)
			return false;
		if (bytes == 0 || ioConsumed >= inSourceUnits)
			return true;
	}
}

bool VFromUnicodeConverter::ConvertRealloc(const UniChar* inSource, int32 inSourceUnits, void*& ioBuffer, size_t& ioBytesInBuffer,
										   size_t inTrailingBytes) const
{
	if (inSource == nullptr || inSourceUnits < 0)
		inSourceUnits = 0;
	const size_t charSize = size_t(std::max(GetCharSize(), 1));

	int32 consumed = 0;
	for (;;)
	{
		const size_t rest = size_t(inSourceUnits - consumed);
		const size_t room = charSize * (rest + 2);
		if (ioBytesInBuffer > SIZE_MAX - room - inTrailingBytes)
		{
			RaiseConversionFailed("mem failure");
			return false;
		}
		void* block = VObject::sCppMemMgr->Realloc(ioBuffer, ioBytesInBuffer + room + inTrailingBytes);
		if (block == nullptr)
		{
			// The caller's block is still valid and holds what was converted so far.
			RaiseConversionFailed("mem failure");
			return false;
		}
		ioBuffer = block;

		const int32 before = consumed;
		size_t produced = 0;
		const bool result = _ConvertInto(inSource, inSourceUnits, static_cast<uint8*>(block) + ioBytesInBuffer, room, consumed, produced);
		ioBytesInBuffer += produced;
		if (!result)
			return false;
		if (consumed >= inSourceUnits)
			return true;
		// Units the converter would not take with room to spare (a high surrogate at the very end, which
		// waits for a partner that never comes) are text left out: the whole text was not converted.
		if (consumed == before)
			return false;
		// Another round with a larger block: this one ran out of room after some progress.
	}
}

bool VFromUnicodeConverter::ConvertToBuffer(const UniChar* inSource, int32 inSourceUnits, VMemoryBuffer<1024, 2, 1048576>& ioBuffer,
											size_t inTrailingBytes) const
{
	// The conversion runs in a block of its own that is then appended, so that the buffer is left as it
	// was when anything fails.
	void* block = nullptr;
	size_t bytes = 0;
	const bool result = ConvertRealloc(inSource, inSourceUnits, block, bytes, inTrailingBytes);
	if (block == nullptr)
		return result;
	// The trailing bytes are counted in the size; they carry no text.
	std::memset(static_cast<uint8*>(block) + bytes, 0, inTrailingBytes);
	bool appended = ioBuffer.AddData(block, uint64(bytes + inTrailingBytes));
	VObject::sCppMemMgr->Free(block);
	if (!appended)
	{
		RaiseConversionFailed("mem failure");
		return false;
	}
	return result;
}

}  // namespace velk
