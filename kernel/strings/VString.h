// The toolbox's text type: a mutable sequence of UTF-16 units with a null state, held in an inline buffer,
// a shared reference-counted heap buffer (copied on write) or a caller's external buffer.
#pragma once

#include <atomic>
#include <cstddef>

#include "kernel/values/VValueSingle.h"

namespace velk {

// Descriptor of a counted heap buffer handed out by VString::RetainBuffer. Its holder owns one reference
// and gives it back with VString::ReleaseRetainedBuffer. A null buffer describes an empty text.
struct VInlineString
{
	int32 fLength = 0;
	UniChar* fString = nullptr;
	int32 fMaxLength = 0;
};

class VString : public VValueSingle
{
public:
	// Buffer flags kept in the value flags byte.
	static constexpr uint8 kFLAG_EXTERNAL = 0x10;      // the buffer is not this string's to free
	static constexpr uint8 kFLAG_UNREFCOUNTED = 0x40;  // the buffer carries no count and is never shared

	// Empty, not null, dirty.
	VString();
	// Empty; null when null is true.
	explicit VString(bool null);
	// A null source gives an empty null string; a heap source buffer is shared, any other is copied.
	VString(const VString& other);
	// Keeps the source's null flag; takes over a heap buffer (the source is left empty), copies others.
	VString(VString&& other) noexcept;
	explicit VString(UniChar unit);
	// Copies length units; a null text or a negative length gives an empty string.
	VString(const UniChar* units, int32 length);
	// Copies a zero-terminated text; null gives an empty string.
	VString(const UniChar* text);
	// 32-bit wide text decoded as UTF-32; stops before a surrogate value, skips values above U+10FFFF.
	VString(const wchar_t* text);
	// Bytes all below 0x80 are widened one to one, otherwise the text is decoded as UTF-8 (an incomplete
	// sequence at the very end is dropped). Null gives an empty string.
	VString(const char* text);
	// Text in a character set. Only UTF-16 (1, 2), UTF-32 (3, 4) and UTF-8 (7) are decoded for now; any
	// other set gives an empty string.
	VString(const void* bytes, size_t byteCount, CharSet charSet);
	// Wraps the caller's buffer without copying (external, unrefcounted): edits happen in place while the
	// text fits, after which the string moves to its own buffer and never touches the caller's again.
	// Capacity is maxBytes / 2 - 1, or length when maxBytes is the largest size_t. A buffer too small for
	// length is copied instead of wrapped; a null buffer gives an empty null string.
	VString(UniChar* buffer, int32 length, size_t maxBytes);
	// Shares the descriptor's counted buffer (one more reference).
	explicit VString(const VInlineString& descriptor);
	// Uses the descriptor's buffer without taking a reference (external): the holder must outlive this string.
	VString(const VInlineString& descriptor, bool noRetain);

	~VString() override;

	VString& operator=(const VString& other)
	{
		FromString(other);
		return *this;
	}
	// Takes over a heap buffer of the source (left empty) or copies; carries the source's null flag.
	VString& operator=(VString&& other) noexcept;

	// A new string object whose own inline buffer holds n units (n < 0 counts as 0), empty and dirty.
	// Null when memory is short. The caller deletes it.
	static VString* NewString(int32 n);
	// Strings may come from NewString, whose object is larger than the class: freed unsized.
	static void* operator new(size_t size);
	static void operator delete(void* block);

	// Units before the first 0; 0 for null.
	static int32 UniCStringLength(const UniChar* text);

	int32 GetLength() const { return fLength; }
	// Always zero-terminated.
	const UniChar* GetCPointer() const { return fString; }
	bool IsEmpty() const { return fLength == 0; }
	bool IsExternal() const { return (fFlags & kFLAG_EXTERNAL) != 0; }
	bool IsUnrefcounted() const { return (fFlags & kFLAG_UNREFCOUNTED) != 0; }

	// Empty on the inline buffer (a heap buffer is released, an external one left alone), not null, dirty.
	void Clear() override;
	// The same release and reset, leaving the null and dirty flags alone.
	void _Clear();

	// A buffer no other string reads, of at least capacity units, for writing straight into, keeping the
	// text (a wrapped caller's buffer while it is big enough); then Validate sets the length. Null (velk 107 raised, string unchanged) when no buffer can be made.
	UniChar* GetCPointerForWrite(int32 capacity);
	// After writing into the buffer: false when length is outside 0..capacity; otherwise sets the length,
	// writes the terminator and marks the string not null and dirty.
	bool Validate(int32 length);

	// The unit at the 1-based position; 0 outside 1..length or when null.
	UniChar GetUniChar(int32 pos) const;
	// Stores a unit at the 1-based position (unsharing first); false outside 1..length, when null or when
	// unsharing fails (velk 107). The null and dirty flags are left alone.
	bool SetUniChar(int32 pos, UniChar unit);

	// Same length and same units, no locale, null state ignored.
	bool EqualToStringRaw(const VString& other) const;

	// A counted buffer the caller must give back with ReleaseRetainedBuffer: this string's own heap buffer
	// (one more reference) or a new counted copy. Null with 0 and 0 for an empty or null string, or when
	// no copy can be made (velk 107).
	UniChar* RetainBuffer(int32& outLength, int32& outCapacity) const;
	// The same without the copy: null when this string's buffer is not shareable.
	UniChar* _RetainBuffer(int32& outLength, int32& outCapacity) const;
	// Drops this string's hold on its buffer (frees it when it is the last), leaving the fields as they are.
	void _ReleaseBuffer();
	// Gives back one reference on a counted buffer from RetainBuffer; frees it with the last.
	static void ReleaseRetainedBuffer(UniChar* buffer, int32 capacity);

	// Units to allocate for a capacity of at least newLength (up to 0x80000002); 0 when impossible.
	static uint32 ComputeProgressiveResize(int32 currentLength, int32 newLength);
	// Gives the string a private buffer of at least newCapacity units, keeping min(length, newCapacity)
	// units when keep is set. False when it cannot (velk 107 raised, string unchanged). The length field is
	// left to the caller.
	bool _ReallocBuffer(int32 newCapacity, bool keep);
	// Prepares the buffer for a text of newLength units: unshares it and grows it, keeping the text.
	// False (velk 107 raised, string unchanged) when that fails.
	bool _PrepareWrite(int32 newLength)
	{
		if (newLength >= 0 && newLength <= fMaxLength && !_IsShared())
			return true;
		return _UnshareOrGrow(newLength);
	}
	// True when another string holds the same heap buffer.
	bool _IsShared() const
	{
		return _IsShareable() && _CountOf(fString, fMaxLength).load(std::memory_order_acquire) >= 2;
	}

	// The assignment: a null source makes this string null; otherwise shares a heap buffer or copies.
	void FromString(const VString& text) override;
	void GetString(VString& text) const override;

	// Flat form: int32 length then the units in host order, no terminator. A non-zero limit cuts the
	// length to what fits; a limit below 4 writes nothing. Both return the address behind the datum.
	// Loading marks the string not null and dirty; when no buffer can be made (velk 107) it is unchanged.
	const void* LoadFromPtr(const void* data, uint8 flag = 0) override;
	void* WriteToPtr(void* data, uint8 flag = 0, uint64 limit = 0) const override;
	uint64 GetSpace(uint64& ioExtra, uint64 limit = 0) const override;

	// The raw units, min(2 x length, length argument - 2) bytes; answers 2 (UTF-16 in machine order).
	CharSet DebugDump(char* buffer, int& length) const override;
	using VValueSingle::DebugDump;

	VValue* Clone() const override;
	// Until the international manager exists texts are compared unit by unit.
	CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;

protected:
	// A derived string's own inline buffer: capacity units plus the terminator.
	struct InlineBuffer
	{
		UniChar* fUnits;
		int32 fCapacity;
	};
	explicit VString(const InlineBuffer& inlineBuffer);

	// When the string becomes null its text is dropped.
	void DoNullChanged() override;

	// Shared by the constructors of this class and of derived strings.
	void _InitCopy(const VString& other);
	void _InitMove(VString& other);
	void _InitFromUniChars(const UniChar* units, int32 length);
	void _InitFromCString(const char* text);
	void _InitFromWide(const wchar_t* text);
	size_t _InitFromBlock(const void* bytes, size_t byteCount, CharSet charSet);

private:
	// The reference count of a counted buffer lies at the first 4-byte aligned unit behind the terminator.
	static std::atomic_ref<uint32> _CountOf(UniChar* buffer, int32 capacity)
	{
		return std::atomic_ref<uint32>(*reinterpret_cast<uint32*>(buffer + (capacity | 1) + 1));
	}
	static void _ReleaseCounted(UniChar* buffer, int32 capacity);
	bool _IsInline() const { return fString == fInlineBuffer; }
	bool _IsShareable() const { return !_IsInline() && (fFlags & kFLAG_UNREFCOUNTED) == 0; }
	bool _UnshareOrGrow(int32 newLength);
	bool _PrepareReplace(int32 newLength);
	void _DropBuffer();
	void _SetNotNullDirty()
	{
		if (IsNull())
			SetNull(false);
		fFlags |= kFLAG_DIRTY;
	}

	UniChar* fString;
	int32 fLength = 0;
	int32 fMaxLength;
	int32 fInlineCapacity;
	UniChar* fInlineBuffer;
	UniChar fTerminator[1];
};

// Storage of VStr's inline buffer, placed before the string so that it exists when the string is built.
template <int32 N>
struct VStrInlineStorage
{
	VStrInlineStorage() {}
	UniChar fInlineUnits[N + 1];
};

// A string with N units of inline room: short texts need no heap block.
template <int32 N>
class VStr : private VStrInlineStorage<N>, public VString
{
public:
	VStr() : VStrInlineStorage<N>(), VString(InlineBuffer{this->fInlineUnits, N}) {}
	VStr(const VStr& other) : VStrInlineStorage<N>(), VString(InlineBuffer{this->fInlineUnits, N}) { _InitCopy(other); }
	VStr(const VString& other) : VStrInlineStorage<N>(), VString(InlineBuffer{this->fInlineUnits, N}) { _InitCopy(other); }
	VStr(VString&& other) noexcept : VStrInlineStorage<N>(), VString(InlineBuffer{this->fInlineUnits, N}) { _InitMove(other); }
	VStr(const UniChar* units, int32 length) : VStrInlineStorage<N>(), VString(InlineBuffer{this->fInlineUnits, N}) { _InitFromUniChars(units, length); }
	VStr(const UniChar* text) : VStrInlineStorage<N>(), VString(InlineBuffer{this->fInlineUnits, N}) { _InitFromUniChars(text, UniCStringLength(text)); }
	VStr(const char* text) : VStrInlineStorage<N>(), VString(InlineBuffer{this->fInlineUnits, N}) { _InitFromCString(text); }

	VStr& operator=(const VStr& other)
	{
		FromString(other);
		return *this;
	}
	VStr& operator=(const VString& other)
	{
		FromString(other);
		return *this;
	}
	VStr& operator=(VString&& other) noexcept
	{
		VString::operator=(static_cast<VString&&>(other));
		return *this;
	}
};

// A four-character code as text: its four bytes, most significant first, decoded as UTF-8.
class VOsTypeString : public VStr<4>
{
public:
	explicit VOsTypeString(uint32 code);
};

}  // namespace velk
