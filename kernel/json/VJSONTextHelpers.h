// Small helpers that build or read JSON text without JSON values: an array of scalars appended piece by
// piece, the element texts of an array, and a flat object of scalar members.
#pragma once

#include "kernel/VExport.h"

#include <vector>

#include "kernel/VKernelTypes.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace velk {

class VValueSingle;

// Appends scalars to the text of a JSON array: each element is followed by ",", and closing turns the
// trailing "," into "]". Adding to a closed array opens it again and goes on with the same array. A piece
// that cannot be appended (velk 107 raised) is left out whole.
class VELK_API VJSONArrayWriter
{
public:
	// Builds its own text, starting as "[".
	VJSONArrayWriter();
	// Builds into the caller's text, which must outlive the writer: empty, or "[" followed by elements
	// each ending with ",".
	explicit VJSONArrayWriter(VString* text);

	VJSONArrayWriter(const VJSONArrayWriter&) = delete;
	VJSONArrayWriter& operator=(const VJSONArrayWriter&) = delete;

	// The value's JSON text (GetJSONString with the options); nothing when that fails.
	void Add(const VValueSingle& value, uint32 options);
	// Quoted and escaped (the options are added to the quotes); a null text adds nothing.
	void AddString(const char* text, uint32 options);
	void AddString(const VString& text, uint32 options);
	void AddBool(bool value);
	void AddLong(int32 value);
	// The XML number form, so non-finite numbers give "NaN", "INF" or "-INF".
	void AddReal(double value);
	// Each member in order; a null pointer or a count below 1 adds nothing. A char is true when not 0.
	void AddLongs(const int32* values, int32 count);
	void AddWords(const int16* values, int32 count);
	void AddBools(const char* values, int32 count);
	void AddReals(const double* values, int32 count);
	void AddStrings(const std::vector<VString>& values, uint32 options);
	// Closes other, adds its text as one element and leaves other as "[]" (closed).
	void AddJSONArray(VJSONArrayWriter& other);

	// Ends the array: an empty text becomes "[]", a trailing "," (and only that) gives way to "]".
	void Close();
	// Closes and copies the text; without keep the text starts again as "[]" (closed).
	void GetArray(VString& out, bool keep);
	bool IsClosed() const { return fClosed; }

private:
	void _Reopen();
	// Appends the piece and ",", or nothing.
	void _AddPiece(const VString& piece);

	VString fOwnText;
	VString* fText;
	bool fClosed = false;
};

// The element texts of a JSON array (strings unquoted and decoded, other scalars as written), read from
// the first "[" on. Nested arrays are passed over; objects' names and values count as elements.
class VELK_API VJSONArrayReader
{
public:
	VJSONArrayReader() = default;
	explicit VJSONArrayReader(const VString& text);
	virtual ~VJSONArrayReader() = default;

	// Forgets what was read, then reads text. An empty text, no "[", unbalanced brackets or a missing
	// closing "]" give velk 550 and no elements; no error is pushed for them.
	void FromJSONString(const VString& text);

	int32 GetCountOfElements(uint64* error = nullptr) const;
	uint64 GetError() const { return fError; }

	// Each element converted by the string's own conversions into the caller's array, which must hold
	// GetCountOfElements values. Each answers the read error and does nothing when it is set or the array
	// is null. Booleans: 1 for a text equal to "true", else 0.
	uint64 ToArrayShort(int16* values) const;
	uint64 ToArrayLong(int32* values) const;
	uint64 ToArrayReal(double* values) const;
	uint64 ToArrayBool(char* values) const;
	// With append the texts follow what values holds; without, values is emptied first.
	uint64 ToArrayString(std::vector<VString>& values, bool append) const;

private:
	uint64 fError = 0;
	std::vector<VString> fElements;
	int32 fCount = 0;
};

// Builds a flat JSON object of scalar members: {"name":value,...}. Adding after GetObject opens the object
// again.
class VELK_API VJSONSingleObjectWriter
{
public:
	VJSONSingleObjectWriter();
	virtual ~VJSONSingleObjectWriter() = default;

	// The value's JSON text (GetJSONString with the options) under the name, quoted and escaped. False,
	// nothing added, when the name is empty or null, the value's text fails, or memory is short.
	bool AddMember(const VString& name, const VValueSingle& value, uint32 options);
	// Closes the object (once) and copies its text.
	void GetObject(VString& out);

private:
	VString fText;
	bool fClosed = false;
	int32 fCount = 0;
};

}  // namespace velk
