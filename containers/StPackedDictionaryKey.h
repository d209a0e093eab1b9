// Lookup key of the packed dictionaries under every value bag: the name as UTF-8 (at most 255 bytes), its
// byte length and its hash, computed once when the key is made so that repeated lookups cost no hashing.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <cstring>

#include "kernel/VKernelTypes.h"

namespace velk {

class VString;

class VELK_API StPackedDictionaryKey
{
public:
	// The longest key a dictionary stores: its length is kept in one byte.
	static constexpr size_t kMAX_KEY_LENGTH = 255;

	// Points at the zero-terminated UTF-8 text without copying it: the text must outlive the key (literal
	// and static keys). A null text gives an empty key.
	StPackedDictionaryKey(const char* text);
	// Copies length bytes of UTF-8 text into a buffer the key owns. When that buffer cannot be had the key
	// is empty.
	StPackedDictionaryKey(const char* text, size_t length);
	// Points at length bytes of UTF-8 text without copying them (the text must outlive the key); a text
	// over 255 bytes, which no dictionary stores, gives an empty key.
	static StPackedDictionaryKey Borrow(const char* text, size_t length);
	// The text converted to UTF-8 into a buffer the key owns. A text that does not convert whole into 255
	// bytes (too long, a lone high surrogate at its end), or whose buffer cannot be had, gives an empty key.
	StPackedDictionaryKey(const VString& text);
	// 32-bit wide text converted to UTF-8, with the same rules.
	StPackedDictionaryKey(const wchar_t* text);

	// An owned text is duplicated (an empty key when that fails), a borrowed one stays borrowed.
	StPackedDictionaryKey(const StPackedDictionaryKey& other);
	StPackedDictionaryKey& operator=(const StPackedDictionaryKey& other);
	~StPackedDictionaryKey();

	// The UTF-8 bytes, not necessarily zero-terminated: use the length.
	const char* GetKey() const { return fKey; }
	size_t GetKeyLength() const { return fKeyLength; }
	uint32 GetHashCode() const { return fHashCode; }
	bool IsEmpty() const { return fKeyLength == 0; }

	// Same bytes; the hashes are compared first as a quick refusal.
	bool Equals(const StPackedDictionaryKey& other) const;
	// Same bytes as the given text.
	bool EqualsBytes(const char* bytes, size_t length) const { return length == fKeyLength && SameBytes(fKey, bytes, length); }

	// length bytes of a and b are equal. Inline: dictionary scans compare a handful of short keys, where
	// a call to memcmp costs more than the comparison.
	static bool SameBytes(const char* a, const char* b, size_t length)
	{
		if (length >= 8 && length <= 16)
		{
			// Two 8-byte words, overlapping for fewer than 16 bytes; the last bytes first, where names of
			// one family differ.
			return _Load<uint64>(a + length - 8) == _Load<uint64>(b + length - 8) && _Load<uint64>(a) == _Load<uint64>(b);
		}
		if (length >= 4 && length < 8)
			return _Load<uint32>(a + length - 4) == _Load<uint32>(b + length - 4) && _Load<uint32>(a) == _Load<uint32>(b);
		if (length < 4)
		{
			for (size_t i = 0; i < length; ++i)
			{
				if (a[i] != b[i])
					return false;
			}
			return true;
		}
		return std::memcmp(a, b, length) == 0;
	}

	// The dictionaries' hash of a UTF-8 text: keys of up to 16 bytes hash every byte, longer ones their first
	// and last 8 bytes only (long keys mostly differ at their ends).
	static uint32 GetHashCode(const char* text, size_t length);

	// Takes the other key's text, length and hash (see the copy constructor). Drops what this key owned.
	void _CopyFrom(const StPackedDictionaryKey& other);

private:
	template <class WORD>
	static WORD _Load(const char* bytes)
	{
		WORD word;
		std::memcpy(&word, bytes, sizeof(word));
		return word;
	}

	void _SetEmpty();
	// The key becomes the first length bytes of the owned buffer, terminated and hashed.
	void _UseBuffer(size_t length);
	// Allocates the owned buffer; null when memory is short.
	static char* _NewBuffer(size_t bytes);

	const char* fKey;
	size_t fKeyLength;
	char* fBuffer;
	uint32 fHashCode;
};

}  // namespace velk
