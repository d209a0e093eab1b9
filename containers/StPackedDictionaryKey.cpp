// Lookup key of the packed dictionaries: construction from each text form and the hash.
#include "containers/StPackedDictionaryKey.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "kernel/intl/VUTFCodec.h"
#include "kernel/strings/VString.h"

namespace velk {

namespace {

// Room of a converted key: the longest key and a terminator.
constexpr size_t kCONVERTED_BUFFER_SIZE = StPackedDictionaryKey::kMAX_KEY_LENGTH + 1;

}  // namespace

StPackedDictionaryKey::StPackedDictionaryKey(const char* text)
	: fKey(text != nullptr ? text : ""), fKeyLength(text != nullptr ? std::strlen(text) : 0), fBuffer(nullptr), fHashCode(0)
{
	fHashCode = GetHashCode(fKey, fKeyLength);
}

StPackedDictionaryKey::StPackedDictionaryKey(const char* text, size_t length)
	: fKey(""), fKeyLength(0), fBuffer(nullptr), fHashCode(0)
{
	if (text == nullptr || length == 0)
		return;
	fBuffer = _NewBuffer(length + 1);
	if (fBuffer == nullptr)
		return;
	std::memcpy(fBuffer, text, length);
	_UseBuffer(length);
}

StPackedDictionaryKey StPackedDictionaryKey::Borrow(const char* text, size_t length)
{
	StPackedDictionaryKey key("");
	if (text != nullptr && length <= kMAX_KEY_LENGTH)
	{
		key.fKey = text;
		key.fKeyLength = length;
		key.fHashCode = GetHashCode(text, length);
	}
	return key;
}

StPackedDictionaryKey::StPackedDictionaryKey(const VString& text)
	: fKey(""), fKeyLength(0), fBuffer(nullptr), fHashCode(0)
{
	const int32 units = text.GetLength();
	if (units == 0)
		return;
	fBuffer = _NewBuffer(kCONVERTED_BUFFER_SIZE);
	if (fBuffer == nullptr)
		return;
	int32 consumed = 0;
	size_t produced = 0;
	EncodeUTF8(text.GetCPointer(), units, &consumed, fBuffer, kMAX_KEY_LENGTH, &produced);
	if (consumed != units)
	{
		// Part of a name would look up another name.
		_SetEmpty();
		return;
	}
	_UseBuffer(produced);
}

StPackedDictionaryKey::StPackedDictionaryKey(const wchar_t* text)
	: fKey(""), fKeyLength(0), fBuffer(nullptr), fHashCode(0)
{
	if (text == nullptr)
		return;
	const size_t units = std::wcslen(text);
	if (units == 0)
		return;
	fBuffer = _NewBuffer(kCONVERTED_BUFFER_SIZE);
	if (fBuffer == nullptr)
		return;
	int32 consumed = 0;
	size_t produced = 0;
	const bool converted = units <= size_t(INT32_MAX) && EncodeUTF8Wide(text, int32(units), &consumed, fBuffer, kMAX_KEY_LENGTH, &produced);
	if (!converted || size_t(consumed) != units)
	{
		_SetEmpty();
		return;
	}
	_UseBuffer(produced);
}

void StPackedDictionaryKey::_UseBuffer(size_t length)
{
	fBuffer[length] = 0;
	fKey = fBuffer;
	fKeyLength = length;
	fHashCode = GetHashCode(fKey, fKeyLength);
}

StPackedDictionaryKey::StPackedDictionaryKey(const StPackedDictionaryKey& other)
	: fKey(""), fKeyLength(0), fBuffer(nullptr), fHashCode(0)
{
	_CopyFrom(other);
}

StPackedDictionaryKey& StPackedDictionaryKey::operator=(const StPackedDictionaryKey& other)
{
	if (this != &other)
		_CopyFrom(other);
	return *this;
}

StPackedDictionaryKey::~StPackedDictionaryKey()
{
	delete[] fBuffer;
}

void StPackedDictionaryKey::_CopyFrom(const StPackedDictionaryKey& other)
{
	if (this == &other)
		return;
	_SetEmpty();
	if (other.fBuffer == nullptr)
	{
		fKey = other.fKey;
		fKeyLength = other.fKeyLength;
		fHashCode = other.fHashCode;
		return;
	}
	fBuffer = _NewBuffer(other.fKeyLength + 1);
	if (fBuffer == nullptr)
		return;
	std::memcpy(fBuffer, other.fKey, other.fKeyLength);
	fBuffer[other.fKeyLength] = 0;
	fKey = fBuffer;
	fKeyLength = other.fKeyLength;
	fHashCode = other.fHashCode;
}

bool StPackedDictionaryKey::Equals(const StPackedDictionaryKey& other) const
{
	return fHashCode == other.fHashCode && EqualsBytes(other.fKey, other.fKeyLength);
}

uint32 StPackedDictionaryKey::GetHashCode(const char* text, size_t length)
{
	if (length == 0)
		return 0;
	const uint8* bytes = reinterpret_cast<const uint8*>(text);
	uint32 hash = uint32(length);
	if (length <= 16)
	{
		for (size_t i = 0; i < length; ++i)
			hash = hash * 257u + bytes[i];
		return hash;
	}
	for (size_t i = 0; i < 8; ++i)
		hash = hash * 257u + bytes[i];
	for (size_t i = length - 8; i < length; ++i)
		hash = hash * 257u + bytes[i];
	return hash;
}

void StPackedDictionaryKey::_SetEmpty()
{
	delete[] fBuffer;
	fBuffer = nullptr;
	fKey = "";
	fKeyLength = 0;
	fHashCode = 0;
}

char* StPackedDictionaryKey::_NewBuffer(size_t bytes)
{
	return new (std::nothrow) char[bytes];
}

}  // namespace velk
