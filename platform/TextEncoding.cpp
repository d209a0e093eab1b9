#include "platform/TextEncoding.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <algorithm>
#include <new>

namespace plat {

namespace {

// The library counts in 32-bit signed integers: longer inputs are converted in several calls.
constexpr size_t kMaxCount = 0x7FFFFFFF;

inline bool IsHighSurrogate(char16_t unit)
{
	return unit >= 0xD800 && unit <= 0xDBFF;
}

// A private copy of a converter for one call, closed at the end of it.
class StConverterCopy
{
public:
	explicit StConverterCopy(const UConverter* model)
	{
		UErrorCode err = U_ZERO_ERROR;
		fConverter = ucnv_clone(model, &err);
		if (U_FAILURE(err) && fConverter != nullptr)
		{
			ucnv_close(fConverter);
			fConverter = nullptr;
		}
	}
	~StConverterCopy()
	{
		if (fConverter != nullptr)
			ucnv_close(fConverter);
	}
	StConverterCopy(const StConverterCopy&) = delete;
	StConverterCopy& operator=(const StConverterCopy&) = delete;

	UConverter* Get() const { return fConverter; }

private:
	UConverter* fConverter;
};

// Bytes that are invalid or unmapped become U+FFFD; resets and closings need nothing.
void U_CALLCONV ToUnicodeReplacement(const void*, UConverterToUnicodeArgs* args, const char*, int32_t, UConverterCallbackReason reason,
									 UErrorCode* err)
{
	if (reason > UCNV_IRREGULAR)
		return;
	static const UChar kReplacement = 0xFFFD;
	*err = U_ZERO_ERROR;
	ucnv_cbToUWriteUChars(args, &kReplacement, 1, 0, err);
}

// Unmappable characters and lone surrogates become the converter's substitute ("?"), and the call
// remembers that it happened.
void U_CALLCONV FromUnicodeQuestionMark(const void* context, UConverterFromUnicodeArgs* args, const UChar* units, int32_t length,
										UChar32 codePoint, UConverterCallbackReason reason, UErrorCode* err)
{
	if (reason > UCNV_IRREGULAR)
		return;
	*static_cast<bool*>(const_cast<void*>(context)) = true;
	UCNV_FROM_U_CALLBACK_SUBSTITUTE(nullptr, args, units, length, codePoint, reason, err);
}

// After an overflow the library keeps the rest of a split character in the converter: true when it does.
bool HasHeldUnits(UConverter* converter)
{
	UChar scratch[64];
	UChar* target = scratch;
	const char empty = 0;
	const char* source = &empty;
	UErrorCode err = U_ZERO_ERROR;
	ucnv_toUnicode(converter, &target, scratch + 64, &source, source, nullptr, false, &err);
	return target != scratch || err == U_BUFFER_OVERFLOW_ERROR;
}

bool HasHeldBytes(UConverter* converter)
{
	char scratch[64];
	char* target = scratch;
	const UChar empty = 0;
	const UChar* source = &empty;
	UErrorCode err = U_ZERO_ERROR;
	ucnv_fromUnicode(converter, &target, scratch + 64, &source, source, nullptr, false, &err);
	return target != scratch || err == U_BUFFER_OVERFLOW_ERROR;
}

// Cuts the output back to the characters written whole, using the source offset of every output item:
// the last character (the one the end of the room split) and anything without an offset behind it go,
// and the read count moves back to where that character started.
void TrimToWholeCharacters(const int32_t* offsets, size_t& written, size_t& read)
{
	size_t end = written;
	while (end > 0 && offsets[end - 1] < 0)
		--end;
	if (end == 0)
	{
		written = 0;
		read = 0;
		return;
	}
	const int32_t last = offsets[end - 1];
	while (end > 0 && (offsets[end - 1] < 0 || offsets[end - 1] >= last))
		--end;
	written = end;
	read = size_t(last);
}

struct PassResult
{
	UErrorCode fErr = U_ZERO_ERROR;
	size_t fRead = 0;
	size_t fWritten = 0;
	size_t fPending = 0;
	bool fHeld = false;		   // an overflow left part of a character inside the converter
	bool fSubstituted = false;  // from UTF-16: a "?" was written
};

PassResult ToUnicodePass(const UConverter* model, const char* source, size_t bytes, UChar* dest, size_t room, int32_t* offsets)
{
	PassResult result;
	StConverterCopy copy(model);
	if (copy.Get() == nullptr)
	{
		result.fErr = U_MEMORY_ALLOCATION_ERROR;
		return result;
	}
	ucnv_setToUCallBack(copy.Get(), ToUnicodeReplacement, nullptr, nullptr, nullptr, &result.fErr);
	if (U_FAILURE(result.fErr))
		return result;

	const char* s = source;
	UChar* t = dest;
	ucnv_toUnicode(copy.Get(), &t, dest + room, &s, source + bytes, offsets, false, &result.fErr);
	result.fRead = size_t(s - source);
	result.fWritten = size_t(t - dest);
	if (result.fErr == U_BUFFER_OVERFLOW_ERROR)
	{
		result.fHeld = HasHeldUnits(copy.Get());
	}
	else if (U_SUCCESS(result.fErr))
	{
		UErrorCode err = U_ZERO_ERROR;
		const int32_t pending = ucnv_toUCountPending(copy.Get(), &err);
		if (U_SUCCESS(err) && pending > 0)
			result.fPending = size_t(pending);
	}
	return result;
}

PassResult FromUnicodePass(const UConverter* model, const UChar* source, size_t units, char* dest, size_t room, int32_t* offsets)
{
	PassResult result;
	StConverterCopy copy(model);
	if (copy.Get() == nullptr)
	{
		result.fErr = U_MEMORY_ALLOCATION_ERROR;
		return result;
	}
	ucnv_setFromUCallBack(copy.Get(), FromUnicodeQuestionMark, &result.fSubstituted, nullptr, nullptr, &result.fErr);
	if (U_FAILURE(result.fErr))
		return result;

	const UChar* s = source;
	char* t = dest;
	// Flushing ends the output in the initial shift state: the next call starts from it again.
	ucnv_fromUnicode(copy.Get(), &t, dest + room, &s, source + units, offsets, true, &result.fErr);
	result.fRead = size_t(s - source);
	result.fWritten = size_t(t - dest);
	if (result.fErr == U_BUFFER_OVERFLOW_ERROR)
		result.fHeld = HasHeldBytes(copy.Get());
	return result;
}

bool IsOverflow(const PassResult& result)
{
	return result.fErr == U_BUFFER_OVERFLOW_ERROR;
}

bool IsFailure(const PassResult& result)
{
	return U_FAILURE(result.fErr) && !IsOverflow(result);
}

}  // namespace

TextEncodingConverter::TextEncodingConverter(UConverter* model, size_t maxCharBytes, bool stateful)
: fModel(model), fMaxCharBytes(maxCharBytes), fStateful(stateful)
{
}

TextEncodingConverter::~TextEncodingConverter()
{
	ucnv_close(fModel);
}

std::unique_ptr<TextEncodingConverter> TextEncodingConverter::Open(const char* name)
{
	if (name == nullptr || *name == 0)
		return nullptr;
	UErrorCode err = U_ZERO_ERROR;
	UConverter* model = ucnv_open(name, &err);
	if (model == nullptr || U_FAILURE(err))
	{
		if (model != nullptr)
			ucnv_close(model);
		return nullptr;
	}
	// Fallback mappings give the nearest character rather than a "?" where the set has one.
	ucnv_setFallback(model, true);
	static const UChar kQuestionMark[] = {u'?'};
	ucnv_setSubstString(model, kQuestionMark, 1, &err);
	if (U_FAILURE(err))
	{
		ucnv_close(model);
		return nullptr;
	}

	bool stateful = false;
	switch (ucnv_getType(model))
	{
		case UCNV_ISO_2022:
		case UCNV_UTF7:
		case UCNV_IMAP_MAILBOX:
		case UCNV_HZ:
		case UCNV_ISCII:
		case UCNV_EBCDIC_STATEFUL:
		case UCNV_SCSU:
		case UCNV_BOCU1:
			stateful = true;
			break;
		default:
			break;
	}
	const size_t maxCharBytes = std::max<size_t>(1, size_t(ucnv_getMaxCharSize(model)));
	std::unique_ptr<TextEncodingConverter> converter(new (std::nothrow) TextEncodingConverter(model, maxCharBytes, stateful));
	if (converter == nullptr)
		ucnv_close(model);
	return converter;
}

int32_t TextEncodingConverter::ToUnicode(const void* source, size_t sourceBytes, size_t* outBytesRead, char16_t* dest, size_t destUnits,
										 size_t* outUnitsWritten) const
{
	*outBytesRead = 0;
	*outUnitsWritten = 0;
	if (source == nullptr || sourceBytes == 0)
		return kTextStatusNoErr;
	if (dest == nullptr || destUnits == 0)
		return kTextOutputBufferFullStatus;

	const char* const bytes = static_cast<const char*>(source);
	const size_t count = std::min(sourceBytes, kMaxCount);
	const size_t room = std::min(destUnits, kMaxCount);
	PassResult result = ToUnicodePass(fModel, bytes, count, dest, room, nullptr);
	if (IsFailure(result))
		return kTextConversionFailedStatus;

	if (IsOverflow(result))
	{
		if (result.fHeld)
		{
			// The room split a character's units: convert again noting where each unit came from, and
			// leave that character for the next call.
			std::unique_ptr<int32_t[]> offsets(new (std::nothrow) int32_t[room]);
			if (offsets == nullptr)
				return kTextConversionFailedStatus;
			result = ToUnicodePass(fModel, bytes, count, dest, room, offsets.get());
			if (IsFailure(result))
				return kTextConversionFailedStatus;
			if (IsOverflow(result))
				TrimToWholeCharacters(offsets.get(), result.fWritten, result.fRead);
		}
		*outBytesRead = result.fRead;
		*outUnitsWritten = result.fWritten;
		return kTextOutputBufferFullStatus;
	}

	*outBytesRead = result.fRead - result.fPending;
	*outUnitsWritten = result.fWritten;
	if (result.fPending > 0)
		return kTextPartialCharStatus;
	return kTextStatusNoErr;
}

int32_t TextEncodingConverter::FromUnicode(const char16_t* source, size_t sourceUnits, size_t* outUnitsRead, void* dest, size_t destBytes,
										   size_t* outBytesWritten) const
{
	*outUnitsRead = 0;
	*outBytesWritten = 0;
	if (source == nullptr || sourceUnits == 0)
		return kTextStatusNoErr;
	if (dest == nullptr || destBytes == 0)
		return kTextOutputBufferFullStatus;

	// Every call ends at a character boundary: a high surrogate at the end waits for its partner.
	size_t units = std::min(sourceUnits, kMaxCount);
	if (IsHighSurrogate(source[units - 1]))
		--units;
	const bool partial = (units < sourceUnits);
	if (units == 0)
		return kTextPartialCharStatus;

	char* const out = static_cast<char*>(dest);
	const size_t room = std::min(destBytes, kMaxCount);
	PassResult result = FromUnicodePass(fModel, source, units, out, room, nullptr);
	if (IsFailure(result))
		return kTextConversionFailedStatus;

	if (IsOverflow(result))
	{
		if (result.fHeld || fStateful)
		{
			// The room split a character's bytes, or a shifted run was cut before its closing sequence:
			// convert again noting where each byte came from, leave the split character for the next call,
			// and for shifted sets end this output in the initial state.
			std::unique_ptr<int32_t[]> offsets(new (std::nothrow) int32_t[room]);
			if (offsets == nullptr)
				return kTextConversionFailedStatus;
			size_t length = units;
			for (;;)
			{
				result = FromUnicodePass(fModel, source, length, out, room, offsets.get());
				if (IsFailure(result))
					return kTextConversionFailedStatus;
				if (!IsOverflow(result))
					break;
				TrimToWholeCharacters(offsets.get(), result.fWritten, result.fRead);
				if (!fStateful || result.fRead == 0)
					break;
				length = result.fRead;
			}
		}
		*outUnitsRead = result.fRead;
		*outBytesWritten = result.fWritten;
		return kTextOutputBufferFullStatus;
	}

	*outUnitsRead = result.fRead;
	*outBytesWritten = result.fWritten;
	if (partial)
		return kTextPartialCharStatus;
	if (result.fSubstituted)
		return kTextUnmappableElementStatus;
	return kTextStatusNoErr;
}

}  // namespace plat
