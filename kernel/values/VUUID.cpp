// The UUID value: text, flat and JSON forms, ordering, and generation.
#include "kernel/values/VUUID.h"

#include "kernel/values/VNumberText.h"

#include <atomic>
#include <cstring>

#include "kernel/intl/VTextConverters.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VStream.h"
#include "kernel/values/mac/XMacUUID.h"

namespace velk {

const VUUID_info VUUID::sInfo;
const VUUID VUUID::sNullUUID;

namespace {

constexpr size_t kDigits = 2 * VUUID::kSize;

bool IsZero(const uint8* bytes)
{
	for (size_t i = 0; i < VUUID::kSize; ++i)
		if (bytes[i] != 0)
			return false;
	return true;
}

CompareResult CompareBytes(const void* a, const void* b)
{
	const int order = std::memcmp(a, b, VUUID::kSize);
	return order < 0 ? CR_SMALLER : (order > 0 ? CR_BIGGER : CR_EQUAL);
}

// The last time stamp handed out by the time-ordered generator: milliseconds shifted left 12 bits, plus the
// fraction of the millisecond in those 12 bits.
std::atomic<uint64> sLastTimeStamp{0};

// The stamp of now, or the last one plus one when the clock has not moved past it (same fraction, or a
// clock set back), so that identifiers made in this process sort in the order they were made.
uint64 NextTimeStamp(int64 nanoseconds)
{
	const uint64 t = nanoseconds > 0 ? uint64(nanoseconds) : 0;
	const uint64 ms = t / 1000000;
	const uint64 fraction = ((t / 1000) % 1000) * 4096 / 1000;
	uint64 stamp = (ms << 12) | fraction;
	uint64 last = sLastTimeStamp.load(std::memory_order_relaxed);
	for (;;)
	{
		const uint64 next = stamp > last ? stamp : last + 1;
		if (sLastTimeStamp.compare_exchange_weak(last, next, std::memory_order_relaxed))
			return next;
	}
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Construction and generation

VUUID::VUUID()
{
	fFlags = kFLAG_NULL | kFLAG_DIRTY;
}

VUUID::VUUID(const VUUIDBuffer& buffer) : fData(buffer)
{
	fFlags = IsZero(fData.fBytes) ? (kFLAG_NULL | kFLAG_DIRTY) : kFLAG_DIRTY;
}

VUUID::VUUID(const VString& text)
{
	FromString(text);
}

VUUID::VUUID(const char* text)
{
	FromBuffer(text);
}

VUUID::VUUID(bool generate, Version version)
{
	fFlags = kFLAG_NULL | kFLAG_DIRTY;
	if (generate)
		_Generate(version);
}

VUUID::VUUID(const VUUID& other) : VValueSingle(), fData(other.fData)
{
	fFlags = uint8((other.fFlags & kFLAG_NULL) | kFLAG_DIRTY);
}

VUUID& VUUID::operator=(const VUUID& other)
{
	FromVUUID(other);
	return *this;
}

VUUID::~VUUID()
{
	delete fCachedText;
}

void VUUID::Regenerate(Version version)
{
	_Generate(version);
}

void VUUID::_Generate(Version version)
{
	VUUIDBuffer made;
	switch (version)
	{
		case eVersion_Platform:
			if (!XMacUUID::Generate(&made))
				return;
			break;
		case eVersion_TimeOrdered:
		{
			// RFC 9562 layout: 48 bits of Unix milliseconds, version 7 with 12 bits of the millisecond's
			// fraction, variant 10 with 62 random bits.
			const uint64 stamp = NextTimeStamp(XMacUUID::GetRealTimeNanoseconds());
			const uint64 ms = stamp >> 12;
			const uint32 fraction = uint32(stamp & 0xFFF);
			for (int i = 0; i < 6; ++i)
				made.fBytes[i] = uint8(ms >> (40 - 8 * i));
			made.fBytes[6] = uint8(0x70 | (fraction >> 8));
			made.fBytes[7] = uint8(fraction & 0xFF);
			XMacUUID::FillRandom(made.fBytes + 8, 8);
			made.fBytes[8] = uint8(0x80 | (made.fBytes[8] & 0x3F));
			break;
		}
		default:
			XMacUUID::FillRandom(made.fBytes, kSize);
			made.fBytes[6] = uint8(0x40 | (made.fBytes[6] & 0x0F));
			made.fBytes[8] = uint8(0x80 | (made.fBytes[8] & 0x3F));
			break;
	}
	fData = made;
	_Changed(false);
}

void VUUID::_Changed(bool null)
{
	SetNull(null);
	fFlags |= kFLAG_DIRTY;
	_RefreshCache();
}

void VUUID::_RefreshCache() const
{
	if (fCachedText == nullptr)
		return;
	GetString(*fCachedText);
	fCachedText->SetNull(IsNull());
}

void VUUID::DoNullChanged()
{
	if (IsNull())
		fData = VUUIDBuffer();
	_RefreshCache();
}

// ---------------------------------------------------------------------------------------------------------
// Bytes and texts

void VUUID::FromBuffer(const VUUIDBuffer& buffer)
{
	fData = buffer;
	_Changed(IsZero(fData.fBytes));
}

void VUUID::FromBuffer(const char* text)
{
	const size_t length = text != nullptr ? std::strlen(text) : 0;
	if (length == kDigits)
	{
		for (size_t i = 0; i < kSize; ++i)
		{
			const int high = VNumberText::HexDigitValue(uint8(text[2 * i]));
			const int low = VNumberText::HexDigitValue(uint8(text[2 * i + 1]));
			fData.fBytes[i] = uint8(((high < 0 ? 0 : high) << 4) | (low < 0 ? 0 : low));
		}
	}
	else if (length <= kSize)
	{
		fData = VUUIDBuffer();
		if (length > 0)
			std::memcpy(fData.fBytes, text, length);
	}
	_Changed(IsZero(fData.fBytes));
}

void VUUID::GetString(VString& text) const
{
	UniChar* units = text.GetCPointerForWrite(int32(kDigits));
	if (units == nullptr)
		return;
	for (size_t i = 0; i < kSize; ++i)
	{
		units[2 * i] = UniChar(VNumberText::kUpperHexDigits[fData.fBytes[i] >> 4]);
		units[2 * i + 1] = UniChar(VNumberText::kUpperHexDigits[fData.fBytes[i] & 0x0F]);
	}
	text.Validate(int32(kDigits));
}

void VUUID::FromString(const VString& text)
{
	VUUIDBuffer read;
	size_t digits = 0;
	const UniChar* units = text.GetCPointer();
	for (int32 i = 0; i < text.GetLength() && digits < kDigits; ++i)
	{
		const int value = VNumberText::HexDigitValue(units[i]);
		if (value < 0)
			continue;
		read.fBytes[digits / 2] = uint8(read.fBytes[digits / 2] | (digits % 2 == 0 ? value << 4 : value));
		++digits;
	}
	if (digits < kDigits)
	{
		BuildFromAnsiString(text);
		return;
	}
	fData = read;
	_Changed(false);
}

void VUUID::BuildFromAnsiString(const VString& text)
{
	std::memset(fData.fBytes, ' ', kSize);
	if (!text.IsEmpty())
	{
		int32 consumed = 0;
		size_t produced = 0;
		VTextConverters::Get()->ConvertFromVString(text, &consumed, fData.fBytes, kSize, &produced, kCharSet_UTF8);
	}
	_Changed(false);
}

bool VUUID::IsUUIDString(const VString& text, bool acceptNull)
{
	if (text.GetLength() != int32(kDigits))
		return false;
	bool allZero = true;
	const UniChar* units = text.GetCPointer();
	for (size_t i = 0; i < kDigits; ++i)
	{
		const UniChar unit = units[i];
		if (!((unit >= '0' && unit <= '9') || (unit >= 'A' && unit <= 'F')))
			return false;
		allZero = allZero && unit == '0';
	}
	return acceptNull || !allZero;
}

VString* VUUID::GetCachedConvertedString(bool create) const
{
	if (fCachedText == nullptr && create)
	{
		fCachedText = new VString();
		_RefreshCache();
	}
	return fCachedText;
}

// ---------------------------------------------------------------------------------------------------------
// Value behaviour

void VUUID::GetVUUID(VUUID& uuid) const
{
	uuid.FromVUUID(*this);
}

void VUUID::FromVUUID(const VUUID& uuid)
{
	if (&uuid == this)
	{
		fFlags |= kFLAG_DIRTY;
		return;
	}
	fData = uuid.fData;
	_Changed(uuid.IsNull());
}

void VUUID::GetValue(VValueSingle& value) const
{
	value.FromVUUID(*this);
}

void VUUID::FromValue(const VValueSingle& value)
{
	value.GetVUUID(*this);
}

void VUUID::Clear()
{
	fData = VUUIDBuffer();
	_Changed(true);
}

VValue* VUUID::Clone() const
{
	return new VUUID(fData);
}

const VValueInfo* VUUID::GetValueInfo() const
{
	return &sInfo;
}

bool VUUID::operator==(const VUUID& other) const
{
	return std::memcmp(fData.fBytes, other.fData.fBytes, kSize) == 0;
}

bool VUUID::operator<(const VUUID& other) const
{
	return std::memcmp(fData.fBytes, other.fData.fBytes, kSize) < 0;
}

CompareResult VUUID::CompareTo(const VValueSingle& other, bool) const
{
	const VUUID* uuid = dynamic_cast<const VUUID*>(&other);
	return uuid == nullptr ? CR_UNRELEVANT : CompareBytes(fData.fBytes, uuid->fData.fBytes);
}

CompareResult VUUID::CompareToSameKind(const VValue* other, bool) const
{
	return CompareBytes(fData.fBytes, static_cast<const VUUID*>(other)->fData.fBytes);
}

bool VUUID::EqualToSameKind(const VValue* other, bool) const
{
	return *this == *static_cast<const VUUID*>(other);
}

CompareResult VUUID::CompareToSameKindPtr(const void* other, bool) const
{
	return CompareBytes(fData.fBytes, other);
}

bool VUUID::EqualToSameKindPtr(const void* other, bool) const
{
	return std::memcmp(fData.fBytes, other, kSize) == 0;
}

CompareResult VUUID::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions&) const
{
	return CompareToSameKind(other);
}

bool VUUID::EqualToSameKindWithOptions(const VValue* other, const VCompareOptions&) const
{
	return EqualToSameKind(other);
}

CompareResult VUUID::CompareToSameKindPtrWithOptions(const void* other, const VCompareOptions&) const
{
	return CompareBytes(fData.fBytes, other);
}

bool VUUID::EqualToSameKindPtrWithOptions(const void* other, const VCompareOptions&) const
{
	return EqualToSameKindPtr(other);
}

bool VUUID::FromValueSameKind(const VValue* other)
{
	const VUUID* uuid = dynamic_cast<const VUUID*>(other);
	if (uuid == nullptr)
		return false;
	FromVUUID(*uuid);
	return true;
}

// ---------------------------------------------------------------------------------------------------------
// Flat, stream and JSON forms

const void* VUUID::LoadFromPtr(const void* data, uint8)
{
	std::memcpy(fData.fBytes, data, kSize);
	_Changed(IsZero(fData.fBytes));
	return static_cast<const uint8*>(data) + kSize;
}

const void* VUUID::LoadFromPtrBounded(const void* data, uint64 available, uint8 flag)
{
	if (available < kSize)
		return nullptr;
	return LoadFromPtr(data, flag);
}

void* VUUID::WriteToPtr(void* data, uint8, uint64 limit) const
{
	if (limit != 0 && limit < kSize)
		return data;
	std::memcpy(data, fData.fBytes, kSize);
	return static_cast<uint8*>(data) + kSize;
}

uint64 VUUID::GetSpace(uint64&, uint64) const
{
	return kSize;
}

VError VUUID::ReadFromStream(VStream* stream, int32)
{
	VUUIDBuffer read;
	const VError error = stream->GetData(read.fBytes, kSize);
	if (error != VE_OK)
		return error;
	fData = read;
	// Unlike the flat form, a streamed identifier of zeros stays a value.
	_Changed(false);
	return VE_OK;
}

VError VUUID::WriteToStream(VStream* stream, int32) const
{
	return stream->PutData(fData.fBytes, kSize);
}

VError VUUID::GetJSONString(VString& json, uint32 options) const
{
	VString text;
	GetString(text);
	return text.GetJSONString(json, options);
}

VError VUUID::GetJSONValue(VJSONValue& json, uint32) const
{
	if (IsNull())
	{
		json = VJSONValue(JSON_null);
		return VE_OK;
	}
	VString text;
	GetString(text);
	json.SetString(text);
	return VE_OK;
}

VError VUUID::FromJSONValue(const VJSONValue& json)
{
	if (json.IsNull())
		Clear();
	else
		FromString(json.GetString());
	return VE_OK;
}

// ---------------------------------------------------------------------------------------------------------
// Descriptor

void* VUUID_info::ByteSwapPtr(void* data, bool) const
{
	return static_cast<uint8*>(data) + VUUID::kSize;
}

CompareResult VUUID_info::CompareTwoPtrToData(const void* data1, const void* data2, bool) const
{
	return CompareBytes(data1, data2);
}

CompareResult VUUID_info::CompareTwoPtrToDataBegining(const void* data1, const void* data2, bool) const
{
	return CompareBytes(data1, data2);
}

CompareResult VUUID_info::CompareTwoPtrToDataWithOptions(const void* data1, const void* data2, const VCompareOptions&) const
{
	return CompareBytes(data1, data2);
}

uint64 VUUID_info::GetSizeOfValueDataPtr(const void*) const
{
	return VUUID::kSize;
}

uint64 VUUID_info::GetAvgSpace() const
{
	return VUUID::kSize;
}

}  // namespace velk
