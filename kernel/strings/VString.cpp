// The toolbox's text type: storage, sharing, growth, construction, the flat form, editing, comparison and
// search.
#include "kernel/strings/VString.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <new>
#include <string>
#include <utility>

#include "kernel/intl/VIntlMgr.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/intl/VUTFCodec.h"
#include "kernel/memory/VCppMemMgr.h"
#include "kernel/strings/VStringOrder.h"
#include "kernel/values/VCompareOptions.h"
#include "kernel/values/VNumberText.h"
#include "runtime/VTask.h"

namespace velk {

static_assert(sizeof(wchar_t) == 4, "wide text is decoded as UTF-32");

namespace {

constexpr uint8 kBUFFER_FLAGS = VString::kFLAG_EXTERNAL | VString::kFLAG_UNREFCOUNTED;

// A counted block holds the units, the terminator slot, then the uint32 count at the first 4-byte aligned
// unit index behind the terminator: (capacity | 1) + 1. The block reaches past the count.
inline size_t CountedBlockBytes(int32 capacity)
{
	return (size_t(capacity | 1) + 3) * sizeof(UniChar);
}

void InitCount(UniChar* buffer, int32 capacity)
{
	::new (buffer + (capacity | 1) + 1) uint32(1);
}

void FreeBlock(void* block)
{
	// Statics destroyed after the manager cannot give their block back; the process is ending anyway.
	if (VObject::sCppMemMgr != nullptr)
		VObject::sCppMemMgr->Free(block);
}

void RaiseAllocFailed()
{
	_ThrowError(VE_STRING_ALLOC_FAILED);
}

constexpr CharSet kSET_UTF16_NATIVE = 2;

inline bool IsHighSurrogate(UniChar unit)
{
	return unit >= 0xD800 && unit <= 0xDBFF;
}

}  // namespace

void VString::_ReleaseCounted(UniChar* buffer, int32 capacity)
{
	if (_CountOf(buffer, capacity).fetch_sub(1, std::memory_order_acq_rel) == 1)
		FreeBlock(buffer);
}

// ---------------------------------------------------------------------------------------------------------
// Construction

VString::VString()
	: fString(fTerminator), fMaxLength(0), fInlineCapacity(0), fInlineBuffer(fTerminator)
{
	fTerminator[0] = 0;
}

VString::VString(const InlineBuffer& inlineBuffer)
	: fString(inlineBuffer.fUnits), fMaxLength(inlineBuffer.fCapacity), fInlineCapacity(inlineBuffer.fCapacity), fInlineBuffer(inlineBuffer.fUnits)
{
	fTerminator[0] = 0;
	fString[0] = 0;
}

VString::VString(bool null) : VString()
{
	if (null)
		fFlags |= kFLAG_NULL;
}

VString::VString(const VString& other) : VString()
{
	_InitCopy(other);
}

VString::VString(VString&& other) noexcept : VString()
{
	_InitMove(other);
}

VString::VString(UniChar unit) : VString()
{
	_InitFromUniChars(&unit, 1);
}

VString::VString(const UniChar* units, int32 length) : VString()
{
	_InitFromUniChars(units, length);
}

VString::VString(const UniChar* text) : VString()
{
	_InitFromUniChars(text, UniCStringLength(text));
}

VString::VString(const wchar_t* text) : VString()
{
	_InitFromWide(text);
}

VString::VString(const char* text) : VString()
{
	_InitFromCString(text);
}

VString::VString(const void* bytes, size_t byteCount, CharSet charSet) : VString()
{
	_InitFromBlock(bytes, byteCount, charSet);
}

VString::VString(UniChar* buffer, int32 length, size_t maxBytes) : VString()
{
	if (buffer == nullptr)
	{
		fFlags |= kFLAG_NULL;
		return;
	}
	length = std::max(length, 0);
	int64 capacity = (maxBytes == SIZE_MAX) ? int64(length) : int64(maxBytes / 2) - 1;
	capacity = std::min<int64>(capacity, INT32_MAX);
	if (capacity < length)
	{
		// The terminator would land outside the caller's buffer: work on a copy instead.
		_InitFromUniChars(buffer, length);
		return;
	}
	fString = buffer;
	fLength = length;
	fMaxLength = int32(capacity);
	fString[fLength] = 0;
	fFlags |= kBUFFER_FLAGS;
}

void VString::_InitFromLiteral(const UniChar* literal, int32 length)
{
	if (literal == nullptr || length < 0)
		return;
	if (literal[length] != 0)
	{
		_InitFromUniChars(literal, length);
		return;
	}
	fString = const_cast<UniChar*>(literal);
	fLength = length;
	fMaxLength = length;
	fFlags |= kBUFFER_FLAGS;
}

CVSTR_struct::CVSTR_struct(const UniChar* literal, int32 length)
{
	_InitFromLiteral(literal, length);
}

VString::VString(const VInlineString& descriptor) : VString()
{
	if (descriptor.fString == nullptr)
		return;
	_CountOf(descriptor.fString, descriptor.fMaxLength).fetch_add(1, std::memory_order_relaxed);
	fString = descriptor.fString;
	fLength = descriptor.fLength;
	fMaxLength = descriptor.fMaxLength;
}

VString::VString(const VInlineString& descriptor, bool /*noRetain*/) : VString()
{
	if (descriptor.fString == nullptr)
		return;
	fString = descriptor.fString;
	fLength = descriptor.fLength;
	fMaxLength = descriptor.fMaxLength;
	fFlags |= kFLAG_EXTERNAL;
}

VString::~VString()
{
	_DropBuffer();
}

VString* VString::NewString(int32 n)
{
	n = std::max(n, 0);
	// The inline units sit right behind the object, whose size keeps them aligned.
	const size_t bytes = sizeof(VString) + (size_t(n) + 1) * sizeof(UniChar);
	void* block = ::operator new(bytes, std::nothrow);
	if (block == nullptr)
	{
		RaiseAllocFailed();
		return nullptr;
	}
	UniChar* units = reinterpret_cast<UniChar*>(static_cast<char*>(block) + sizeof(VString));
	return ::new (block) VString(InlineBuffer{units, n});
}

namespace {

void* NewObjectBlock(size_t size)
{
	void* block = ::operator new(size, std::nothrow);
	if (block == nullptr)
		RaiseAllocFailed();
	return block;
}

}  // namespace

void* VString::operator new(size_t size) noexcept
{
	return NewObjectBlock(size);
}

void* VString::operator new(size_t size, const std::nothrow_t&) noexcept
{
	return NewObjectBlock(size);
}

void VString::operator delete(void* block) noexcept
{
	::operator delete(block, std::nothrow);
}

void VString::operator delete(void* block, const std::nothrow_t&) noexcept
{
	::operator delete(block, std::nothrow);
}

bool VString::_Overlaps(const void* bytes, size_t byteCount) const
{
	const uintptr_t begin = reinterpret_cast<uintptr_t>(bytes);
	const uintptr_t end = begin + std::min<uintptr_t>(byteCount, UINTPTR_MAX - begin);
	auto within = [begin, end](const UniChar* units, int32 capacity) {
		const uintptr_t first = reinterpret_cast<uintptr_t>(units);
		return begin < first + (uintptr_t(capacity) + 1) * sizeof(UniChar) && first < end;
	};
	return within(fString, fMaxLength) || within(fInlineBuffer, fInlineCapacity);
}

StStringSource::StStringSource(const VString& target, const void* bytes, size_t byteCount) : fBytes(bytes)
{
	if (bytes == nullptr || byteCount == 0 || !target._Overlaps(bytes, byteCount))
		return;
	fCopy = ::operator new(byteCount, std::nothrow);
	if (fCopy != nullptr)
		std::memcpy(fCopy, bytes, byteCount);
	fBytes = fCopy;
	fValid = fCopy != nullptr;
}

StStringSource::~StStringSource()
{
	::operator delete(fCopy);
}

int32 VString::UniCStringLength(const UniChar* text)
{
	if (text == nullptr)
		return 0;
	return int32(std::char_traits<UniChar>::length(text));
}

// ---------------------------------------------------------------------------------------------------------
// Shared initialisation (also used by derived strings once their inline buffer is in place)

void VString::_InitCopy(const VString& other)
{
	if (other.IsNull())
	{
		fFlags |= kFLAG_NULL;
		return;
	}
	if (other._IsShareable())
	{
		_CountOf(other.fString, other.fMaxLength).fetch_add(1, std::memory_order_relaxed);
		fString = other.fString;
		fLength = other.fLength;
		fMaxLength = other.fMaxLength;
		return;
	}
	_InitFromUniChars(other.fString, other.fLength);
}

void VString::_InitMove(VString& other)
{
	if (&other == this)
		return;
	if (!other._IsInline() && !other.IsExternal())
	{
		fString = other.fString;
		fLength = other.fLength;
		fMaxLength = other.fMaxLength;
		fFlags = uint8((other.fFlags & (kFLAG_NULL | kFLAG_UNREFCOUNTED)) | kFLAG_DIRTY);

		other.fString = other.fInlineBuffer;
		other.fLength = 0;
		other.fMaxLength = other.fInlineCapacity;
		other.fString[0] = 0;
		other.fFlags &= uint8(~kBUFFER_FLAGS);
		return;
	}
	FromString(other);
}

void VString::_InitFromUniChars(const UniChar* units, int32 length)
{
	if (units == nullptr || length <= 0)
	{
		if (!_IsShared())
		{
			fLength = 0;
			fString[0] = 0;
		}
		else
		{
			_Clear();
		}
		return;
	}
	if (!_PrepareReplace(length))
		return;
	std::memmove(fString, units, size_t(length) * sizeof(UniChar));
	fLength = length;
	fString[length] = 0;
}

void VString::_InitFromCString(const char* text)
{
	if (text == nullptr)
	{
		_InitFromUniChars(nullptr, 0);
		return;
	}
	const size_t bytes = std::strlen(text);
	const uint8* p = reinterpret_cast<const uint8*>(text);
	bool ascii = true;
	for (size_t i = 0; i < bytes && ascii; ++i)
		ascii = p[i] < 0x80;
	if (!ascii)
	{
		_InitFromBlock(text, bytes, 7);
		return;
	}
	if (bytes > size_t(INT32_MAX))
	{
		RaiseAllocFailed();
		return;
	}
	const int32 length = int32(bytes);
	if (length == 0)
	{
		_InitFromUniChars(nullptr, 0);
		return;
	}
	if (!_PrepareReplace(length))
		return;
	for (int32 i = 0; i < length; ++i)
		fString[i] = p[i];
	fLength = length;
	fString[length] = 0;
}

void VString::_InitFromWide(const wchar_t* text)
{
	if (text == nullptr)
	{
		_InitFromUniChars(nullptr, 0);
		return;
	}
	_InitFromBlock(text, std::wcslen(text) * sizeof(wchar_t), 4);
}

size_t VString::_InitFromBlock(const void* bytes, size_t byteCount, CharSet charSet)
{
	if (bytes == nullptr || byteCount == 0)
	{
		_InitFromUniChars(nullptr, 0);
		return 0;
	}

	// Room needed: one unit per UTF-8 byte at most, two per UTF-32 value at most.
	size_t room;
	switch (charSet)
	{
		case 1:
		case 2:
			room = byteCount / 2;
			break;
		case 3:
		case 4:
			room = (byteCount / 4) * 2;
			break;
		case 7:
			room = byteCount;
			break;
		default:
			return FromBlock(bytes, byteCount, charSet);
	}
	if (room > size_t(INT32_MAX))
	{
		RaiseAllocFailed();
		return 0;
	}
	if (room == 0)
	{
		_InitFromUniChars(nullptr, 0);
		return 0;
	}
	if (!_PrepareReplace(int32(room)))
		return 0;

	size_t consumed = 0;
	int32 produced = 0;
	switch (charSet)
	{
		case 1:
		case 2:
			produced = int32(room);
			consumed = room * 2;
			std::memcpy(fString, bytes, consumed);
			if (charSet == 1)
			{
				for (int32 i = 0; i < produced; ++i)
					fString[i] = UniChar((fString[i] << 8) | (fString[i] >> 8));
			}
			break;
		case 3:
		case 4:
			DecodeUTF32(bytes, byteCount, charSet == 3, &consumed, fString, int32(room), &produced);
			break;
		default:
			DecodeUTF8(bytes, byteCount, &consumed, fString, int32(room), &produced);
			break;
	}
	fLength = produced;
	fString[produced] = 0;
	return consumed;
}

VOsTypeString::VOsTypeString(uint32 code)
{
	const uint8 bytes[4] = {uint8(code >> 24), uint8(code >> 16), uint8(code >> 8), uint8(code)};
	_InitFromBlock(bytes, sizeof(bytes), 7);
}

// ---------------------------------------------------------------------------------------------------------
// Buffers

void VString::_DropBuffer()
{
	if (_IsInline() || IsExternal())
		return;
	if (IsUnrefcounted())
		FreeBlock(fString);
	else
		_ReleaseCounted(fString, fMaxLength);
}

uint32 VString::ComputeProgressiveResize(int32 currentLength, int32 newLength)
{
	if (newLength < 6)
		return 8;
	const int64 step = std::min<int64>((int64(newLength) + 1) / 5, 0xA00000);
	const int64 extra = (currentLength != 0 && currentLength != newLength && step >= 3) ? step : 2;
	int64 units = (int64(newLength) + extra + 8) & ~int64(7);
	if (newLength < 2147483645 && units > 0x80000002LL)
		units = int64(newLength) + 3;
	if (units >= 0x80000003LL)
		return 0;
	return uint32(units);
}

bool VString::_ReallocBuffer(int32 newCapacity, bool keep)
{
	if (newCapacity < 0)
	{
		RaiseAllocFailed();
		return false;
	}
	const int32 kept = keep ? std::min(fLength, newCapacity) : 0;

	if (newCapacity <= fInlineCapacity)
	{
		if (!_IsInline())
		{
			std::memmove(fInlineBuffer, fString, size_t(kept) * sizeof(UniChar));
			_DropBuffer();
			fString = fInlineBuffer;
			fFlags &= uint8(~kBUFFER_FLAGS);
			fMaxLength = fInlineCapacity;
		}
		fString[kept] = 0;
		return true;
	}

	if (VObject::sCppMemMgr == nullptr)
	{
		// Static initialisation before the memory manager: a plain block that is never given back.
		UniChar* block = static_cast<UniChar*>(std::malloc((size_t(newCapacity) + 1) * sizeof(UniChar)));
		if (block == nullptr)
		{
			RaiseAllocFailed();
			return false;
		}
		std::memcpy(block, fString, size_t(kept) * sizeof(UniChar));
		_DropBuffer();
		fString = block;
		fFlags |= kBUFFER_FLAGS;
		fMaxLength = newCapacity;
		fString[kept] = 0;
		return true;
	}

	const uint32 units = ComputeProgressiveResize(fLength, newCapacity);
	if (units == 0)
	{
		RaiseAllocFailed();
		return false;
	}
	const int32 capacity = int32(units - 3);
	UniChar* block = static_cast<UniChar*>(VObject::sCppMemMgr->Malloc(CountedBlockBytes(capacity), false, kMEMTAG_STRING));
	if (block == nullptr)
	{
		RaiseAllocFailed();
		return false;
	}
	std::memcpy(block, fString, size_t(kept) * sizeof(UniChar));
	_DropBuffer();
	fString = block;
	fFlags &= uint8(~kBUFFER_FLAGS);
	fMaxLength = capacity;
	fString[kept] = 0;
	InitCount(fString, fMaxLength);
	return true;
}

bool VString::_UnshareOrGrow(int32 newLength)
{
	if (newLength < 0)
		return _ReallocBuffer(newLength, true);
	if (_IsShared())
		return _ReallocBuffer(std::max(fLength, newLength), true);
	if (newLength > fMaxLength)
		return _ReallocBuffer(newLength, true);
	return true;
}

bool VString::_PrepareReplace(int32 newLength)
{
	// The old text is about to be overwritten: nothing of it needs keeping.
	if (newLength < 0 || _IsShared() || newLength > fMaxLength)
	{
		if (!_ReallocBuffer(newLength, false))
			return false;
		fLength = 0;  // the caller sets the new length
	}
	return true;
}

UniChar* VString::GetCPointerForWrite(int32 capacity)
{
	if (!_PrepareWrite(std::max(capacity, fLength)))
		return nullptr;
	return fString;
}

bool VString::Validate(int32 length)
{
	if (length < 0 || length > fMaxLength)
		return false;
	// The terminator goes into the buffer: never into one another string still reads.
	if (_IsShared() && !_PrepareWrite(length))
		return false;
	fLength = length;
	fString[length] = 0;
	_SetNotNullDirty();
	return true;
}

void VString::_Clear()
{
	_DropBuffer();
	fString = fInlineBuffer;
	fMaxLength = fInlineCapacity;
	fLength = 0;
	fString[0] = 0;
	fFlags &= uint8(~kBUFFER_FLAGS);
}

void VString::Clear()
{
	_Clear();
	_SetNotNullDirty();
}

void VString::DoNullChanged()
{
	if (IsNull())
		_Clear();
}

UniChar* VString::_RetainBuffer(int32& outLength, int32& outCapacity) const
{
	if (IsNull() || fLength == 0 || !_IsShareable())
	{
		outLength = 0;
		outCapacity = 0;
		return nullptr;
	}
	_CountOf(fString, fMaxLength).fetch_add(1, std::memory_order_relaxed);
	outLength = fLength;
	outCapacity = fMaxLength;
	return fString;
}

UniChar* VString::RetainBuffer(int32& outLength, int32& outCapacity) const
{
	outLength = 0;
	outCapacity = 0;
	if (IsNull() || fLength == 0)
		return nullptr;
	if (_IsShareable())
		return _RetainBuffer(outLength, outCapacity);

	UniChar* block = nullptr;
	if (VObject::sCppMemMgr != nullptr)
		block = static_cast<UniChar*>(VObject::sCppMemMgr->Malloc(CountedBlockBytes(fLength), false, kMEMTAG_STRING_EXT));
	if (block == nullptr)
	{
		RaiseAllocFailed();
		return nullptr;
	}
	std::memcpy(block, fString, size_t(fLength) * sizeof(UniChar));
	block[fLength] = 0;
	InitCount(block, fLength);
	outLength = fLength;
	outCapacity = fLength;
	return block;
}

void VString::_ReleaseBuffer()
{
	_DropBuffer();
}

void VString::ReleaseRetainedBuffer(UniChar* buffer, int32 capacity)
{
	if (buffer != nullptr)
		_ReleaseCounted(buffer, capacity);
}

// ---------------------------------------------------------------------------------------------------------
// Assignment and moves

void VString::FromString(const VString& text)
{
	if (text.IsNull())
	{
		SetNull(true);
		return;
	}
	if (fString == text.fString)
	{
		fLength = text.fLength;
	}
	else if (text._IsShareable())
	{
		_CountOf(text.fString, text.fMaxLength).fetch_add(1, std::memory_order_relaxed);
		_DropBuffer();
		fString = text.fString;
		fLength = text.fLength;
		fMaxLength = text.fMaxLength;
		fFlags &= uint8(~kBUFFER_FLAGS);
	}
	else if (text.fLength == 0)
	{
		_InitFromUniChars(nullptr, 0);
	}
	else
	{
		if (!_PrepareReplace(text.fLength))
			return;
		std::memmove(fString, text.fString, size_t(text.fLength) * sizeof(UniChar));
		fLength = text.fLength;
		fString[fLength] = 0;
	}
	_SetNotNullDirty();
}

VString& VString::operator=(VString&& other) noexcept
{
	if (&other == this)
		return *this;
	if (other._IsInline() || other.IsExternal())
	{
		// FromString carries the null flag as well.
		FromString(other);
		return *this;
	}
	const bool otherNull = other.IsNull();
	_DropBuffer();
	fString = other.fString;
	fLength = other.fLength;
	fMaxLength = other.fMaxLength;
	fFlags = uint8((fFlags & ~kBUFFER_FLAGS) | (other.fFlags & kFLAG_UNREFCOUNTED));

	other.fString = other.fInlineBuffer;
	other.fLength = 0;
	other.fMaxLength = other.fInlineCapacity;
	other.fString[0] = 0;
	other.fFlags &= uint8(~kBUFFER_FLAGS);

	SetNull(otherNull);
	fFlags |= kFLAG_DIRTY;
	return *this;
}

void VString::GetString(VString& text) const
{
	text.FromString(*this);
}

// ---------------------------------------------------------------------------------------------------------
// Units

UniChar VString::GetUniChar(int32 pos) const
{
	if (IsNull() || pos < 1 || pos > fLength)
		return 0;
	return fString[pos - 1];
}

bool VString::SetUniChar(int32 pos, UniChar unit)
{
	if (IsNull() || pos < 1 || pos > fLength)
		return false;
	if (!_PrepareWrite(fLength))
		return false;
	fString[pos - 1] = unit;
	return true;
}

bool VString::EqualToStringRaw(const VString& other) const
{
	return fLength == other.fLength && std::memcmp(fString, other.fString, size_t(fLength) * sizeof(UniChar)) == 0;
}

VValue* VString::Clone() const
{
	VString* clone = new (std::nothrow) VString(*this);
	// A text the copy could not take (velk 107 raised) would make a clone that differs from this string.
	if (clone != nullptr && clone->fLength != fLength)
	{
		delete clone;
		return nullptr;
	}
	return clone;
}

CharSet VString::DebugDump(char* buffer, int& length) const
{
	const int64 room = std::max<int64>(int64(length) - 2, 0);
	const int64 bytes = std::min<int64>(int64(fLength) * 2, room);
	std::memcpy(buffer, fString, size_t(bytes));
	length = int(bytes);
	return 2;
}

// ---------------------------------------------------------------------------------------------------------
// Flat form

const void* VString::LoadFromPtr(const void* data, uint8 flag)
{
	// The caller vouches for the whole datum, so its own length is the bound.
	uint32 length;
	std::memcpy(&length, data, sizeof(length));
	return LoadFromPtrBounded(data, sizeof(length) + uint64(length) * sizeof(UniChar), flag);
}

const void* VString::LoadFromPtrBounded(const void* data, uint64 available, uint8 /*flag*/)
{
	uint32 length;
	if (available < sizeof(length))
		return nullptr;
	std::memcpy(&length, data, sizeof(length));
	// The length is checked against the bytes before any address is made from it.
	const uint64 bytes = uint64(length) * sizeof(UniChar);
	if (bytes > available - sizeof(length))
		return nullptr;
	const uint8* const units = static_cast<const uint8*>(data) + sizeof(length);
	const uint8* const behind = units + bytes;

	if (length > uint32(INT32_MAX))
	{
		RaiseAllocFailed();
		return behind;
	}
	if (!_PrepareReplace(int32(length)))
		return behind;
	std::memcpy(fString, units, size_t(bytes));
	fLength = int32(length);
	fString[fLength] = 0;
	_SetNotNullDirty();
	return behind;
}

void* VString::WriteToPtr(void* data, uint8 /*flag*/, uint64 limit) const
{
	uint64 length = uint64(fLength);
	if (limit != 0)
	{
		if (limit < sizeof(uint32))
			return data;
		if (sizeof(uint32) + length * 2 > limit)
			length = (limit - sizeof(uint32)) / 2;
	}
	uint8* p = static_cast<uint8*>(data);
	const uint32 stored = uint32(length);
	std::memcpy(p, &stored, sizeof(stored));
	p += sizeof(stored);
	std::memcpy(p, fString, size_t(length) * sizeof(UniChar));
	return p + size_t(length) * sizeof(UniChar);
}

uint64 VString::GetSpace(uint64& /*ioExtra*/, uint64 limit) const
{
	const uint64 space = uint64(fLength) * 2 + sizeof(uint32);
	if (limit != 0 && limit <= space)
		return limit;
	return space;
}

// ---------------------------------------------------------------------------------------------------------
// Appending

void VString::_AppendUnits(const UniChar* units, int32 count)
{
	if (units == nullptr || count <= 0)
	{
		_SetNotNullDirty();
		return;
	}
	const int64 newLength = int64(fLength) + count;
	if (newLength > INT32_MAX)
	{
		RaiseAllocFailed();
		return;
	}
	// Units from this string's own buffer must be found again once the buffer has moved (counted in bytes:
	// a block appended as UTF-16 need not be aligned).
	const char* const from = reinterpret_cast<const char*>(units);
	const bool own = from >= reinterpret_cast<const char*>(fString) && from <= reinterpret_cast<const char*>(fString + fMaxLength);
	const ptrdiff_t offset = from - reinterpret_cast<const char*>(fString);
	if (!_PrepareWrite(int32(newLength)))
		return;
	if (own)
		units = reinterpret_cast<const UniChar*>(reinterpret_cast<const char*>(fString) + offset);
	std::memmove(fString + fLength, units, size_t(count) * sizeof(UniChar));
	fLength = int32(newLength);
	fString[fLength] = 0;
	_SetNotNullDirty();
}

void VString::_AppendASCII(const char* bytes, int32 count)
{
	const int64 newLength = int64(fLength) + count;
	if (newLength > INT32_MAX)
	{
		RaiseAllocFailed();
		return;
	}
	// Bytes in this string would be freed by a move of its buffer, or overtaken by the wider units written.
	const StStringSource source(*this, bytes, size_t(count));
	if (!source.IsValid())
	{
		RaiseAllocFailed();
		return;
	}
	bytes = static_cast<const char*>(source.Get());
	if (!_PrepareWrite(int32(newLength)))
		return;
	UniChar* dest = fString + fLength;
	for (int32 i = 0; i < count; ++i)
		dest[i] = uint8(bytes[i]);
	fLength = int32(newLength);
	fString[fLength] = 0;
	_SetNotNullDirty();
}

VString& VString::AppendUniChar(UniChar unit)
{
	if (fLength < fMaxLength && !_IsShared())
	{
		fString[fLength++] = unit;
		fString[fLength] = 0;
		_SetNotNullDirty();
		return *this;
	}
	_AppendUnits(&unit, 1);
	return *this;
}

VString& VString::AppendUniChars(const UniChar* units, int32 count)
{
	_AppendUnits(units, count);
	return *this;
}

VString& VString::AppendUniCString(const UniChar* text)
{
	_AppendUnits(text, UniCStringLength(text));
	return *this;
}

VString& VString::AppendCString(const char* text)
{
	if (text == nullptr)
	{
		_SetNotNullDirty();
		return *this;
	}
	const size_t bytes = std::strlen(text);
	const uint8* p = reinterpret_cast<const uint8*>(text);
	size_t i = 0;
	while (i < bytes && p[i] < 0x80)
		++i;
	if (i < bytes)
	{
		VTextConverters::Get()->GetStdLibToUnicodeConverter()->ConvertString(text, bytes, nullptr, *this);
		_SetNotNullDirty();
		return *this;
	}
	if (bytes > size_t(INT32_MAX))
	{
		RaiseAllocFailed();
		return *this;
	}
	_AppendASCII(text, int32(bytes));
	return *this;
}

VString& VString::AppendBlock(const void* bytes, size_t byteCount, CharSet charSet)
{
	if (bytes == nullptr || byteCount == 0)
	{
		_SetNotNullDirty();
		return *this;
	}
	if (charSet == kSET_UTF16_NATIVE)
	{
		if (byteCount / 2 > size_t(INT32_MAX))
		{
			RaiseAllocFailed();
			return *this;
		}
		_AppendUnits(static_cast<const UniChar*>(bytes), int32(byteCount / 2));
		return *this;
	}
	VToUnicodeConverter* converter = VTextConverters::Get()->RetainToUnicodeConverter(charSet);
	converter->ConvertString(bytes, byteCount, nullptr, *this);
	converter->Release();
	_SetNotNullDirty();
	return *this;
}

namespace {

// Room for any decimal integer and any "%.14G" real.
constexpr size_t kNUMBER_ROOM = 64;

}  // namespace

VString& VString::AppendLong(int32 value)
{
	char text[kNUMBER_ROOM];
	const std::to_chars_result r = std::to_chars(text, text + sizeof(text), value);
	_AppendASCII(text, int32(r.ptr - text));
	return *this;
}

VString& VString::AppendLong8(int64 value)
{
	char text[kNUMBER_ROOM];
	const std::to_chars_result r = std::to_chars(text, text + sizeof(text), value);
	_AppendASCII(text, int32(r.ptr - text));
	return *this;
}

VString& VString::AppendULong8(uint64 value)
{
	char text[kNUMBER_ROOM];
	const std::to_chars_result r = std::to_chars(text, text + sizeof(text), value);
	_AppendASCII(text, int32(r.ptr - text));
	return *this;
}

VString& VString::AppendReal(double value)
{
	// The "C" locale's "%.14G", independent of the process locale.
	char text[32];
	_AppendASCII(text, VNumberText::FormatReal(value, text));
	return *this;
}

int32 VString::_OsTypeText(uint32 code, char (&text)[4])
{
	// Only printable ASCII characters of the code are kept.
	int32 length = 0;
	for (int shift = 24; shift >= 0; shift -= 8)
	{
		const uint8 byte = uint8(code >> shift);
		if (byte >= 0x20 && byte <= 0x7E)
			text[length++] = char(byte);
	}
	return length;
}

VString& VString::AppendOsType(uint32 code)
{
	char text[4];
	const int32 length = _OsTypeText(code, text);
	_AppendASCII(text, length);
	return *this;
}

VString& VString::AppendValue(const VValueSingle& value)
{
	VString text;
	value.GetString(text);
	_AppendUnits(text.fString, text.fLength);
	return *this;
}

// ---------------------------------------------------------------------------------------------------------
// Replacing the content

void VString::FromUniString(const UniChar* units, int32 count)
{
	_InitFromUniChars(units, count);
	_SetNotNullDirty();
}

size_t VString::FromBlock(const void* bytes, size_t byteCount, CharSet charSet)
{
	if (bytes == nullptr || byteCount == 0)
	{
		_InitFromUniChars(nullptr, 0);
		_SetNotNullDirty();
		return 0;
	}
	// Bytes in this string would be freed or written over before they are read: they are read from a copy.
	const StStringSource source(*this, bytes, byteCount);
	if (!source.IsValid())
	{
		RaiseAllocFailed();
		return 0;
	}
	bytes = source.Get();
	if (charSet == kSET_UTF16_NATIVE)
	{
		const size_t units = byteCount / 2;
		if (units > size_t(INT32_MAX))
		{
			RaiseAllocFailed();
			return 0;
		}
		if (units == 0)
		{
			_InitFromUniChars(nullptr, 0);
		}
		else
		{
			if (!_PrepareReplace(int32(units)))
				return 0;
			std::memmove(fString, bytes, units * sizeof(UniChar));
			fLength = int32(units);
			fString[fLength] = 0;
		}
		_SetNotNullDirty();
		return byteCount;
	}
	_Clear();
	size_t consumed = 0;
	VToUnicodeConverter* converter = VTextConverters::Get()->RetainToUnicodeConverter(charSet);
	converter->ConvertString(bytes, byteCount, &consumed, *this);
	converter->Release();
	_SetNotNullDirty();
	return consumed;
}

// ---------------------------------------------------------------------------------------------------------
// Editing

void VString::Replace(const VString& text, int32 pos, int32 count)
{
	if (pos < 1 || count < 1 || pos > fLength)
		return;
	if (&text == this)
	{
		const VString copy(text);
		Replace(copy, pos, count);
		return;
	}
	const int32 start = pos - 1;
	// In 64 bits: a count of INT32_MAX means "to the end" and must not wrap.
	const int64 end = int64(start) + count;
	const int32 textLength = text.fLength;
	if (end >= fLength)
	{
		const int64 newLength = int64(start) + textLength;
		if (newLength > INT32_MAX)
		{
			RaiseAllocFailed();
			return;
		}
		if (!_PrepareWrite(int32(newLength)))
			return;
		std::memcpy(fString + start, text.fString, size_t(textLength) * sizeof(UniChar));
		fLength = int32(newLength);
	}
	else
	{
		const int64 newLength = int64(fLength) - count + textLength;
		if (newLength > INT32_MAX)
		{
			RaiseAllocFailed();
			return;
		}
		if (!_PrepareWrite(std::max(fLength, int32(newLength))))
			return;
		const int32 tail = fLength - int32(end);
		std::memmove(fString + start + textLength, fString + end, size_t(tail) * sizeof(UniChar));
		std::memcpy(fString + start, text.fString, size_t(textLength) * sizeof(UniChar));
		fLength = int32(newLength);
	}
	fString[fLength] = 0;
	_SetNotNullDirty();
}

void VString::Remove(int32 pos, int32 count)
{
	if (pos < 1 || count < 0 || pos > fLength || count == 0)
		return;
	if (!_PrepareWrite(fLength))
		return;
	const int32 start = pos - 1;
	const int64 end = int64(start) + count;
	if (end >= fLength)
	{
		fLength = start;
	}
	else
	{
		std::memmove(fString + start, fString + end, size_t(fLength - end) * sizeof(UniChar));
		fLength -= count;
	}
	fString[fLength] = 0;
	_SetNotNullDirty();
}

bool VString::_TruncateTo(int32 length)
{
	length = std::max(length, 0);
	if (length >= fLength)
		return true;
	if (_IsShared())
	{
		// Another string reads this buffer: the kept part moves to a buffer of this string's own.
		if (!_ReallocBuffer(length, true))
			return false;
		fLength = length;
		return true;
	}
	if (!_IsInline() && !IsExternal() && int64(fMaxLength) > int64(length) + length / 8 + 32)
	{
		// A large buffer kept for a short text is given back; the old one stays when no new one comes.
		if (!_ReallocBuffer(length, true))
			return false;
	}
	fLength = length;
	fString[fLength] = 0;
	return true;
}

void VString::Truncate(int32 length, bool keepPairs)
{
	if (keepPairs && length >= 1 && length <= fLength && IsHighSurrogate(fString[length - 1]))
		--length;
	_TruncateTo(length);
}

VString VString::Before(int32 pos) const
{
	if (pos < 1)
		return VString();
	if (pos > fLength)
		return VString(*this);
	return VString(fString, pos - 1);
}

VString VString::After(int32 pos) const
{
	if (pos < 1)
		return VString(*this);
	if (pos >= fLength)
		return VString();
	return VString(fString + pos, fLength - pos);
}

VString& VString::ExchangeRawString(const VString& find, const VString& replace, int32 start, int32 maxCount, int32* outCount)
{
	if (outCount != nullptr)
		*outCount = 0;
	// An empty pattern would be found again and again at the same place.
	if (find.fLength == 0 || maxCount < 1 || start < 1)
		return *this;
	if (&find == this || &replace == this)
	{
		const VString findCopy(find);
		const VString replaceCopy(replace);
		return ExchangeRawString(findCopy, replaceCopy, start, maxCount, outCount);
	}
	const int32 first = FindRawString(find, start);
	if (first == 0)
		return *this;

	const UniChar* const pattern = find.fString;
	const int32 findLength = find.fLength;
	const UniChar* const by = replace.fString;
	const int32 byLength = replace.fLength;
	int32 count = 0;

	if (byLength == findLength)
	{
		if (!_PrepareWrite(fLength))
			return *this;
		int32 at = first - 1;
		for (;;)
		{
			std::memcpy(fString + at, by, size_t(byLength) * sizeof(UniChar));
			++count;
			at += findLength;
			const int32 next = (count < maxCount) ? FindRawString(fString + at, fLength - at, pattern, findLength) : 0;
			if (next == 0)
				break;
			at += next - 1;
		}
	}
	else if (byLength < findLength)
	{
		// Compacted from left to right in one pass: the text written never passes the text read.
		if (!_PrepareWrite(fLength))
			return *this;
		int32 read = first - 1;
		int32 write = read;
		for (;;)
		{
			std::memcpy(fString + write, by, size_t(byLength) * sizeof(UniChar));
			write += byLength;
			read += findLength;
			++count;
			const int32 next = (count < maxCount) ? FindRawString(fString + read, fLength - read, pattern, findLength) : 0;
			const int32 segment = (next != 0) ? next - 1 : fLength - read;
			std::memmove(fString + write, fString + read, size_t(segment) * sizeof(UniChar));
			write += segment;
			read += segment;
			if (next == 0)
				break;
		}
		fLength = write;
		fString[fLength] = 0;
	}
	else
	{
		// Every place is found first, the buffer grown once, then the text is spread from the end.
		int32 capacity = 1024;
		int32* places = static_cast<int32*>(std::malloc(size_t(capacity) * sizeof(int32)));
		if (places == nullptr)
		{
			RaiseAllocFailed();
			return *this;
		}
		int32 at = first - 1;
		for (;;)
		{
			if (count == capacity)
			{
				const int32 grown = (capacity > INT32_MAX / 2) ? INT32_MAX : capacity * 2;
				int32* more = static_cast<int32*>(std::realloc(places, size_t(grown) * sizeof(int32)));
				if (more == nullptr)
				{
					std::free(places);
					RaiseAllocFailed();
					return *this;
				}
				places = more;
				capacity = grown;
			}
			places[count++] = at;
			at += findLength;
			const int32 next = (count < maxCount) ? FindRawString(fString + at, fLength - at, pattern, findLength) : 0;
			if (next == 0)
				break;
			at += next - 1;
		}
		const int64 newLength = int64(fLength) + int64(count) * (byLength - findLength);
		if (newLength > INT32_MAX || !_PrepareWrite(int32(newLength)))
		{
			if (newLength > INT32_MAX)
				RaiseAllocFailed();
			std::free(places);
			return *this;
		}
		int32 readEnd = fLength;
		int32 writeEnd = int32(newLength);
		for (int32 i = count - 1; i >= 0; --i)
		{
			const int32 behind = places[i] + findLength;
			const int32 tail = readEnd - behind;
			writeEnd -= tail;
			std::memmove(fString + writeEnd, fString + behind, size_t(tail) * sizeof(UniChar));
			writeEnd -= byLength;
			std::memcpy(fString + writeEnd, by, size_t(byLength) * sizeof(UniChar));
			readEnd = places[i];
		}
		std::free(places);
		fLength = int32(newLength);
		fString[fLength] = 0;
	}
	_SetNotNullDirty();
	if (outCount != nullptr)
		*outCount = count;
	return *this;
}

namespace {

// The white space Trim removes, ascending.
constexpr UniChar kTRIM_SET[] = {
	0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x00A0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
	0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000, 0xFEFF};
static_assert(std::size(kTRIM_SET) == 25);

bool IsTrimmed(UniChar c)
{
	return std::binary_search(std::begin(kTRIM_SET), std::end(kTRIM_SET), c);
}

}  // namespace

void VString::Trim(bool leading, bool trailing)
{
	int32 begin = 0;
	int32 end = fLength;
	if (leading)
	{
		while (begin < end && IsTrimmed(fString[begin]))
			++begin;
	}
	if (trailing)
	{
		while (end > begin && IsTrimmed(fString[end - 1]))
			--end;
		// A text cut there must not end in half a pair.
		if (end > begin && IsHighSurrogate(fString[end - 1]))
			--end;
	}
	if (begin == 0 && end == fLength)
		return;
	if (!_PrepareWrite(fLength))
		return;
	if (begin > 0)
		std::memmove(fString, fString + begin, size_t(end - begin) * sizeof(UniChar));
	fLength = end - begin;
	fString[fLength] = 0;
	_SetNotNullDirty();
}

void VString::RemoveWhiteSpaces(bool leading, bool trailing, int32* outLeading, int32* outTrailing, VIntlMgr* intl, bool flag)
{
	auto isSpace = [intl, flag](UniChar c) { return (intl != nullptr) ? intl->IsSpace(c, flag) : (c == 0x0020 || c == 0x0009); };
	if (outLeading != nullptr && leading)
		*outLeading = 0;
	if (outTrailing != nullptr && trailing)
		*outTrailing = 0;

	if (leading)
	{
		int32 begin = 0;
		while (begin < fLength && isSpace(fString[begin]))
			++begin;
		if (begin > 0)
		{
			if (!_PrepareWrite(fLength))
				return;
			std::memmove(fString, fString + begin, size_t(fLength - begin) * sizeof(UniChar));
			fLength -= begin;
			fString[fLength] = 0;
			_SetNotNullDirty();
			if (outLeading != nullptr)
				*outLeading = begin;
		}
	}
	if (trailing)
	{
		int32 end = fLength;
		while (end > 0 && isSpace(fString[end - 1]))
			--end;
		if (end > 0 && IsHighSurrogate(fString[end - 1]))
			--end;
		if (end < fLength)
		{
			const int32 removed = fLength - end;
			if (!_TruncateTo(end))
				return;
			_SetNotNullDirty();
			if (outTrailing != nullptr)
				*outTrailing = removed;
		}
	}
}

// ---------------------------------------------------------------------------------------------------------
// Raw comparisons and searches

CompareResult VString::CompareToStringRaw(const VString& other) const
{
	return VStringOrder::RawOrder(fString, fLength, other.fString, other.fLength);
}

CompareResult VString::CompareToStringRawCase(const VString& other) const
{
	auto fold = [](UniChar c) { return (c >= u'A' && c <= u'Z') ? UniChar(c + 32) : c; };
	const int32 common = std::min(fLength, other.fLength);
	for (int32 i = 0; i < common; ++i)
	{
		const UniChar a = fold(fString[i]);
		const UniChar b = fold(other.fString[i]);
		if (a != b)
			return a < b ? CR_SMALLER : CR_BIGGER;
	}
	if (fLength == other.fLength)
		return CR_EQUAL;
	return fLength < other.fLength ? CR_SMALLER : CR_BIGGER;
}

bool VString::EqualToUSASCIICString(const char* text) const
{
	if (text == nullptr)
		return fLength == 0;
	int32 i = 0;
	for (; text[i] != 0; ++i)
	{
		const uint8 byte = uint8(text[i]);
		if (i >= fLength || byte >= 0x80 || fString[i] != byte)
			return false;
	}
	return i == fLength;
}

bool VString::BeginsWithRawString(const VString& prefix) const
{
	return prefix.fLength <= fLength && std::memcmp(fString, prefix.fString, size_t(prefix.fLength) * sizeof(UniChar)) == 0;
}

bool VString::EndsWithRawString(const VString& suffix) const
{
	return suffix.fLength <= fLength && std::memcmp(fString + (fLength - suffix.fLength), suffix.fString, size_t(suffix.fLength) * sizeof(UniChar)) == 0;
}

int32 VString::FindRawString(const VString& pattern, int32 start) const
{
	if (start < 1 || int64(start) > int64(fLength) + 1)
		return 0;
	const int32 found = FindRawString(fString + (start - 1), fLength - (start - 1), pattern.fString, pattern.fLength);
	return (found == 0) ? 0 : found + start - 1;
}

namespace {

constexpr uint64 kLANES_LOW = 0x0001000100010001ULL;
constexpr uint64 kLANES_HIGH = 0x8000800080008000ULL;

// The high bit of each 16-bit lane of word that is zero, and no other bit.
inline uint64 ZeroLanes(uint64 word)
{
	return ~(((word & ~kLANES_HIGH) + ~kLANES_HIGH) | word) & kLANES_HIGH;
}

// The next place of unit in [p, end), or end. Four units are tested at a time in one 64-bit word.
inline const UniChar* FindUnit(const UniChar* p, const UniChar* end, UniChar unit)
{
	const uint64 pattern = kLANES_LOW * unit;
	while (end - p >= 4)
	{
		uint64 word;
		std::memcpy(&word, p, sizeof(word));
		if (ZeroLanes(word ^ pattern) != 0)
			break;
		p += 4;
	}
	while (p < end && *p != unit)
		++p;
	return p;
}

// The next place in [p, end) where first is followed by second, or end. Testing pairs rather than single
// units skips most of the places where the first unit of a pattern alone would stop a scan of real text.
inline const UniChar* FindPair(const UniChar* p, const UniChar* end, UniChar first, UniChar second)
{
	const uint64 firsts = kLANES_LOW * first;
	const uint64 seconds = kLANES_LOW * second;
	while (end - p >= 5)
	{
		uint64 here;
		uint64 next;
		std::memcpy(&here, p, sizeof(here));
		std::memcpy(&next, p + 1, sizeof(next));
		const uint64 both = ZeroLanes(here ^ firsts) & ZeroLanes(next ^ seconds);
		if (both != 0)
		{
			// The first lane in memory order is the low one on a little-endian machine.
			const int lane = (std::endian::native == std::endian::little) ? std::countr_zero(both) / 16 : std::countl_zero(both) / 16;
			return p + lane;
		}
		p += 4;
	}
	for (; end - p >= 2; ++p)
	{
		if (p[0] == first && p[1] == second)
			return p;
	}
	return end;
}

// The search without a table, for when none can be had.
int32 PlainSearch(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength)
{
	const UniChar* const last = text + (textLength - patternLength);
	for (const UniChar* p = text; (p = FindUnit(p, last + 1, pattern[0])) <= last; ++p)
	{
		if (std::memcmp(p + 1, pattern + 1, size_t(patternLength - 1) * sizeof(UniChar)) == 0)
			return int32(p - text) + 1;
	}
	return 0;
}

// Knuth-Morris-Pratt: linear whatever the text. border[q] is the length of the longest proper border of the
// pattern's first q units; the table lives on the stack for short patterns.
int32 KMPSearch(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength)
{
	constexpr int32 kSTACK_TABLE = 256;
	int32 stackTable[kSTACK_TABLE];
	int32* border = stackTable;
	if (patternLength >= kSTACK_TABLE)
	{
		border = static_cast<int32*>(std::malloc((size_t(patternLength) + 1) * sizeof(int32)));
		if (border == nullptr)
			return PlainSearch(text, textLength, pattern, patternLength);
	}
	border[0] = -1;
	if (patternLength >= 1)
		border[1] = 0;
	for (int32 q = 1, k = 0; q < patternLength; ++q)
	{
		while (k > 0 && pattern[k] != pattern[q])
			k = border[k];
		if (pattern[k] == pattern[q])
			++k;
		border[q + 1] = k;
	}

	int32 result = 0;
	const UniChar* const end = text + textLength;
	const UniChar first = pattern[0];
	int32 q = 0;
	for (const UniChar* p = text; p < end; ++p)
	{
		if (q == 0)
		{
			// Nothing matched yet: run to the next place where the pattern's first units are.
			if (patternLength == 1)
			{
				p = FindUnit(p, end, first);
				if (p == end)
					break;
				q = 1;
			}
			else
			{
				p = FindPair(p, end, first, pattern[1]);
				if (end - p < patternLength)
					break;
				++p;
				q = 2;
			}
		}
		else
		{
			while (q > 0 && pattern[q] != *p)
				q = border[q];
			if (pattern[q] == *p)
				++q;
			else
				continue;
		}
		if (q == patternLength)
		{
			result = int32(p - text) - patternLength + 2;
			break;
		}
	}
	if (border != stackTable)
		std::free(border);
	return result;
}

// Eight units in one vector; a comparison gives all ones in each lane that matches.
using Units8 = uint16 __attribute__((vector_size(16)));

inline Units8 LoadUnits8(const UniChar* p)
{
	Units8 units;
	std::memcpy(&units, p, sizeof(units));
	return units;
}

// One bit per lane that is not zero, lane 0 lowest.
inline uint32 LaneMask(Units8 lanes)
{
	uint64 halves[2];
	std::memcpy(halves, &lanes, sizeof(halves));
	if ((halves[0] | halves[1]) == 0)
		return 0;
	uint32 mask = 0;
	for (int lane = 0; lane < 8; ++lane)
		mask |= uint32(lanes[lane] != 0) << lane;
	return mask;
}

// The first place where the pattern's first and last units both stand where they would in a match, tested
// eight places at a time, each candidate then compared whole: few places pass both tests in real text, in
// any script, where the first unit alone (or a pair of neighbours, in text made of a few thousand distinct
// units) stops a scan often. When the candidates cost more comparing than the text scanning (a text of
// repeats), the rest is searched by Knuth-Morris-Pratt, so that the search stays linear.
int32 FirstAndLastSearch(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength)
{
	const int32 lastIndex = patternLength - 1;
	const Units8 firsts = Units8{} + pattern[0];
	const Units8 lasts = Units8{} + pattern[lastIndex];
	const size_t middleBytes = size_t(patternLength - 2) * sizeof(UniChar);
	// Places from 0 to finalPlace may begin a match.
	const int32 finalPlace = textLength - patternLength;
	int64 compared = 0;
	int32 place = 0;
	for (; place + 7 <= finalPlace; place += 8)
	{
		uint32 mask = LaneMask((LoadUnits8(text + place) == firsts) & (LoadUnits8(text + place + lastIndex) == lasts));
		while (mask != 0)
		{
			const int32 candidate = place + std::countr_zero(mask);
			if (std::memcmp(text + candidate + 1, pattern + 1, middleBytes) == 0)
				return candidate + 1;
			mask &= mask - 1;
			compared += patternLength;
		}
		if (compared > 4 * int64(place) + 4096)
		{
			const int32 found = KMPSearch(text + place + 8, textLength - place - 8, pattern, patternLength);
			return found == 0 ? 0 : found + place + 8;
		}
	}
	for (; place <= finalPlace; ++place)
	{
		if (text[place] == pattern[0] && text[place + lastIndex] == pattern[lastIndex]
			&& std::memcmp(text + place + 1, pattern + 1, middleBytes) == 0)
			return place + 1;
	}
	return 0;
}

}  // namespace

int32 VString::FindRawString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength)
{
	if (patternLength <= 0)
		return 1;
	if (text == nullptr || pattern == nullptr || patternLength > textLength)
		return 0;
	if (patternLength == 1)
	{
		const UniChar* found = FindUnit(text, text + textLength, pattern[0]);
		return found == text + textLength ? 0 : int32(found - text) + 1;
	}
	return FirstAndLastSearch(text, textLength, pattern, patternLength);
}

int32 VString::FindUniChar(UniChar unit, int32 start, bool backward) const
{
	if (fLength == 0 || start > fLength)
		return 0;
	start = std::max(start, 1);
	if (backward)
	{
		for (int32 i = start - 1; i >= 0; --i)
		{
			if (fString[i] == unit)
				return i + 1;
		}
		return 0;
	}
	const UniChar* found = FindUnit(fString + start - 1, fString + fLength, unit);
	return (found == fString + fLength) ? 0 : int32(found - fString) + 1;
}

double VString::SimilarToString(const VString& other) const
{
	if (fLength == 0 || other.fLength == 0)
		return 0.0;
	// Two rows of the longest-common-subsequence table, one pass per unit of the other text.
	const size_t row = size_t(fLength) + 1;
	int32* previous = static_cast<int32*>(std::calloc(2 * row, sizeof(int32)));
	if (previous == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return 0.0;
	}
	int32* current = previous + row;
	int32* const block = previous;
	for (int32 j = 0; j < other.fLength; ++j)
	{
		const UniChar unit = other.fString[j];
		current[0] = 0;
		for (int32 i = 1; i <= fLength; ++i)
			current[i] = (fString[i - 1] == unit) ? previous[i - 1] + 1 : std::max(previous[i], current[i - 1]);
		std::swap(previous, current);
	}
	const double common = previous[fLength];
	std::free(block);
	return common / fLength;
}

}  // namespace velk
