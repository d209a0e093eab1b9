// The toolbox's text type: storage, sharing, growth, construction, assignment, single units and the flat
// form. Appending, editing, searching and the other concerns have files of their own beside this one.
#include "kernel/strings/VString.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include "kernel/intl/VTextConverters.h"
#include "kernel/intl/VUTFCodec.h"
#include "kernel/memory/VCppMemMgr.h"
#include "runtime/VError.h"

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

}  // namespace

void VString::_ReleaseCounted(UniChar* buffer, int32 capacity)
{
	// The holder of the only reference frees the buffer without a read-modify-write: no other holder
	// exists to change the count meanwhile.
	std::atomic_ref<uint32> count = _CountOf(buffer, capacity);
	if (count.load(std::memory_order_acquire) == 1 || count.fetch_sub(1, std::memory_order_acq_rel) == 1)
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

	UniChar* block = NewCountedBuffer(fString, fLength);
	if (block == nullptr)
		return nullptr;
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

UniChar* VString::NewCountedBuffer(const UniChar* units, int32 length)
{
	if (units == nullptr || length <= 0)
		return nullptr;
	UniChar* block = nullptr;
	if (VObject::sCppMemMgr != nullptr)
		block = static_cast<UniChar*>(VObject::sCppMemMgr->Malloc(CountedBlockBytes(length), false, kMEMTAG_STRING_EXT));
	if (block == nullptr)
	{
		RaiseAllocFailed();
		return nullptr;
	}
	std::memcpy(block, units, size_t(length) * sizeof(UniChar));
	block[length] = 0;
	InitCount(block, length);
	return block;
}

void VString::RetainRetainedBuffer(UniChar* buffer, int32 capacity)
{
	if (buffer != nullptr)
		_CountOf(buffer, capacity).fetch_add(1, std::memory_order_relaxed);
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

}  // namespace velk
