// The string's Base64 forms: of bytes, and of its own text in a character set.
#include "kernel/strings/VString.h"

#include <limits>
#include <memory>
#include <new>

#include "kernel/memory/VMemoryBuffer.h"
#include "kernel/strings/Base64Coder.h"
#include "kernel/strings/StStringConverter.h"
#include "runtime/VError.h"

namespace velk {

namespace {

// Base64 text is ASCII: a wider unit cannot be part of it, and is reported as a text conversion that
// could not complete.
constexpr VError VE_CONVERSION_INCOMPLETE = MakeVError(kVELK_SIGNATURE, 210);

// The string becomes the encoded bytes, one unit each; false, string unchanged, when it cannot hold them.
bool TakeASCII(VString& text, const Base64Coder::Buffer& encoded)
{
	if (encoded.GetDataSize() > uint64(std::numeric_limits<int32>::max()) - 8)
		return false;
	const int32 length = int32(encoded.GetDataSize());
	UniChar* units = text.GetCPointerForWrite(length);
	if (units == nullptr)
		return false;
	const uint8* bytes = encoded.GetDataPtr();
	for (int32 i = 0; i < length; ++i)
		units[i] = bytes[i];
	return text.Validate(length);
}

}  // namespace

bool VString::EncodeBase64(const void* data, size_t size, bool url)
{
	Base64Coder::Buffer encoded;
	return Base64Coder::_Encode(data, size, encoded, 0, url) && TakeASCII(*this, encoded);
}

bool VString::EncodeBase64(CharSet set, bool url)
{
	if (IsNull() || IsEmpty())
		return true;
	const StStringConverter<char> bytes(*this, set, eCRM_NONE);
	if (!bytes.IsOK())
		return false;
	return EncodeBase64(bytes.GetCPointer(), bytes.GetSize(), url);
}

bool VString::DecodeBase64(VMemoryBuffer<1024, 2, 1048576>& out, bool url) const
{
	const int32 length = GetLength();
	std::unique_ptr<uint8[]> bytes;
	if (length > 0)
	{
		bytes.reset(new (std::nothrow) uint8[size_t(length)]);
		if (bytes == nullptr)
		{
			_ThrowError(VE_MEMORY_FULL);
			return false;
		}
		const UniChar* units = GetCPointer();
		for (int32 i = 0; i < length; ++i)
		{
			if (units[i] >= 0x80)
			{
				_ThrowError(VE_CONVERSION_INCOMPLETE);
				return false;
			}
			bytes[size_t(i)] = uint8(units[i]);
		}
	}
	return Base64Coder::Decode(bytes.get(), size_t(length), out, url, false);
}

bool VString::DecodeBase64(CharSet set, bool url)
{
	if (IsNull() || IsEmpty())
		return true;
	Base64Coder::Buffer decoded;
	if (!DecodeBase64(decoded, url))
		return false;
	// The bytes are read as far as the set converts them: a conversion that stops early keeps what it
	// gave, and a set without a converter gives an empty string.
	FromBlock(decoded.GetDataPtr(), size_t(decoded.GetDataSize()), set);
	return true;
}

}  // namespace velk
