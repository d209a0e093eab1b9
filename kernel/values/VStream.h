// The toolbox's abstract byte stream: opened for reading or writing, with a position, a byte order, a
// character set for text, an optional progress indicator and a sticky error. Concrete streams supply the
// Do operations; everything typed (words, reals, values, text in any character set) is built here.
#pragma once

#include "kernel/VExport.h"

#include <cstdarg>
#include <cstddef>
#include <type_traits>

#include "kernel/VKernelTypes.h"
#include "kernel/memory/VObject.h"
#include "runtime/VError.h"

namespace velk {

class VArrayString;
class VFromUnicodeConverter;
class VProgressIndicator;
class VString;
class VToUnicodeConverter;
class VValue;

constexpr VError VE_STREAM_NOT_OPENED = MakeVError(kVELK_SIGNATURE, 201);
constexpr VError VE_STREAM_ALREADY_OPENED = MakeVError(kVELK_SIGNATURE, 202);
constexpr VError VE_STREAM_NOT_OPENED_FOR_READING = MakeVError(kVELK_SIGNATURE, 203);
constexpr VError VE_STREAM_NOT_OPENED_FOR_WRITING = MakeVError(kVELK_SIGNATURE, 204);
constexpr VError VE_STREAM_USER_ABORTED = MakeVError(kVELK_SIGNATURE, 206);
constexpr VError VE_STREAM_BAD_SIGNATURE = MakeVError(kVELK_SIGNATURE, 207);
constexpr VError VE_STREAM_NO_TEXT_CONVERTER = MakeVError(kVELK_SIGNATURE, 208);
constexpr VError VE_STREAM_TEXT_CONVERSION_FAILURE = MakeVError(kVELK_SIGNATURE, 210);
constexpr VError VE_STREAM_CANNOT_UNGET_DATA = MakeVError(kVELK_SIGNATURE, 211);

// What a stream exposes of the bytes it holds in memory; fPresent is false for streams that hold none.
struct VELK_API VStreamUnderlyingData
{
	bool fPresent = false;
	const void* fData = nullptr;
	int64 fSize = 0;
};

// Every operation returns the sticky error as it stands afterwards. Once an error is stored, reads and
// writes do nothing and answer it until the stream is reopened (or, for end of data, until bytes are given
// back). Errors are reported (_ThrowError) where they arise; a Do operation's error is stored unreported.
// A stream is used by one thread at a time and takes no lock.
class VELK_API VStream : public VObject
{
public:
	VStream();
	// Releases the progress indicator and the converters; does not close the stream.
	~VStream() override;

	VStream(const VStream&) = delete;
	VStream& operator=(const VStream&) = delete;

	virtual VStreamUnderlyingData GetUnderlyingData() const { return {}; }

	// ---- State and position ----

	// Rewinds to 0 and opens a progress session sized by the stream. velk 202 when already open, 203 for
	// a write-only stream, 208 when the character set has no converter: reported and returned, not stored.
	VError OpenReading();
	// As OpenReading, then reads a 32-bit word: the signature as is, or byte-reversed (the swap flag is then
	// set), is consumed. Any other word, or data shorter than a word, rewinds to 0 and answers velk 207
	// (reported, not stored; the stream stays open for reading with no error).
	VError OpenReading(uint32 signature);
	VError CloseReading();
	// velk 202 when already open, 204 for a read-only stream (not stored); 208 (stored, stream closed)
	// when the character set has no converter.
	VError OpenWriting();
	// Flushes first when no error is set.
	VError CloseWriting(bool setSize = true);

	bool IsReading() const { return fIsReading; }
	bool IsWriting() const { return fIsWriting; }
	int64 GetPos() const { return fPosition; }
	VError GetLastError() const { return fError; }
	int64 GetSize() { return DoGetSize(); }
	// Bytes between the position and the end (0 when the size is not known or behind the position).
	int64 GetRemaining();

	// Needs an open stream (velk 201). An offset before the start gives velk 3.
	VError SetPos(int64 pos);
	VError SetPosByOffset(int64 offset);
	// Needs writing (velk 204); the position is cut back to the new size.
	VError SetSize(int64 size);
	VError Flush();

	// Stores code as the sticky error when none is set yet, reporting it: for readers that find the data
	// they read corrupt.
	VError SetError(VError code);
	// Forgets the sticky error.
	void ResetLastError() { fError = VE_OK; }

	VError SetReadOnly(bool readOnly);
	VError SetWriteOnly(bool writeOnly);
	// Swapped data is in the byte order opposite to the processor's (little-endian): big-endian data.
	void SetNeedSwap(bool swap) { fNeedSwap = swap; }
	bool NeedSwap() const { return fNeedSwap; }
	void SetBigEndian() { fNeedSwap = true; }
	void SetLittleEndian() { fNeedSwap = false; }

	// Retains indicator (null detaches). Reading opens a session sized by the stream, writing one of
	// unknown size; each read or write then reports the position reached.
	void SetProgressIndicator(VProgressIndicator* indicator);
	VProgressIndicator* GetProgressIndicator() const { return fProgress; }

	// ---- Raw and typed data ----

	// Reads count bytes; outCount, when given, receives the bytes delivered (fewer at end of data, with
	// velk 200 stored by the concrete stream).
	VError GetData(void* buffer, size_t count, size_t* outCount = nullptr);
	VError GetData(void* buffer, size_t* ioCount);
	VError PutData(const void* data, size_t count);
	// Gives back count bytes just read so that the next read returns them again. An end of data (velk 200)
	// does not stop it and is cleared by it; more bytes than the position give velk 211.
	VError UngetData(const void* data, size_t count);

	// One value of a fixed width, swapped as the byte order says. A read that fails leaves the target 0.
	template <class T>
	VError Get(T& value)
	{
		static_assert(std::is_arithmetic_v<T>);
		value = T(0);
		size_t count = sizeof(T);
		_GetSwapped(&value, &count, sizeof(T));
		return fError;
	}
	template <class T>
	VError Put(const T& value)
	{
		static_assert(std::is_arithmetic_v<T>);
		return _PutSwapped(&value, 1, sizeof(T));
	}
	VError GetByte(uint8& value) { return Get(value); }
	VError PutByte(uint8 value) { return Put(value); }
	VError GetWord(uint16& value) { return Get(value); }
	VError GetWord(int16& value) { return Get(value); }
	VError PutWord(int16 value) { return Put(value); }
	VError GetLong(int32& value) { return Get(value); }
	VError GetLong(uint32& value) { return Get(value); }
	VError PutLong(int32 value) { return Put(value); }
	VError GetLong8(int64& value) { return Get(value); }
	VError PutLong8(int64 value) { return Put(value); }
	VError GetReal(double& value) { return Get(value); }
	VError PutReal(double value) { return Put(value); }

	// Arrays: ioCount asks for that many words and receives the whole words delivered (0 when an error was
	// already set). The writes never change the caller's data: a swapped copy is written (velk 100 when it
	// cannot be made).
	VError GetWords(int16* words, int32* ioCount) { return _GetArray(words, ioCount, sizeof(int16)); }
	VError GetLongs(int32* longs, int32* ioCount) { return _GetArray(longs, ioCount, sizeof(int32)); }
	VError GetLong8s(int64* longs, int32* ioCount) { return _GetArray(longs, ioCount, sizeof(int64)); }
	VError GetReals(double* reals, int32* ioCount) { return _GetArray(reals, ioCount, sizeof(double)); }
	VError PutWords(const int16* words, int32 count) { return _PutSwapped(words, count, sizeof(int16)); }
	VError PutLongs(const int32* longs, int32 count) { return _PutSwapped(longs, count, sizeof(int32)); }
	VError PutLong8s(const int64* longs, int32 count) { return _PutSwapped(longs, count, sizeof(int64)); }
	VError PutReals(const double* reals, int32 count) { return _PutSwapped(reals, count, sizeof(double)); }

	// Each byte as two upper-case hexadecimal digits, high nibble first.
	VError PutHexBytes(const char* bytes, size_t count);

	// The value's stream form, preceded by its kind word when withKind is set (velk 2, nothing written and
	// nothing stored, for a value whose kind has no descriptor).
	VError PutValue(const VValue& value, bool withKind = true);
	// Reads a kind word and a value of that kind, owned by the caller; null on a read error (kept as the
	// sticky error) or for a kind that is not registered.
	VValue* GetValue();

	// Opens this (closed) stream for reading and copies all of it into destination, which must be open for
	// writing, in blocks of 4096 bytes; closes this stream again, also after an error. Answers the first
	// error (read errors stay here, write errors and cancellation in destination).
	VError PutContentInto(VStream* destination);

	// ---- Text ----

	// Releases the converters and takes those of the set for the current direction: velk 208 (stored) when
	// the set has none.
	VError SetCharSet(CharSet charSet);
	CharSet GetCharSet() const { return fCharSet; }
	void SetCarriageReturnMode(int32 mode) { fCarriageReturnMode = mode; }
	int32 GetCarriageReturnMode() const { return fCarriageReturnMode; }

	// Chooses the character set from a byte-order mark at the position (skipped; *outFoundBOM tells) or,
	// without one, from the pattern of zero bytes and, with testUTF8, from the next 2048 bytes being UTF-8
	// (a window cut inside a sequence still counts when more bytes follow); otherwise defaultSet. Errors
	// met while looking are dropped; the bytes that are not a mark are given back.
	VError GuessCharSetFromLeadingBytes(CharSet defaultSet, bool testUTF8 = true, bool* outFoundBOM = nullptr);
	// The mark of the character set (UTF-8, UTF-16 and UTF-32 in either order); nothing for other sets.
	VError WriteBOM();

	// The text in the character set, line ends rewritten to the carriage-return mode; no mark. A unit the
	// converter stops at (a lone surrogate in UTF-32, a high surrogate ending the text in UTF-8) gives velk
	// 210, stored; the text before it is written.
	VError PutText(const VString& text);
	VError PutPrintf(const char* format, ...);
	VError PutVPrintf(const char* format, va_list arguments);

	// Appends the rest of the stream. Bytes left unconverted at the end give velk 210.
	VError GetText(VString& text);
	// Appends exactly count characters (UTF-16 units), giving back every byte read beyond them, or more when
	// acceptMore allows the converter's natural step. Fewer at end of data, with velk 200 kept.
	VError GetText(VString& text, int32 count, bool acceptMore = false);
	// Replaces line with the next line. Without endChar, CR, LF and CR LF end a line; with it, that
	// character alone (and LF too in UTF-16). keepLineEnd appends one CR for whatever ended the line. A
	// character cut by the reading blocks is carried whole into the line. At end of data the rest is the
	// line (answer 0); velk 200 only when nothing was left.
	VError GetTextLine(VString& line, bool keepLineEnd = false, const UniChar* endChar = nullptr);
	// The next line cut at every tab into array (emptied first), empty fields included.
	VError GetTTRLine(VArrayString& array);

protected:
	// Primitive operations of concrete streams; each returns an error, stored as the sticky one. Reads and
	// writes happen at GetPos(), which VStream moves afterwards.
	virtual VError DoOpenReading() { return VE_OK; }
	virtual VError DoOpenWriting() { return VE_OK; }
	virtual VError DoCloseReading() { return VE_OK; }
	virtual VError DoCloseWriting(bool setSize);
	virtual VError DoPutData(const void* data, size_t count) = 0;
	// ioCount asks for that many bytes and receives the bytes delivered.
	virtual VError DoGetData(void* buffer, size_t* ioCount) = 0;
	// Random-access streams need nothing: the next read starts at the lowered position.
	virtual VError DoUngetData(const void* data, size_t count);
	virtual int64 DoGetSize() = 0;
	virtual VError DoSetSize(int64 size) = 0;
	virtual VError DoSetPos(int64 pos);
	virtual VError DoFlush() { return VE_OK; }

private:
	// The common frames: sticky error, open state, the Do call, the position, the progress report.
	VError _ReadFrame(void* buffer, size_t* ioCount);
	VError _WriteFrame(const void* data, size_t count);
	// Reports code and stores it as the sticky error.
	VError _Fail(VError code);
	bool _Progress();
	void _GetSwapped(void* buffer, size_t* ioCount, size_t width);
	VError _GetArray(void* buffer, int32* ioCount, size_t width);
	VError _PutSwapped(const void* data, int32 count, size_t width);
	VError _CloseReadingAlways();
	bool _RetainConverter(bool forReading);
	void _ReleaseConverters();
	// Appends the bytes' text; false when the converter failed.
	bool _Convert(const void* bytes, size_t count, size_t* outConsumed, VString& text) const;
	VError _GetTextExact(VString& text, int32 count, bool acceptMore);

	VProgressIndicator* fProgress = nullptr;
	int64 fPosition = 0;
	bool fIsReading = false;
	bool fIsWriting = false;
	bool fIsReadOnly = false;
	bool fIsWriteOnly = false;
	bool fNeedSwap = false;
	VError fError = VE_OK;
	CharSet fCharSet = -2;
	int32 fCarriageReturnMode = 4;
	VToUnicodeConverter* fToUnicode = nullptr;
	VFromUnicodeConverter* fFromUnicode = nullptr;
};

}  // namespace velk
