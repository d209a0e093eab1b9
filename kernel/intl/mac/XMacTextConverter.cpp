// Legacy character sets over the platform's text-encoding service.
#include "kernel/intl/mac/XMacTextConverter.h"

#include "kernel/intl/mac/XMacIntlMgr.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <iterator>
#include <new>

#include "platform/TextEncoding.h"
#include "runtime/VError.h"

namespace velk {

namespace {

struct EncodingRow
{
	CharSet fCharSet;
	const char* fName;  // null: the platform has no converter for the set
};

// The Mac Arabic, Hebrew, Chinese and Japanese sets come from tables of the platform layer's own.
constexpr EncodingRow kEncodings[] = {
	{-2, "macintosh"},  // the platform's 8-bit default stays Mac Roman: stored streams and files rely on it
	{2, "UTF16_PlatformEndian"},
	{4, "UTF32_PlatformEndian"},
	{7, "UTF-8"},
	{8, "UTF-7"},
	{9, "US-ASCII"},
	{10, "ibm-37"},
	{11, "ibm-437"},
	{100, "macintosh"},
	{101, "windows-1252"},
	{102, "x-mac-centraleurroman"},
	{103, "windows-1250"},
	{104, "x-mac-cyrillic"},
	{105, "windows-1251"},
	{106, "x-mac-greek"},
	{107, "windows-1253"},
	{108, "x-mac-turkish"},
	{109, "windows-1254"},
	{110, "x-mac-arabic"},
	{111, "windows-1256"},
	{112, "x-mac-hebrew"},
	{113, "windows-1255"},
	{114, "x-mac-centraleurroman"},
	{115, "windows-1257"},
	{116, "x-mac-chinesesimp"},
	{117, "windows-936"},
	{118, "x-mac-chinesetrad"},
	{119, "windows-950"},
	{120, "x-mac-japanese"},
	{1000, "Shift_JIS"},
	{1001, "ISO-2022-JP"},
	{1002, "Big5"},
	{1003, "EUC-KR"},
	{1004, "KOI8-R"},
	{1005, "ISO-8859-1"},
	{1006, "ISO-8859-2"},
	{1007, "ISO-8859-3"},
	{1008, "ISO-8859-4"},
	{1009, "ISO-8859-5"},
	{1010, "ISO-8859-6"},
	{1011, "ISO-8859-7"},
	{1012, "ISO-8859-8"},
	{1013, "ISO-8859-9"},
	{1014, "ISO-8859-10"},
	{1015, "ISO-8859-13"},
	{1016, "windows-936"},
	{1017, "GB2312"},
	{1018, "ISO-8859-15"},
	{1019, "windows-31j"},
};

// The row of every CharSet from -2 to 1019 (-1 for none), so that a request finds its row at once.
constexpr CharSet kFirstIndexed = -2;
constexpr CharSet kLastIndexed = 1019;

constexpr auto kRowOfCharSet = [] {
	std::array<int8, size_t(kLastIndexed - kFirstIndexed + 1)> rows{};
	for (int8& row : rows)
		row = -1;
	for (size_t i = 0; i < std::size(kEncodings); ++i)
		rows[size_t(kEncodings[i].fCharSet - kFirstIndexed)] = int8(i);
	return rows;
}();
static_assert(std::size(kEncodings) <= 127);

const EncodingRow* FindRow(CharSet inCharSet)
{
	if (inCharSet < kFirstIndexed || inCharSet > kLastIndexed)
		return nullptr;
	const int8 row = kRowOfCharSet[size_t(inCharSet - kFirstIndexed)];
	return row < 0 ? nullptr : &kEncodings[row];
}

// The platform's converter of every row, fetched on the first request for the row. Several threads may
// fetch it at once: the platform hands them all the same converter.
std::atomic<const plat::TextEncodingConverter*> sConverters[std::size(kEncodings)];

const plat::TextEncodingConverter* GetConverter(CharSet inCharSet)
{
	const EncodingRow* row = FindRow(inCharSet);
	if (row == nullptr || row->fName == nullptr)
		return nullptr;
	std::atomic<const plat::TextEncodingConverter*>& slot = sConverters[row - kEncodings];
	const plat::TextEncodingConverter* converter = slot.load(std::memory_order_acquire);
	if (converter == nullptr)
	{
		converter = plat::TextEncodingConverter::Get(row->fName);
		if (converter != nullptr)
			slot.store(converter, std::memory_order_release);
	}
	return converter;
}

void RaisePlatformStatus(int32 status)
{
	_ThrowError(MakeVError(kCARBON_SIGNATURE, status));
}

}  // namespace

const char* XMacToUnicodeConverter::CharSetToTextEncoding(CharSet inCharSet)
{
	const EncodingRow* row = FindRow(inCharSet);
	return row == nullptr ? nullptr : row->fName;
}

// ---------------------------------------------------------------------------------------------------------
// To UTF-16

XMacToUnicodeConverter::XMacToUnicodeConverter(CharSet inCharSet) : fConverter(GetConverter(inCharSet))
{
}

XMacToUnicodeConverter::~XMacToUnicodeConverter() = default;

bool XMacToUnicodeConverter::IsValid() const
{
	return fConverter != nullptr;
}

bool XMacToUnicodeConverter::Convert(const void* inSource, size_t inSourceBytes, size_t* outBytesConsumed, UniChar* outDest,
									 int32 inDestMaxUnits, int32* outUnitsProduced) const
{
	*outBytesConsumed = 0;
	*outUnitsProduced = 0;
	if (fConverter == nullptr)
		return false;
	size_t read = 0;
	size_t written = 0;
	const size_t room = (outDest == nullptr || inDestMaxUnits <= 0) ? 0 : size_t(inDestMaxUnits);
	const int32 status = fConverter->ToUnicode(inSource, inSourceBytes, &read, outDest, room, &written);
	switch (status)
	{
		case plat::kTextStatusNoErr:
		case plat::kTextOutputBufferFullStatus:
		case plat::kTextPartialCharStatus:
			*outBytesConsumed = read;
			*outUnitsProduced = int32(written);
			return true;
		default:
			if (inSource == nullptr || inSourceBytes == 0)
				return true;
			RaisePlatformStatus(status);
			return false;
	}
}

// ---------------------------------------------------------------------------------------------------------
// From UTF-16

XMacFromUnicodeConverter::XMacFromUnicodeConverter(CharSet inCharSet) : fConverter(GetConverter(inCharSet)), fCharSize(2)
{
	switch (inCharSet)
	{
		case 4:
			fCharSize = 4;
			break;
		case 7:
		case 8:
			fCharSize = 1;
			break;
		default:
			break;
	}
	// Buffers are sized from this: a shifted set's escape sequences must fit beside one character.
	if (fConverter != nullptr)
		fCharSize = std::max(fCharSize, int32(fConverter->GetMaxCharBytes()));
}

XMacFromUnicodeConverter::~XMacFromUnicodeConverter() = default;

bool XMacFromUnicodeConverter::IsValid() const
{
	return fConverter != nullptr;
}

int32 XMacFromUnicodeConverter::GetCharSize() const
{
	return fCharSize;
}

bool XMacFromUnicodeConverter::Convert(const UniChar* inSource, int32 inSourceUnits, int32* outUnitsConsumed, void* outDest,
									   size_t inDestMaxBytes, size_t* outBytesProduced) const
{
	*outUnitsConsumed = 0;
	*outBytesProduced = 0;
	if (fConverter == nullptr)
		return false;
	if (outDest == nullptr || inDestMaxBytes == 0)
		return true;
	size_t read = 0;
	size_t written = 0;
	const size_t units = (inSource == nullptr || inSourceUnits <= 0) ? 0 : size_t(inSourceUnits);
	const int32 status = fConverter->FromUnicode(inSource, units, &read, outDest, inDestMaxBytes, &written);
	switch (status)
	{
		case plat::kTextStatusNoErr:
		case plat::kTextOutputBufferFullStatus:
		case plat::kTextPartialCharStatus:
		case plat::kTextUnmappableElementStatus:  // each such character was written as "?"
			*outUnitsConsumed = int32(read);
			*outBytesProduced = written;
			return true;
		default:
			RaisePlatformStatus(status);
			return false;
	}
}

// ---------------------------------------------------------------------------------------------------------
// Factories

VToUnicodeConverter* XMacIntlMgr::NewToUnicodeConverter(CharSet inCharSet)
{
	XMacToUnicodeConverter* converter = new (std::nothrow) XMacToUnicodeConverter(inCharSet);
	if (converter != nullptr && !converter->IsValid())
	{
		converter->Release();
		converter = nullptr;
	}
	return converter;
}

VFromUnicodeConverter* XMacIntlMgr::NewFromUnicodeConverter(CharSet inCharSet)
{
	XMacFromUnicodeConverter* converter = new (std::nothrow) XMacFromUnicodeConverter(inCharSet);
	if (converter != nullptr && !converter->IsValid())
	{
		converter->Release();
		converter = nullptr;
	}
	return converter;
}

}  // namespace velk
