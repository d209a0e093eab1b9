// The two converter interfaces every byte/text boundary goes through: bytes of one character set to
// UTF-16 (VToUnicodeConverter) and UTF-16 to bytes of one character set (VFromUnicodeConverter).
#pragma once

#include "kernel/VExport.h"

#include <cstddef>

#include "kernel/VKernelTypes.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VMemoryBuffer.h"
#include "kernel/memory/VObject.h"

namespace velk {

class VString;

// Made with one reference, shared by reference counting. Converters keep no state between calls, so one
// instance serves any number of threads at once.
class VELK_API VToUnicodeConverter : public VObject, public IRefCountable
{
public:
	VToUnicodeConverter() = default;
	~VToUnicodeConverter() override = default;

	// False for the do-nothing converter handed out for a character set that has none.
	virtual bool IsValid() const;

	// Appends the converted text to ioString (it is not cleared first); outBytesConsumed may be null. The
	// count tells how far the conversion got: a sequence cut by the end of the input, and whatever a
	// converter stopped before, are left unconsumed. False with velk 300 raised only when the string cannot
	// grow; it then keeps what was converted. The source may lie in ioString: it is then read from a copy,
	// and when no copy can be made the answer is false (velk 300) with nothing converted.
	virtual bool ConvertString(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, VString& ioString) const;

	// Converts as much as fits and always stores both counts. True when no error was met; callers decide
	// completion from the counts. Units past those produced, within the room, may be written over.
	virtual bool Convert(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, UniChar* outDest, int32 inDestMaxUnits,
						 int32* outUnitsProduced) const = 0;

	// The most source bytes one UTF-16 unit takes, for sizing buffers.
	virtual int32 GetCharSize() const;
};

class VELK_API VFromUnicodeConverter : public VObject, public IRefCountable
{
public:
	VFromUnicodeConverter() = default;
	~VFromUnicodeConverter() override = default;

	virtual bool IsValid() const;

	// Converts as much as fits and always stores both counts. True when no error was met. Bytes past those
	// produced, within the room, may be written over.
	virtual bool Convert(const UniChar* inSource, int32 inSourceUnits, int32* outUnitsConsumed, void* outDest, size_t inDestMaxBytes,
						 size_t* outBytesProduced) const = 0;

	// The most bytes one UTF-16 unit gives, for sizing buffers.
	virtual int32 GetCharSize() const = 0;

	// Appends the converted bytes after the ioBytesInBuffer bytes already in ioBuffer (a block of the
	// process memory manager, or null), growing the block; inTrailingBytes more are reserved after the text
	// and not written. False with velk 300 ("mem failure") and the caller's block and count unchanged when
	// the block cannot grow; false when the converter meets an error or leaves units it will not take
	// (what was converted before is kept).
	bool ConvertRealloc(const UniChar* inSource, int32 inSourceUnits, void*& ioBuffer, size_t& ioBytesInBuffer, size_t inTrailingBytes) const;

	// The same, appending to a memory buffer whose size then counts the trailing bytes too (unwritten).
	// False with velk 300 ("mem failure") and the buffer unchanged when it cannot be sized.
	bool ConvertToBuffer(const UniChar* inSource, int32 inSourceUnits, VMemoryBuffer<1024, 2, 1048576>& ioBuffer, size_t inTrailingBytes) const;

private:
	// Converts into room bytes at dest, as long as calls make progress; adds to the counts.
	bool _ConvertInto(const UniChar* inSource, int32 inSourceUnits, uint8* dest, size_t room, int32& ioConsumed, size_t& ioProduced) const;
};

}  // namespace velk
