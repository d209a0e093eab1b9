#include "platform/TextEncoding.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/MacCharSets.h"

namespace plat {

namespace {

// The library counts in 32-bit signed integers: longer inputs are converted in several calls.
constexpr size_t kMaxCount = 0x7FFFFFFF;

inline bool IsHighSurrogate(char16_t unit)
{
	return unit >= 0xD800 && unit <= 0xDBFF;
}

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

// Unmappable characters and lone surrogates become the converter's substitute ("?"), and the flag the
// context points to remembers that it happened.
void U_CALLCONV FromUnicodeQuestionMark(const void* context, UConverterFromUnicodeArgs* args, const UChar* units, int32_t length,
										UChar32 codePoint, UConverterCallbackReason reason, UErrorCode* err)
{
	if (reason > UCNV_IRREGULAR)
		return;
	if (context != nullptr)
		*static_cast<bool*>(const_cast<void*>(context)) = true;
	UCNV_FROM_U_CALLBACK_SUBSTITUTE(nullptr, args, units, length, codePoint, reason, err);
}

// A private copy of a converter, closed at the end of the scope: for the rare calls that need several
// converters at once.
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

// A copy of a set's converter for one thread, and the flag its from-Unicode callback raises.
struct ThreadCopy
{
	UConverter* fConverter = nullptr;
	bool fSubstituted = false;
	// The copy is known to stand in its initial state in that direction, so a call need not reset it:
	// true after a call of a set without shift states that ended with nothing held back.
	bool fToUnicodeClean = true;
	bool fFromUnicodeClean = true;
};

// False when memory runs out.
bool MakeCopy(const UConverter* model, ThreadCopy& copy)
{
	UErrorCode err = U_ZERO_ERROR;
	UConverter* converter = ucnv_clone(model, &err);
	if (converter != nullptr && U_SUCCESS(err))
		ucnv_setFromUCallBack(converter, FromUnicodeQuestionMark, &copy.fSubstituted, nullptr, nullptr, &err);
	if (converter == nullptr || U_FAILURE(err))
	{
		if (converter != nullptr)
			ucnv_close(converter);
		return false;
	}
	copy.fConverter = converter;
	return true;
}

// The calling thread's copies by the sets' indexes, reached through plain pointers that cost no
// initialisation check (and, in the initial-exec model, no call to find them); the owner below sets
// them up.
#define PLAT_FAST_TLS __attribute__((tls_model("initial-exec")))
thread_local ThreadCopy* const* tCopyTable PLAT_FAST_TLS = nullptr;
thread_local size_t tCopyCount PLAT_FAST_TLS = 0;
thread_local bool tCopiesGone PLAT_FAST_TLS = false;	// the owner is destroyed: the thread is ending
#undef PLAT_FAST_TLS

// Owns the calling thread's copies and closes them when the thread ends.
class ThreadCopies
{
public:
	ThreadCopies() = default;
	~ThreadCopies()
	{
		tCopyTable = nullptr;
		tCopyCount = 0;
		tCopiesGone = true;
		for (ThreadCopy* copy : fCopies)
		{
			if (copy != nullptr)
			{
				ucnv_close(copy->fConverter);
				delete copy;
			}
		}
	}
	ThreadCopies(const ThreadCopies&) = delete;
	ThreadCopies& operator=(const ThreadCopies&) = delete;

	// Null when memory runs out.
	ThreadCopy* Make(const UConverter* model, size_t index)
	{
		if (index >= fCopies.size())
		{
			try
			{
				fCopies.resize(index + 1, nullptr);
			}
			catch (const std::bad_alloc&)
			{
				return nullptr;
			}
			tCopyTable = fCopies.data();
			tCopyCount = fCopies.size();
		}
		ThreadCopy* copy = new (std::nothrow) ThreadCopy;
		if (copy == nullptr)
			return nullptr;
		if (!MakeCopy(model, *copy))
		{
			delete copy;
			return nullptr;
		}
		fCopies[index] = copy;
		return copy;
	}

private:
	std::vector<ThreadCopy*> fCopies;
};

thread_local ThreadCopies tCopies;

// The converter of one call: the thread's copy of the set's converter, or, once the thread is ending
// (another thread-local object converting as it goes), a private copy closed with the scope.
class StCallConverter
{
public:
	StCallConverter(const UConverter* model, size_t index)
	{
		if (index < tCopyCount && tCopyTable[index] != nullptr)
			fCopy = tCopyTable[index];
		else if (!tCopiesGone)
			fCopy = tCopies.Make(model, index);
		else if (MakeCopy(model, fPrivate))
			fCopy = &fPrivate;
	}
	~StCallConverter()
	{
		if (fPrivate.fConverter != nullptr)
			ucnv_close(fPrivate.fConverter);
	}
	StCallConverter(const StCallConverter&) = delete;
	StCallConverter& operator=(const StCallConverter&) = delete;

	// Null when memory ran out.
	ThreadCopy* Get() const { return fCopy; }

private:
	ThreadCopy* fCopy = nullptr;
	ThreadCopy fPrivate;
};

// The process's converters by set name. Never destroyed: threads may convert until the very end.
struct CacheEntry
{
	std::string fName;
	const TextEncodingConverter* fConverter;
};

std::mutex& CacheMutex()
{
	static std::mutex* const sMutex = new std::mutex;
	return *sMutex;
}

std::vector<CacheEntry>& Cache()
{
	static std::vector<CacheEntry>* const sCache = new std::vector<CacheEntry>;
	return *sCache;
}

bool IsStatefulType(UConverterType type)
{
	switch (type)
	{
		case UCNV_ISO_2022:
		case UCNV_UTF7:
		case UCNV_IMAP_MAILBOX:
		case UCNV_HZ:
		case UCNV_ISCII:
		case UCNV_EBCDIC_STATEFUL:
		case UCNV_SCSU:
		case UCNV_BOCU1:
			return true;
		default:
			return false;
	}
}

// Converters of these kinds keep nothing once a call ends with no part of a character held back, so the
// next call need not reset them. The others may remember a shift state, a byte-order mark seen or
// written, or a window of characters.
bool IsResetFreeType(UConverterType type)
{
	switch (type)
	{
		case UCNV_SBCS:
		case UCNV_DBCS:
		case UCNV_MBCS:
		case UCNV_LATIN_1:
		case UCNV_US_ASCII:
		case UCNV_UTF8:
		case UCNV_UTF16_BigEndian:
		case UCNV_UTF16_LittleEndian:
		case UCNV_UTF32_BigEndian:
		case UCNV_UTF32_LittleEndian:
			return true;
		default:
			return false;
	}
}

// Some of the library's tables for ASCII-based sets (IBM-943, which it uses for Shift_JIS, and IBM-437)
// decode 0x1A as U+001C, 0x1C as U+007F and 0x7F as U+001A, where every other set keeps the controls as
// they are. Those three bytes only ever stand alone in such a set, so the controls are put back in place
// after the library has converted.
bool HasRotatedControls(UConverter* model)
{
	const char bytes[] = {0x1A, 0x1C, 0x7F};
	UChar units[8];
	UErrorCode err = U_ZERO_ERROR;
	const int32_t count = ucnv_toUChars(model, units, 8, bytes, 3, &err);
	ucnv_reset(model);
	return U_SUCCESS(err) && count == 3 && units[0] == 0x1C && units[1] == 0x7F && units[2] == 0x1A;
}

void UnrotateUnits(char16_t* units, size_t count)
{
	for (size_t i = 0; i < count; ++i)
	{
		switch (units[i])
		{
			case 0x1C:
				units[i] = 0x1A;
				break;
			case 0x7F:
				units[i] = 0x1C;
				break;
			case 0x1A:
				units[i] = 0x7F;
				break;
			default:
				break;
		}
	}
}

void UnrotateBytes(char* bytes, size_t count)
{
	for (size_t i = 0; i < count; ++i)
	{
		switch (bytes[i])
		{
			case 0x1A:
				bytes[i] = 0x1C;
				break;
			case 0x1C:
				bytes[i] = 0x7F;
				break;
			case 0x7F:
				bytes[i] = 0x1A;
				break;
			default:
				break;
		}
	}
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

// resetFree: the set's converter keeps nothing once a call ends whole (see IsResetFreeType).
// singleBytes: a set of one-byte characters without shift states, which never holds a part of one.
PassResult ToUnicodePass(ThreadCopy& copy, bool resetFree, bool singleBytes, const char* source, size_t bytes, UChar* dest, size_t room,
						 int32_t* offsets)
{
	PassResult result;
	UConverter* const converter = copy.fConverter;
	if (!copy.fToUnicodeClean)
		ucnv_resetToUnicode(converter);
	copy.fToUnicodeClean = false;
	const char* s = source;
	UChar* t = dest;
	ucnv_toUnicode(converter, &t, dest + room, &s, source + bytes, offsets, false, &result.fErr);
	result.fRead = size_t(s - source);
	result.fWritten = size_t(t - dest);
	if (result.fErr == U_BUFFER_OVERFLOW_ERROR)
	{
		result.fHeld = HasHeldUnits(converter);
	}
	else if (singleBytes && U_SUCCESS(result.fErr))
	{
		copy.fToUnicodeClean = resetFree;
	}
	else if (U_SUCCESS(result.fErr))
	{
		UErrorCode err = U_ZERO_ERROR;
		const int32_t pending = ucnv_toUCountPending(converter, &err);
		if (U_SUCCESS(err) && pending > 0)
			result.fPending = size_t(pending);
		copy.fToUnicodeClean = resetFree && U_SUCCESS(err) && pending == 0;
	}
	return result;
}

PassResult FromUnicodePass(ThreadCopy& copy, bool resetFree, const UChar* source, size_t units, char* dest, size_t room, int32_t* offsets)
{
	PassResult result;
	UConverter* const converter = copy.fConverter;
	if (!copy.fFromUnicodeClean)
		ucnv_resetFromUnicode(converter);
	copy.fFromUnicodeClean = false;
	copy.fSubstituted = false;
	const UChar* s = source;
	char* t = dest;
	// Flushing ends the output in the initial shift state: the next call starts from it again.
	ucnv_fromUnicode(converter, &t, dest + room, &s, source + units, offsets, true, &result.fErr);
	result.fRead = size_t(s - source);
	result.fWritten = size_t(t - dest);
	result.fSubstituted = copy.fSubstituted;
	if (result.fErr == U_BUFFER_OVERFLOW_ERROR)
		result.fHeld = HasHeldBytes(converter);
	else
		copy.fFromUnicodeClean = resetFree && U_SUCCESS(result.fErr);
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

// Decodes bytes into units (a converter that continues from where it stands); false on a failure of the
// library or of memory.
bool DecodeAppend(UConverter* converter, const char* source, size_t bytes, std::u16string& units)
{
	const char* s = source;
	const char* const end = source + bytes;
	UChar chunk[256];
	for (;;)
	{
		UChar* t = chunk;
		UErrorCode err = U_ZERO_ERROR;
		ucnv_toUnicode(converter, &t, chunk + 256, &s, end, nullptr, false, &err);
		try
		{
			units.append(reinterpret_cast<const char16_t*>(chunk), size_t(t - chunk));
		}
		catch (const std::bad_alloc&)
		{
			return false;
		}
		if (err != U_BUFFER_OVERFLOW_ERROR)
			return U_SUCCESS(err);
	}
}

// True when a converter starting afresh at the input's byte `from` decodes the rest exactly as `expected`.
// Stops at the first difference.
bool FreshStartMatches(const UConverter* model, const char* source, size_t from, size_t bytes, const char16_t* expected, size_t expectedUnits,
					   bool& failed)
{
	StConverterCopy copy(model);
	if (copy.Get() == nullptr)
	{
		failed = true;
		return false;
	}
	const char* s = source + from;
	const char* const end = source + bytes;
	size_t matched = 0;
	UChar chunk[64];
	for (;;)
	{
		UChar* t = chunk;
		UErrorCode err = U_ZERO_ERROR;
		ucnv_toUnicode(copy.Get(), &t, chunk + 64, &s, end, nullptr, false, &err);
		const size_t count = size_t(t - chunk);
		if (count > expectedUnits - matched || std::memcmp(chunk, expected + matched, count * sizeof(UChar)) != 0)
			return false;
		matched += count;
		if (err != U_BUFFER_OVERFLOW_ERROR)
		{
			if (U_FAILURE(err))
				failed = true;
			return U_SUCCESS(err) && matched == expectedUnits;
		}
	}
}

// The room ran out in a shifted set after `written` units from `read` bytes. The next call starts in the
// initial state, so the call must end where a fresh start decodes the rest as the whole input does: before
// the shift sequence of a run the room cut. Moves both counts back to the last such point (the start, at
// worst). Only calls that run out of room in a shifted set come here, so clarity comes before speed.
bool CutAtFreshStart(const UConverter* model, const char* source, size_t bytes, size_t& written, size_t& read)
{
	StConverterCopy copy(model);
	if (copy.Get() == nullptr)
		return false;
	// The whole input decoded in one go, noting after each of the first `read` bytes how many units were
	// out and whether the converter held part of a character.
	std::u16string whole;
	std::vector<size_t> unitsAt;
	try
	{
		unitsAt.assign(read + 1, SIZE_MAX);
	}
	catch (const std::bad_alloc&)
	{
		return false;
	}
	unitsAt[0] = 0;
	for (size_t p = 0; p < read; ++p)
	{
		if (!DecodeAppend(copy.Get(), source + p, 1, whole))
			return false;
		UErrorCode err = U_ZERO_ERROR;
		if (ucnv_toUCountPending(copy.Get(), &err) == 0 && U_SUCCESS(err))
			unitsAt[p + 1] = whole.size();
	}
	if (!DecodeAppend(copy.Get(), source + read, bytes - read, whole))
		return false;

	for (size_t p = read; p > 0; --p)
	{
		const size_t units = unitsAt[p];
		if (units > written)
			continue;
		bool failed = false;
		if (FreshStartMatches(model, source, p, bytes, whole.data() + units, whole.size() - units, failed))
		{
			written = units;
			read = p;
			return true;
		}
		if (failed)
			return false;
	}
	written = 0;
	read = 0;
	return true;
}

// The room ran out converting to UTF-16: leaves in `result` the characters written whole and, in a
// shifted set, ends where the next call can start afresh. False on a failure of the library or of memory.
[[gnu::cold]] bool SettleToUnicodeOverflow(ThreadCopy& copy, const UConverter* model, bool stateful, bool resetFree, bool singleBytes, const char* bytes,
										   size_t count, UChar* dest, size_t room, PassResult& result)
{
	if (stateful)
		return CutAtFreshStart(model, bytes, count, result.fWritten, result.fRead);
	if (!result.fHeld)
		return true;
	// The room split a character's units: convert again noting where each unit came from, and leave that
	// character for the next call.
	std::unique_ptr<int32_t[]> offsets(new (std::nothrow) int32_t[room]);
	if (offsets == nullptr)
		return false;
	result = ToUnicodePass(copy, resetFree, singleBytes, bytes, count, dest, room, offsets.get());
	if (IsFailure(result))
		return false;
	if (IsOverflow(result))
		TrimToWholeCharacters(offsets.get(), result.fWritten, result.fRead);
	return true;
}

// The room ran out converting from UTF-16: leaves in `result` the characters written whole, and in a
// shifted set output that ends in the initial state. False on a failure of the library or of memory.
[[gnu::cold]] bool SettleFromUnicodeOverflow(ThreadCopy& copy, bool stateful, bool resetFree, const UChar* source, size_t units, char* out, size_t room,
											 PassResult& result)
{
	if (!result.fHeld && !stateful)
		return true;
	// The room split a character's bytes, or a shifted run was cut before its closing sequence: convert
	// again noting where each byte came from, leave the split character for the next call, and for shifted
	// sets convert less until the output closes its run within the room.
	std::unique_ptr<int32_t[]> offsets(new (std::nothrow) int32_t[room]);
	if (offsets == nullptr)
		return false;
	size_t length = units;
	for (;;)
	{
		result = FromUnicodePass(copy, resetFree, source, length, out, room, offsets.get());
		if (IsFailure(result))
			return false;
		if (!IsOverflow(result))
			return true;
		TrimToWholeCharacters(offsets.get(), result.fWritten, result.fRead);
		if (!stateful || result.fRead == 0)
			return true;
		length = result.fRead;
	}
}

// The unit of each of the 256 bytes of a set without shift states whose characters take one byte, each
// byte decoded alone as a call would decode it (controls put back in place): such a set decodes a text
// byte by byte, so the table gives what the library gives. Null when a byte decodes to anything but one
// unit, or when memory or the library fails.
const char16_t* MakeByteUnits(const UConverter* model, bool rotatedControls)
{
	StConverterCopy copy(model);
	if (copy.Get() == nullptr)
		return nullptr;
	std::unique_ptr<char16_t[]> units(new (std::nothrow) char16_t[256]);
	if (units == nullptr)
		return nullptr;
	for (int byte = 0; byte < 256; ++byte)
	{
		const char in = char(byte);
		const char* s = &in;
		UChar out[4];
		UChar* t = out;
		UErrorCode err = U_ZERO_ERROR;
		ucnv_resetToUnicode(copy.Get());
		ucnv_toUnicode(copy.Get(), &t, out + 4, &s, &in + 1, nullptr, false, &err);
		UErrorCode pendingErr = U_ZERO_ERROR;
		if (U_FAILURE(err) || s != &in + 1 || t != out + 1 || ucnv_toUCountPending(copy.Get(), &pendingErr) != 0)
			return nullptr;
		units[byte] = out[0];
	}
	if (rotatedControls)
		UnrotateUnits(units.get(), 256);
	return units.release();
}

}  // namespace

TextEncodingConverter::TextEncodingConverter(UConverter* model, size_t index, size_t maxCharBytes, bool stateful, bool resetFree,
											 bool rotatedControls, const char16_t* byteUnits)
: fModel(model),
  fIndex(index),
  fMaxCharBytes(maxCharBytes),
  fStateful(stateful),
  fResetFree(resetFree),
  fRotatedControls(rotatedControls),
  fByteUnits(byteUnits)
{
}

const TextEncodingConverter* TextEncodingConverter::Get(const char* name)
{
	if (name == nullptr || *name == 0)
		return nullptr;
	std::lock_guard<std::mutex> lock(CacheMutex());
	std::vector<CacheEntry>& cache = Cache();
	for (const CacheEntry& entry : cache)
	{
		if (entry.fName == name)
			return entry.fConverter;
	}

	UErrorCode err = U_ZERO_ERROR;
	UConverter* model = OpenMacCharSetConverter(name);
	if (model == nullptr)
		model = ucnv_open(name, &err);
	if (model == nullptr || U_FAILURE(err))
	{
		if (model != nullptr)
			ucnv_close(model);
		return nullptr;
	}
	// The library cannot copy a compound-text converter (closing the copy crashes), and each thread
	// converts with a copy.
	if (ucnv_getType(model) == UCNV_COMPOUND_TEXT)
	{
		ucnv_close(model);
		return nullptr;
	}
	// Fallback mappings give the nearest character rather than a "?" where the set has one. Every copy
	// takes the callbacks and the substitute with it.
	ucnv_setFallback(model, true);
	static const UChar kQuestionMark[] = {u'?'};
	ucnv_setSubstString(model, kQuestionMark, 1, &err);
	ucnv_setToUCallBack(model, ToUnicodeReplacement, nullptr, nullptr, nullptr, &err);
	ucnv_setFromUCallBack(model, FromUnicodeQuestionMark, nullptr, nullptr, nullptr, &err);
	if (U_FAILURE(err))
	{
		ucnv_close(model);
		return nullptr;
	}

	const bool stateful = IsStatefulType(ucnv_getType(model));
	const bool resetFree = IsResetFreeType(ucnv_getType(model));
	const bool rotated = !stateful && HasRotatedControls(model);
	const size_t maxCharBytes = std::max<size_t>(1, size_t(ucnv_getMaxCharSize(model)));
	// Never freed, as the converter (null, the library decodes, when it cannot be made).
	const char16_t* byteUnits = (maxCharBytes == 1 && !stateful) ? MakeByteUnits(model, rotated) : nullptr;
	std::string key;
	try
	{
		key = name;
		cache.reserve(cache.size() + 1);
	}
	catch (const std::bad_alloc&)
	{
		delete[] byteUnits;
		ucnv_close(model);
		return nullptr;
	}
	TextEncodingConverter* converter =
		new (std::nothrow) TextEncodingConverter(model, cache.size(), maxCharBytes, stateful, resetFree, rotated, byteUnits);
	if (converter == nullptr)
	{
		delete[] byteUnits;
		ucnv_close(model);
		return nullptr;
	}
	cache.push_back(CacheEntry{std::move(key), converter});
	return converter;
}

size_t TextEncodingConverter::CountAvailable()
{
	return size_t(std::max<int32_t>(ucnv_countAvailable(), 0));
}

const char* TextEncodingConverter::GetAvailableName(size_t index)
{
	return index < CountAvailable() ? ucnv_getAvailableName(int32_t(index)) : nullptr;
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
	if (fByteUnits != nullptr)
	{
		const size_t converted = std::min(count, room);
		const unsigned char* const in = static_cast<const unsigned char*>(source);
		for (size_t i = 0; i < converted; ++i)
			dest[i] = fByteUnits[in[i]];
		*outBytesRead = converted;
		*outUnitsWritten = converted;
		return converted < count ? kTextOutputBufferFullStatus : kTextStatusNoErr;
	}
	const StCallConverter call(fModel, fIndex);
	if (call.Get() == nullptr)
		return kTextConversionFailedStatus;
	ThreadCopy& converter = *call.Get();
	const bool singleBytes = fMaxCharBytes == 1 && !fStateful;

	PassResult result = ToUnicodePass(converter, fResetFree, singleBytes, bytes, count, dest, room, nullptr);
	if (IsFailure(result))
		return kTextConversionFailedStatus;

	if (IsOverflow(result))
	{
		if (!SettleToUnicodeOverflow(converter, fModel, fStateful, fResetFree, singleBytes, bytes, count, dest, room, result))
			return kTextConversionFailedStatus;
		if (fRotatedControls)
			UnrotateUnits(dest, result.fWritten);
		*outBytesRead = result.fRead;
		*outUnitsWritten = result.fWritten;
		return kTextOutputBufferFullStatus;
	}

	if (fRotatedControls)
		UnrotateUnits(dest, result.fWritten);
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
	const StCallConverter call(fModel, fIndex);
	if (call.Get() == nullptr)
		return kTextConversionFailedStatus;
	ThreadCopy& converter = *call.Get();

	char* const out = static_cast<char*>(dest);
	const size_t room = std::min(destBytes, kMaxCount);
	PassResult result = FromUnicodePass(converter, fResetFree, source, units, out, room, nullptr);
	if (IsFailure(result))
		return kTextConversionFailedStatus;

	if (IsOverflow(result))
	{
		if (!SettleFromUnicodeOverflow(converter, fStateful, fResetFree, source, units, out, room, result))
			return kTextConversionFailedStatus;
		if (fRotatedControls)
			UnrotateBytes(out, result.fWritten);
		*outUnitsRead = result.fRead;
		*outBytesWritten = result.fWritten;
		return kTextOutputBufferFullStatus;
	}

	if (fRotatedControls)
		UnrotateBytes(out, result.fWritten);
	*outUnitsRead = result.fRead;
	*outBytesWritten = result.fWritten;
	if (partial)
		return kTextPartialCharStatus;
	if (result.fSubstituted)
		return kTextUnmappableElementStatus;
	return kTextStatusNoErr;
}

}  // namespace plat
