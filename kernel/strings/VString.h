// The toolbox's text type: a mutable sequence of UTF-16 units with a null state, held in an inline buffer,
// a shared reference-counted heap buffer (copied on write) or a caller's external buffer.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "kernel/values/VValueSingle.h"

namespace velk {

class VIntlMgr;
class VArrayString;
class VString_info;
template <uint64 kGranularity, uint64 kGrowthDivisor, uint64 kMaxGrowth>
class VMemoryBuffer;

// Formatting and transcoding.
class VValueBag;
class VJSONObject;

// How line ends are written: kept as they are, CR LF, CR alone or LF alone.
enum ECarriageReturnMode : int32
{
	eCRM_NONE = 1,
	eCRM_CRLF = 2,
	eCRM_CR = 3,
	eCRM_LF = 4
};

// Descriptor of a counted heap buffer handed out by VString::RetainBuffer. Its holder owns one reference
// and gives it back with VString::ReleaseRetainedBuffer. A null buffer describes an empty text.
struct VELK_API VInlineString
{
	int32 fLength = 0;
	UniChar* fString = nullptr;
	int32 fMaxLength = 0;
};

class VELK_API VString : public VValueSingle
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
	// Text in a character set, as FromBlock; a set without a converter gives an empty string.
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
	// Strings may come from NewString, whose object is larger than the class: freed unsized. No form of new
	// throws: when memory is short it gives null (velk 107 raised) and runs no constructor, so `new VString`
	// and `new (std::nothrow) VString` both answer null then, and the caller tests the pointer.
	static void* operator new(size_t size) noexcept;
	static void* operator new(size_t size, const std::nothrow_t&) noexcept;
	static void operator delete(void* block) noexcept;
	static void operator delete(void* block, const std::nothrow_t&) noexcept;

	// Units before the first 0; 0 for null.
	static int32 UniCStringLength(const UniChar* text);

	int32 GetLength() const { return fLength; }
	// Always zero-terminated.
	const UniChar* GetCPointer() const { return fString; }
	bool IsEmpty() const { return fLength == 0; }
	bool IsExternal() const { return (fFlags & kFLAG_EXTERNAL) != 0; }
	bool IsUnrefcounted() const { return (fFlags & kFLAG_UNREFCOUNTED) != 0; }
	// True when some of the byteCount bytes at bytes lie in this string's buffer or inline buffer, which a
	// change may free, move or write over: a change must not read its source from there (StStringSource).
	bool _Overlaps(const void* bytes, size_t byteCount) const;

	// The string kind's descriptor, registered at start-up before sEmpty is built.
	static const VString_info sInfo;
	// Empty, not null, dirty: the text empty results are copied from.
	static const VString sEmpty;

	// Empty on the inline buffer (a heap buffer is released, an external one left alone), not null, dirty.
	void Clear() override;
	// The same release and reset, leaving the null and dirty flags alone.
	void _Clear();
	// False when a heap buffer fails the memory manager's check, or a non-empty text lacks its terminator.
	bool IsStringValid() const;
	// Normalisation requests: text is kept in the form it was given, so both leave it unchanged.
	void Compose();
	void Decompose();

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

	// ---------------------------------------------------------------------------------------------------
	// Editing. Positions are 1-based, counts in UTF-16 units. Every change first unshares or grows the
	// buffer; when that fails velk 107 is raised and the string is left as it was. Unless said otherwise a
	// change makes the string not null and dirty. Units, C texts and blocks handed over may lie in the
	// string itself: they are read before its buffer changes, or from a copy.

	// Appending; each returns the string.
	VString& AppendUniChar(UniChar unit);
	// A null text or a count below 1 appends nothing.
	VString& AppendUniChars(const UniChar* units, int32 count);
	VString& AppendUniCString(const UniChar* text);
	// Bytes all below 0x80 are widened one to one; otherwise the text is decoded as UTF-8.
	VString& AppendCString(const char* text);
	// Text in a character set (2, UTF-16 in machine order, is copied; an odd last byte is dropped). A set
	// without a converter appends nothing.
	VString& AppendBlock(const void* bytes, size_t byteCount, CharSet charSet);
	// Decimal, with a leading "-" for negatives.
	VString& AppendLong(int32 value);
	VString& AppendLong8(int64 value);
	VString& AppendULong8(uint64 value);
	// The "%.14G" form, whatever the process locale: "." as decimal point, upper-case exponent, "INF",
	// "-INF", and "NAN" for a NaN of either sign.
	VString& AppendReal(double value);
	// The code's four bytes, most significant first, one unit each; bytes outside 0x20..0x7E are skipped.
	VString& AppendOsType(uint32 code);
	// The value's text (GetString).
	VString& AppendValue(const VValueSingle& value);

	// The content becomes count units (empty for a null text or a count below 1).
	void FromUniString(const UniChar* units, int32 count);
	// The content becomes the text of the bytes in the character set; answers the bytes consumed. UTF-16 in
	// machine order (2) is copied and answers byteCount. Other sets go through the set's converter; the
	// string is emptied first, keeps what was converted when the converter stops early (a partial character
	// at the end is left unconsumed) and stays empty for a set without a converter. Bytes that lie in this
	// string are read from a copy; when it cannot be made the answer is 0 (velk 107, string unchanged).
	size_t FromBlock(const void* bytes, size_t byteCount, CharSet charSet);

	// Replaces count units from pos by text; when the range reaches the end (a count of INT32_MAX does),
	// the string is cut at pos - 1 and text appended. Nothing unless pos is in 1..length and count >= 1.
	void Replace(const VString& text, int32 pos, int32 count);
	// Removes count units from pos, or everything from pos when the range reaches the end. Nothing unless
	// pos is in 1..length and count >= 0.
	void Remove(int32 pos, int32 count);
	// Cuts the string to length units (nothing when it is not shorter). With keepPairs, a high surrogate
	// that would end the text goes as well. A large unshared heap buffer is traded for a smaller one and a
	// shared one for a copy of the kept part; when that fails (velk 107) the string is unchanged. The null
	// and dirty flags are not changed.
	void Truncate(int32 length, bool keepPairs = true);
	// The pos - 1 units before pos: empty when pos < 1, a copy (null state included) when pos > length.
	VString Before(int32 pos) const;
	// The units behind pos: a copy when pos < 1, empty when pos >= length.
	VString After(int32 pos) const;
	// Replaces the occurrences of find (matched unit by unit, not overlapping, the search going on behind
	// each replacement) from start, at most maxCount of them. Nothing happens for an empty find, a start
	// below 1 or a maxCount below 1. outCount, when given, receives the number of replacements (0 when the
	// result would not fit, velk 107 raised).
	VString& ExchangeRawString(const VString& find, const VString& replace, int32 start = 1, int32 maxCount = INT32_MAX, int32* outCount = nullptr);
	// Removes white space (tab, line ends, the Unicode spaces, U+FEFF) at the ends asked for; a high
	// surrogate left at the end after trailing trimming goes too.
	void Trim(bool leading = true, bool trailing = true);
	// Removes white space at the ends asked for: what intl's IsSpace accepts, or U+0020 and U+0009 without
	// a manager. The trailing end follows the rules of Truncate (keepPairs set). The units removed at each
	// end asked for are stored through its out pointer when given (0 when none, also on failure).
	void RemoveWhiteSpaces(bool leading = true, bool trailing = true, int32* outLeading = nullptr, int32* outTrailing = nullptr, VIntlMgr* intl = nullptr, bool flag = false);

	// ---------------------------------------------------------------------------------------------------
	// Comparing and searching. The language-aware forms go through the current task's international
	// manager (diacritics set: case and diacritics are significant); without a manager (before start-up,
	// after shut-down) they compare unit by unit. A null string compares as empty.

	CompareResult CompareToString(const VString& other, bool diacritics = false) const;
	// This text against a pattern with wild chars (the manager's GetWildChar).
	CompareResult CompareToString_Like(const VString& pattern, bool diacritics = false) const;
	bool EqualToString(const VString& other, bool diacritics = false) const;
	bool EqualToString_Like(const VString& pattern, bool diacritics = false) const;

	// Same length and same units, no locale, null state ignored.
	bool EqualToStringRaw(const VString& other) const;
	// Unit by unit (-1, 0, 1); a string that is the beginning of the other is the smaller.
	CompareResult CompareToStringRaw(const VString& other) const;
	// The same with only A-Z folded to a-z.
	CompareResult CompareToStringRawCase(const VString& other) const;
	// Every byte equals the unit at its place and the lengths are equal; bytes of 0x80 and above never
	// match. Null counts as "".
	bool EqualToUSASCIICString(const char* text) const;
	// Unit by unit; an empty argument gives true.
	bool BeginsWithRawString(const VString& prefix) const;
	bool EndsWithRawString(const VString& suffix) const;
	// 1-based position of the first occurrence at or after start, matched unit by unit; 0 when absent or
	// when start < 1. An empty pattern is found at start while start <= length + 1.
	int32 FindRawString(const VString& pattern, int32 start = 1) const;
	// The search itself: 1-based position of the pattern in the text, 0 when absent; an empty pattern is
	// found at 1.
	static int32 FindRawString(const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength);
	// Forward from max(start, 1) to the end, or backward from there down to 1; 0 when absent, for an empty
	// string or when start > length.
	int32 FindUniChar(UniChar unit, int32 start = 1, bool backward = false) const;
	// Length of the longest common subsequence of the two texts (units compared exactly) divided by this
	// length; 0.0 when either is empty or when memory is short (velk 100 raised).
	double SimilarToString(const VString& other) const;

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
	// Adds one reference to a counted buffer from RetainBuffer, for a second holder that gives it back
	// with ReleaseRetainedBuffer.
	static void RetainRetainedBuffer(UniChar* buffer, int32 capacity);
	// A new counted buffer holding a copy of the units, at their exact size, whose one reference is the
	// caller's (given back with ReleaseRetainedBuffer, capacity = length); null with velk 107 raised when it
	// cannot be made, or for no units.
	static UniChar* NewCountedBuffer(const UniChar* units, int32 length);

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

	// ---------------------------------------------------------------------------------------------------
	// Conversions to and from other kinds. No parse reports an error: malformed text gives 0, 0.0, false
	// or blanks. Every From form leaves the string not null and dirty (JSON null excepted).

	// Digits '0'-'9' (U+0030-U+0039 only) accumulate in 64 bits, wrapping past the range; a '-' met while
	// the value is still 0 makes the result negative; the decimal separator ('.') ends the scan; every
	// other unit is skipped. So "5-3" gives 53, "0-3" gives -3 and "1,234" gives 1234.
	int64 GetLong8() const override;
	// GetLong8 when it fits in 32 (16) bits, else 0.
	int32 GetLong() const override;
	int16 GetWord() const override;
	// GetRealCheckOverflow without the flag.
	double GetReal() const override;
	// The text read as a real under the "C" numeric rules whatever the process locale: leading ASCII white
	// space, a sign, a decimal or hexadecimal significand with '.' as point, an exponent, or "inf", "infinity",
	// "nan"; what follows the number is ignored and no number at all gives 0.0. overflow may be null; else
	// it is set true exactly when the value was out of range and the result is +-0 or +-infinity.
	double GetRealCheckOverflow(bool* overflow) const;
	// True exactly when the text equals "true" through the current task's international manager with
	// diacritics ignored (case as the manager folds it; unit by unit without a manager). "1" is false.
	bool GetBoolean() const override;
	// The first four bytes of the text as UTF-8, padded with blanks, the first byte the most significant:
	// "ab" gives 0x61622020, "" gives 0x20202020.
	uint32 GetOsType() const;
	// The target parses this text (its FromString).
	void GetTime(VTime& time) const override;
	void GetDuration(VDuration& duration) const override;
	// The target parses this text (its FromString: 32 hexadecimal digits, else the text as a name).
	void GetVUUID(VUUID& uuid) const override;
	// A JSON string sharing this text's buffer (a counted copy of a text held inline); a null string gives
	// JSON null. Answers 0, or velk 107 when the copy cannot be made, the JSON value then an empty string.
	VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;

	// The numbers' texts replace the content: signed decimal, unsigned decimal, and for reals the "%.14G"
	// form whatever the process locale ("0.1", "1E+20", "INF", "-INF", "NAN" for either sign of NaN).
	// When the new text cannot be stored (velk 107) the string keeps its previous content.
	void FromLong8(int64 value) override;
	void FromULong8(uint64 value);
	void FromLong(int32 value) override;
	void FromWord(int16 value) override;
	void FromByte(int8 value) override;
	void FromReal(double value) override;
	// "true" when value is not 0, else "false".
	void FromBoolean(uint8 value) override;
	// The code's printable bytes (0x20-0x7E), the most significant first; the others are skipped.
	void FromOsType(uint32 code);
	// One unit; 0 empties the string.
	void FromUniChar(UniChar unit);
	// Bytes all below 0x80 are widened one to one; otherwise the text is decoded as UTF-8. Null empties.
	void FromCString(const char* text);
	// A leading byte-order mark decides the character set and is skipped; without one, UTF-16 is guessed
	// from the pattern of zero bytes (and UTF-8 for ASCII bytes when the default is UTF-16), else
	// defaultSet is used. Then as FromBlock. Answers the character set used.
	CharSet FromBlockWithOptionalBOM(const void* bytes, size_t byteCount, CharSet defaultSet);
	// Shares the descriptor's counted buffer (one more reference); a descriptor without buffer empties.
	void FromString(const VInlineString& descriptor);
	// The content becomes count ASCII bytes, one unit each: a shared buffer is given up and a large heap
	// buffer traded for a small one. When no buffer can be had (velk 107) the string is unchanged. The
	// bytes may lie in this string.
	void _FromASCII(const char* bytes, int32 count);
	// The value writes its own text into this string (its GetString).
	void FromValue(const VValueSingle& value) override;
	void FromTime(const VTime& time) override;
	void FromDuration(const VDuration& duration) override;
	// The identifier's 32 upper-case hexadecimal digits.
	void FromVUUID(const VUUID& uuid) override;
	// JSON null makes the string null; any other JSON value writes its text (VJSONValue::GetString:
	// "true", "false", the number's JSON form, "" for undefined, array elements joined with ','). Answers
	// 0, or the error of GetString (velk 900 for an array holding itself, velk 107; a date needs the time
	// texts, velk 2), the string then unchanged or empty.
	VError FromJSONValue(const VJSONValue& json) override;

	// Encodes the text in the character set into size bytes at buffer and answers the bytes of text
	// produced (prefix and terminator not counted). lengthPrefix puts one byte before the text holding the
	// count when below 256, else 0; zeroTerminate puts a 0 byte behind it. For UTF-16 in machine order (2)
	// both are 2-byte units and the prefix counts units (0 from 65,536 on). Text that does not fit is cut
	// where the converter stopped, without notice; bytes of the room past those produced may be written
	// over. A buffer too small for prefix and terminator gets zeros in the whole units that fit and the
	// answer is 0.
	size_t ToBlock(void* buffer, size_t size, CharSet set, bool zeroTerminate, bool lengthPrefix) const;
	// Replaces out's content with the text encoded in the character set. False when the set has no
	// converter (out untouched), when the converter met an error, or when out cannot grow (velk 300).
	bool ToBuffer(VMemoryBuffer<1024, 2, 1048576>& out, CharSet set) const;

	// The assignment: a null source makes this string null; otherwise shares a heap buffer or copies.
	void FromString(const VString& text) override;
	void GetString(VString& text) const override;

	// Flat form: int32 length then the units in host order, no terminator. A non-zero limit cuts the
	// length to what fits; a limit below 4 writes nothing. Both return the address behind the datum.
	// Loading marks the string not null and dirty; when no buffer can be made (velk 107) it is unchanged.
	const void* LoadFromPtr(const void* data, uint8 flag = 0) override;
	// As LoadFromPtr, but null, string unchanged and nothing raised, when the available bytes hold less
	// than the length word and the units it announces.
	const void* LoadFromPtrBounded(const void* data, uint64 available, uint8 flag = 0) override;
	void* WriteToPtr(void* data, uint8 flag = 0, uint64 limit = 0) const override;
	uint64 GetSpace(uint64& ioExtra, uint64 limit = 0) const override;

	// The raw units, min(2 x length, length argument - 2) bytes; answers 2 (UTF-16 in machine order).
	CharSet DebugDump(char* buffer, int& length) const override;
	using VValueSingle::DebugDump;

	// A new string equal to this one, null state included; null when memory is short (velk 107 raised).
	VValue* Clone() const override;
	const VValueInfo* GetValueInfo() const override;
	// The other value's text compared as by CompareToString.
	CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;
	bool EqualTo(const VValueSingle& other, bool diacritical = false) const override;
	void GetValue(VValueSingle& value) const override;
	// Copies another string; false (nothing done) when other is not a string.
	bool FromValueSameKind(const VValue* other) override;

	// Comparisons with another string, or with the flat form of one ("Ptr"), through the current task's
	// manager. "Begining": this string cut to the other's length first; "IsTheBegining": the flat form cut
	// to this string's length; "Swap_": the flat form compared against this string; "_Like": the other
	// operand is a pattern with wild chars. The "WithOptions" forms use the options' manager (unit by unit
	// without one) and their like, diacritical and begins-with flags. other must be a string.
	CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const override;
	CompareResult CompareBeginingToSameKind(const VValue* other, bool diacritical = false) const override;
	bool EqualToSameKind(const VValue* other, bool diacritical = false) const override;
	CompareResult CompareToSameKindPtr(const void* other, bool diacritical = false) const override;
	CompareResult Swap_CompareToSameKindPtr(const void* other, bool diacritical = false) const override;
	CompareResult CompareBeginingToSameKindPtr(const void* other, bool diacritical = false) const override;
	CompareResult IsTheBeginingToSameKindPtr(const void* other, bool diacritical = false) const override;
	bool EqualToSameKindPtr(const void* other, bool diacritical = false) const override;
	CompareResult CompareToSameKind_Like(const VValue* other, bool diacritical = false) const override;
	CompareResult CompareBeginingToSameKind_Like(const VValue* other, bool diacritical = false) const override;
	bool EqualToSameKind_Like(const VValue* other, bool diacritical = false) const override;
	CompareResult CompareToSameKindPtr_Like(const void* other, bool diacritical = false) const override;
	CompareResult Swap_CompareToSameKindPtr_Like(const void* other, bool diacritical = false) const override;
	CompareResult CompareBeginingToSameKindPtr_Like(const void* other, bool diacritical = false) const override;
	CompareResult IsTheBeginingToSameKindPtr_Like(const void* other, bool diacritical = false) const override;
	bool EqualToSameKindPtr_Like(const void* other, bool diacritical = false) const override;
	bool Swap_EqualToSameKindPtr_Like(const void* other, bool diacritical = false) const override;
	CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
	bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
	CompareResult CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const override;
	bool EqualToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const override;
	CompareResult Swap_CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions& options) const override;

	// ---------------------------------------------------------------------------------------------------
	// Formatting. The printf conversions (numbers in the "C" locale whatever the process locale: '.' as the
	// decimal point, no digit grouping), plus three of the toolbox's own, each directly behind the "%"
	// (with a flag or a width between them they are printf's): %S a VString, %A a VValueSingle (its
	// GetString), %V any VObject (its DebugDump). Their argument is a pointer to the object: a null one
	// prints "@@invalid VObject@@", an object of another class "@@invalid VString@@" or
	// "@@invalid VValueSingle@@". Only the first 1023 bytes of the format are used and the printf part of
	// the output is cut at 1023 bytes; a conversion cut by either limit is dropped whole, and object texts
	// behind the cut go with it. Object texts are not counted and may be of any length. A zero byte in the
	// output ends it. Positional conversions ("%1$d") are not supported: they print as they stand and take
	// no argument; "%n" takes its pointer and stores nothing. When the string cannot grow, velk 107 is
	// raised and it keeps what fitted; when memory for the formatter's own work runs short, velk 107 is
	// raised and nothing is appended.

	// Empties the string (Truncate(0)), then formats. Objects must be passed by pointer (objects passed by
	// value do not compile); every pointer to a VObject reaches the formatter as a const VObject*, so %S,
	// %A and %V read the object whatever its place in a derived class.
	template <typename... Args>
	VString& Printf(const char* format, Args... args)
	{
		static_assert(!(std::is_class_v<Args> || ...), "pass objects to Printf by pointer");
		Truncate(0);
		_PrintfArguments(format, _PrintfArgument(args)...);
		return *this;
	}
	// Formats behind the current content.
	template <typename... Args>
	VString& AppendPrintf(const char* format, Args... args)
	{
		static_assert(!(std::is_class_v<Args> || ...), "pass objects to AppendPrintf by pointer");
		_PrintfArguments(format, _PrintfArgument(args)...);
		return *this;
	}
	// Empties the string, then formats. Object arguments are read as const VObject*.
	void VPrintf(const char* format, va_list arguments);
	// The formatter: appends. Object arguments are read as const VObject*. A null format appends nothing.
	void _Printf(const char* format, va_list arguments);

	// Replaces every {name} by the text of the bag's attribute of that name (matched exactly, case
	// included). "{{", "}}", "{}" and braces around a blank are not placeholders; inserted text is never
	// scanned again. A missing name is removed with removeUnknown, else left as it stands. A null or empty
	// bag, or a string shorter than 2 units, is left alone.
	VString& Format(const VValueBag* bag, bool removeUnknown);
	// The same from a JSON object's properties (GetProperty), null and undefined ones counting as missing.
	// A null or empty object changes nothing.
	VString& Format(const VJSONObject* object, bool removeUnknown);

	// ---------------------------------------------------------------------------------------------------
	// Transcoding. Every operation covers the whole length, inner U+0000 units included.

	// Options of GetJSONString and FromJSONString; the JSON writer passes its own option bits, which share
	// these values.
	static constexpr uint32 kJSON_WITH_QUOTES = 1;        // surround with quotation marks
	static constexpr uint32 kJSON_RAW = 16;               // no escaping, no unescaping
	static constexpr uint32 kJSON_ESCAPE_AMP_APOS = 1024;  // also escape '&' and the apostrophe

	// & < > " ' become "&amp;" "&lt;" "&gt;" "&quot;" "&apos;"; with escapeControls U+0001-U+001F and U+007F,
	// except TAB, LF and CR, become "&#x" + two upper-case hexadecimal digits + ";". A string that needs no
	// escaping is left untouched; when the new text cannot be made (velk 107) the string is unchanged.
	void TranscodeToXML(bool escapeControls);
	// The five named entities and the references "&#x" + hexadecimal digits + ";" of U+0001 to U+10FFFF
	// (above U+FFFF as a surrogate pair) become their characters; anything else (decimal references,
	// "&#X", 0, values above U+10FFFF, unclosed ones) stays as text, and replaced text is never decoded
	// again ("&amp;lt;" gives "&lt;"). When the new text cannot be made (velk 107) the string is unchanged.
	void TranscodeFromXML();
	// out = this text escaped by TranscodeToXML(false); the options are not used. out may be this string.
	void GetXMLString(VString& out, uint32 options = 0) const override;
	// This string = text unescaped by TranscodeFromXML; true.
	bool FromXMLString(const VString& text) override;
	// The JSON form replaces out (which may be this string): with kJSON_RAW the text as it is, quoted with
	// kJSON_WITH_QUOTES; otherwise escaped (\b \t \n \f \r \" \\, other controls and U+007F as \u00XX,
	// with kJSON_ESCAPE_AMP_APOS also '&' and the apostrophe; '/' and non-ASCII are copied). Answers 0, or
	// velk 107 (raised, out unchanged) when the result cannot be made.
	VError GetJSONString(VString& out, uint32 options = 0) const override;
	// Reads a JSON string body (no quotes expected): \b \f \n \r \t and \uXXXX are decoded, any other
	// escaped unit stands for itself; "\u" with fewer than four units behind gives "u" and ends the text;
	// a final lone backslash is dropped. kJSON_RAW copies. json may be this string. Answers 0, or velk 107
	// (raised, string unchanged) when the result cannot be made.
	VError FromJSONString(const VString& json, uint32 options = 0) override;

	// Every hexadecimal digit (either case) shifts the value 4 bits left and adds itself; other units are
	// skipped; wraps past 64 bits; empty gives 0.
	int64 GetHexLong() const;
	// Upper-case hexadecimal text without leading zeros ("0" for 0). With cStyle: "0x" and zero padding,
	// 8-bit values to 2 digits, 32-bit values to 4 or 8, 64-bit values to 4, 8 or 16. Negative values give
	// the digits of their two's complement; a char is taken as its unsigned byte. When no buffer can be
	// had (velk 107) the string is cleared.
	void FromHexLong(int64 value, bool cStyle);
	void FromHexLong(int32 value, bool cStyle);
	void FromHexLong(uint8 value, bool cStyle);
	void FromHexLong(char value, bool cStyle);

	// The convention of the first line end: LF gives eCRM_LF, CR LF eCRM_CRLF, any other CR eCRM_CR; a text
	// without line ends gives defaultMode.
	ECarriageReturnMode GetCarriageReturnMode(ECarriageReturnMode defaultMode) const;
	// Rewrites every line end (CR, LF, CR LF) to the mode's convention in place; eCRM_NONE and unknown
	// modes change nothing. When the string cannot grow (velk 107) it is left unchanged.
	void ConvertCarriageReturns(ECarriageReturnMode mode);
	// The same on encoded text in a byte buffer, unit by unit: 16-bit units for UTF-16 (charSet 1
	// big-endian, 2 machine order), 32-bit units for UTF-32 (3 and 5 big-endian, 4 and 6 machine order),
	// bytes for any other set; charSet 0 changes nothing. Bytes behind the last whole unit are kept. The
	// buffer ends up holding exactly the converted text; when memory is short it is left unchanged.
	static void ConvertCarriageReturns(VMemoryBuffer<1024, 2, 1048576>& buffer, CharSet charSet, ECarriageReturnMode mode);

	// An identifier for scripts into out (which may be this string): A-Z, a-z, 0-9, '_' and '$' kept in
	// order, every other unit dropped, "_" in front when the text starts with a digit.
	void GetCleanJSName(VString& out) const;
	// Shape only: four ASCII digits, '-', two digits, '-', two digits ("2024-02-30" passes).
	bool IsISODate() const;
	// The same shape between "!!" and "!!".
	bool IsNonAmbigousDate() const;

	// ---------------------------------------------------------------------------------------------------
	// Splitting.

	// Cuts the text at every separator unit (matched unit by unit) into out, which is emptied first. With
	// trimBlanks each piece loses its leading and trailing U+0020; empty pieces are kept only with
	// keepEmpty (a separator at the very end then adds a final empty piece, and an empty or null string
	// gives one copy of itself). True when at least one separator was found. When memory is short the
	// split stops there: velk 107 is raised, false answered, and out holds the pieces made before.
	bool GetSubStrings(UniChar separator, std::vector<VString>& out, bool keepEmpty, bool trimBlanks) const;
	// The same into a string array, emptied first (Destroy), each piece appended (AppendString).
	bool GetSubStrings(UniChar separator, VArrayString& out, bool keepEmpty, bool trimBlanks) const;

	// Replaces the text with the pieces in order, the separator between each two (none after the last); no
	// pieces clears the string. The pieces may include this string. False, the string as it was, when the
	// joined text would reach 0x7FFFFFFF units or its buffer cannot be made (velk 107 raised either way).
	bool Join(const std::vector<VString>& pieces, UniChar separator);
	bool Join(const std::vector<VString>& pieces, const VString& separator);

	// ---- Splitting at strings, templates and editing ----
	// The searching forms go through the collator of the current task's international manager
	// (diacritical set: case and diacritics are significant), so a match may be longer or shorter than its
	// pattern ("e" and a combining acute match a precomposed "é"); without a manager they match unit by
	// unit. A match of length 0 (an ignorable pattern such as a soft hyphen) counts where it stands and the
	// next search starts one unit further on, so that no walk through the text can stall.

	// Cuts the text at every match of separator into out, which is emptied first. Empty pieces are kept
	// only with keepEmpty (a match that ends the text then adds a final empty piece); with trimBlanks each
	// piece loses its leading and trailing U+0020. An empty or null string leaves out empty; an empty or
	// null separator gives one copy of the string. True when a separator was found. When memory is short
	// the split stops there: velk 107 is raised, false answered, and out keeps the pieces made before.
	bool GetSubStrings(const VString& separator, std::vector<VString>& out, bool keepEmpty, bool trimBlanks, bool diacritical) const;

	// out (which may be this string) becomes this template with each "{{path}}" replaced by the text of the
	// object's value at the path (VJSONObject::GetPropertyWithPath); null and undefined values, and every
	// path of a null object, give nothing. Whatever stands before the first "}}" of the text or of a piece
	// behind "{{" is a path: "a}}b" gives "b". A malformed path raises its error and gives nothing. Short
	// of memory out keeps what was made (velk 107).
	void FormatWithTemplate(const VJSONObject* object, VString& out) const;

	// The number at the start of the text under the rules of JavaScript's parseInt: leading white space
	// (Trim's set) skipped, an optional sign, then digits of the radix up to the first unit that is not
	// one. Radix 0 means 10; 0 and 16 accept a "0x" or "0X" prefix, which makes it 16. NaN for a radix
	// outside 2..36 (0 excepted), and when no digit comes first. Leading white space is trimmed from a
	// copy: when that copy cannot be made the answer is NaN too (velk 107 raised).
	double ParseInt(int32 radix = 0) const;

	// Replaces at most count matches of pattern, from start on, by replacement, through the collator given
	// or else the current task's (unit by unit without a manager); the search goes on behind each matched
	// text, so a replacement is never searched again. Nothing changes for an empty pattern (or one the
	// collation ignores whole), a start below 1, a count below 1, when nothing matches, or when the new
	// text cannot be made (velk 107 raised).
	VString& Exchange(const VString& pattern, const VString& replacement, int32 start = 1, int32 count = INT32_MAX, bool diacritical = false, class VCollator* collator = nullptr);
	// The first count units equal to from, at or after start, become to. Nothing changes for an empty or
	// null string, a start below 1 or a count below 1.
	VString& Exchange(UniChar from, UniChar to, int32 start = 1, int32 count = INT32_MAX);
	// Position of the first match at or after start; 0 when none, or when start is outside 1..length.
	int32 Find(const VString& pattern, int32 start = 1, bool diacritical = false) const;
	// Whether the text begins with prefix; only the first prefix length + 16 units are searched, room
	// enough for the longer forms a collator folds together. An empty prefix begins every text.
	bool BeginsWith(const VString& prefix, bool diacritical = false) const;
	// Whether the text ends with suffix; an empty suffix ends every text.
	bool EndsWith(const VString& suffix, bool diacritical = false) const;

	// Keeps the len units from pos (fewer when the text ends first) in place. Nothing unless pos is in
	// 1..length and len >= 0.
	void SubString(int32 pos, int32 len);
	// The len units from pos (fewer when the text ends first); empty when pos is outside 1..length or
	// len < 1.
	VString GetSubString(int32 pos, int32 len) const;
	// Inserts before pos, or appends when pos is beyond the length. Nothing for a pos below 1, nor for the
	// unit 0. The text may be this string.
	void Insert(UniChar unit, int32 pos);
	void Insert(const VString& text, int32 pos);
	// Exchanges the contents of the two strings, null states included. A heap or external buffer changes
	// hands without copying; inline text is copied, and an inline buffer too small for the other's text is
	// grown first. When that growth fails (velk 107) both strings stay as they were.
	void Swap(VString& other);
	// Removes every leading and trailing unit equal to unit; a text made only of it becomes empty.
	void TrimUniChar(UniChar unit);
	// A copy of a with b appended.
	friend VELK_API VString operator+(const VString& a, const VString& b);
	// The full case mapping of the current task's international manager ("ß" becomes "SS"); without a
	// manager only A-Z and a-z change. flag is handed to the manager. Short of memory the string is left
	// as it was (velk 107).
	void ToUpperCase(bool flag = false);
	void ToLowerCase(bool flag = false);

	// Searches text through the collator, or unit by unit when it is null: the 1-based position of the
	// first match, 0 when none, and its length in outLength.
	static int32 _FindMatch(const class VCollator* collator, const UniChar* text, int32 textLength, const UniChar* pattern, int32 patternLength, bool diacritical, int32& outLength);
	// The current task manager's collator, null when there is no manager.
	static class VCollator* _CurrentCollator();
	// ---- End of splitting at strings, templates and editing ----

	// ---- Base64 ----
	// Base64 (RFC 4648, standard or URL alphabet: Base64Coder). The string becomes the text of the bytes,
	// padded and without line breaks in the standard alphabet; false, string unchanged, when the bytes
	// cannot be encoded (null data with a size, memory short).
	bool EncodeBase64(const void* data, size_t size, bool url);
	// The same for this text's bytes in the character set (line ends kept). An empty or null string is
	// left as it is and gives true; a set without a converter gives false, string unchanged.
	bool EncodeBase64(CharSet set, bool url);
	// Decodes this text into out. A unit of U+0080 or above raises velk 210 and gives false; so does a
	// text the decoder refuses (out then empty), without raising anything. velk 100 when memory is short.
	bool DecodeBase64(VMemoryBuffer<1024, 2, 1048576>& out, bool url) const;
	// Decodes this text and reads the bytes as text in the character set (FromBlock). An empty or null
	// string gives true unchanged; text the decoder refuses gives false, the string left as it was. Bytes
	// that convert only in part give what was converted (bytes cut inside a character, a set without a
	// converter: nothing of them), with true.
	bool DecodeBase64(CharSet set, bool url);
	// ---- End of Base64 ----

	// ---- Platform string bridge: the platform's string object travels as the opaque VPlatformString
	// (kernel/strings/mac/XMacPlatformString.h converts) ----
	// A new platform string of this text's units, for the caller to release (an empty one for a null
	// string, which holds no units); null when memory is short.
	struct VPlatformString* MAC_RetainCFStringCopy() const;
	// The content becomes the platform string's units, read in place or in chunks of at most 1024 units;
	// the string ends not null and dirty. Null leaves the string as it was, null flag included.
	void MAC_FromCFString(const struct VPlatformString* s);

	// ---- Stream form ----
	// Written: an int32 holding minus the length, then the units, both swapped as the stream says; a null
	// or empty string writes 0 alone (null is not kept). Read: -n gives n units (fewer at end of data, the
	// stream's error set); n > 0 is the older form, followed by a character-set word: UTF-16 (1 or 2)
	// reads n units and a terminator, any other set skips n + 1 bytes and leaves the string as it was; 0
	// empties. A first word of INT32_MIN, or a length beyond what the stream holds, is corrupt data: velk
	// 200 is stored in the stream and the string is unchanged. When no buffer can be made the string is
	// cleared, the units skipped and velk 107 answered. Otherwise both answer the stream's error.
	VError ReadFromStream(VStream* stream, int32 param = 0) override;
	VError WriteToStream(VStream* stream, int32 param = 0) const override;
	// 4 for an empty string, else 2 x length + 10 (room for the older form's character-set word and
	// terminator too). The value model's GetStreamSpace keeps its default, the flat size.
	uint64 GetSizeInStream() const;
	// ---- End of stream form ----

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
	// Wraps a read-only, zero-terminated literal without writing to it (copies one that lacks its terminator).
	void _InitFromLiteral(const UniChar* literal, int32 length);
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
	// Appends units that may lie in this string's own buffer.
	void _AppendUnits(const UniChar* units, int32 count);
	// Appends ASCII bytes, one unit each.
	void _AppendASCII(const char* bytes, int32 count);
	// The printable ASCII characters of a four-character code, most significant first; returns their count.
	static int32 _OsTypeText(uint32 code, char (&text)[4]);
	// The end of Truncate once the new length is known: false (string unchanged) when a buffer fails.
	bool _TruncateTo(int32 length);
	bool _PrepareReplace(int32 newLength);
	void _DropBuffer();
	void _SetNotNullDirty()
	{
		if (IsNull())
			SetNull(false);
		fFlags |= kFLAG_DIRTY;
	}

	// Formatting: the variadic entry behind Printf and AppendPrintf, and the argument they hand over.
	void _PrintfArguments(const char* format, ...);
	// The formats made without the platform's formatter; false, nothing done and no argument taken from
	// arguments, for the others.
	bool _PrintfDirect(const char* format, size_t formatLength, va_list arguments);
	template <typename T>
	static auto _PrintfArgument(T argument)
	{
		if constexpr (std::is_pointer_v<T> && std::is_base_of_v<VObject, std::remove_cv_t<std::remove_pointer_t<T>>>)
			return static_cast<const VObject*>(argument);
		else
			return argument;
	}

	UniChar* fString;
	int32 fLength = 0;
	int32 fMaxLength;
	int32 fInlineCapacity;
	UniChar* fInlineBuffer;
	UniChar fTerminator[1];
};

// The bytes a change of a string reads: the caller's own, or a private copy when they lie in that string
// (VString::_Overlaps), so that the change may free, move or write over its buffer before it reads them.
class VELK_API StStringSource
{
public:
	// Raises nothing: when the copy cannot be made Get is null and IsValid false, for the caller to report.
	StStringSource(const VString& target, const void* bytes, size_t byteCount);
	~StStringSource();
	StStringSource(const StStringSource&) = delete;
	StStringSource& operator=(const StStringSource&) = delete;

	const void* Get() const { return fBytes; }
	bool IsValid() const { return fValid; }

private:
	const void* fBytes;
	void* fCopy = nullptr;
	bool fValid = true;
};

// Storage of VStr's inline buffer, placed before the string so that it exists when the string is built.
template <int32 N>
struct VELK_API VStrInlineStorage
{
	VStrInlineStorage() {}
	UniChar fInlineUnits[N + 1];
};

// A string with N units of inline room: short texts need no heap block.
template <int32 N>
class VELK_API VStr : private VStrInlineStorage<N>, public VString
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
class VELK_API VOsTypeString : public VStr<4>
{
public:
	explicit VOsTypeString(uint32 code);
};

// A constant UTF-16 literal seen as a string in place, never copied nor freed (external, unrefcounted).
// Keep it const: the literal is read-only, and an edit that fits would be made in place.
class VELK_API CVSTR_struct : public VString
{
public:
	template <size_t N>
	explicit CVSTR_struct(const UniChar (&literal)[N]) : CVSTR_struct(literal, int32(N - 1))
	{
	}
	CVSTR_struct(const UniChar* literal, int32 length);
};

// Conversions without a string at hand.
VELK_API VString ToString(int value);
VELK_API VString ToString(long long value);
VELK_API VString ToString(unsigned long long value);
VELK_API VString ToString(unsigned long value);
// The text as UTF-8, every unit kept: a lone surrogate, one that ends the text included, gives its three
// bytes (as ToUTF8String writes it); empty when memory is short (velk 107 raised).
VELK_API std::string to_string(const VString& text);
// A new string formatted as by VString::Printf (objects passed by pointer).
template <typename... Args>
VString Printf(const char* format, Args... args)
{
	VString text;
	text.Printf(format, args...);
	return text;
}

}  // namespace velk
