// Legacy character sets: conversion between the bytes of a named character set and UTF-16 in machine
// order, standing in for the system's text-encoding converter.
#pragma once

#include <cstddef>
#include <cstdint>

struct UConverter;

namespace plat {

// Statuses of a conversion.
constexpr int32_t kTextStatusNoErr = 0;
// Room ran out before the input did: what fitted whole is converted, the rest waits for another call.
constexpr int32_t kTextOutputBufferFullStatus = -8785;
// The input ends inside a character (its first bytes, or a high surrogate): that part is left unconsumed.
constexpr int32_t kTextPartialCharStatus = -8753;
// From UTF-16 only: characters the set cannot hold were written as "?"; everything else was converted.
constexpr int32_t kTextUnmappableElementStatus = -8754;
// Any other failure of the conversion library: nothing is converted and both counts are 0.
constexpr int32_t kTextConversionFailedStatus = -8739;

// The converter for one character set. There is one per set name in the process, opened on the first
// request and kept until the process ends; it is never changed after it is made, so it serves any number
// of threads at once. Each thread converts with its own copy of the library's converter (the library's
// converters are not thread-safe), made on the thread's first call for the set and closed when the
// thread ends. Every call starts in the set's initial state and keeps nothing for the next call.
// Bytes or units past the written count, within the room given, may have been changed by a call.
// Bytes 0x00-0x7F of the ASCII-based sets stand for U+0000-U+007F both ways, control characters included.
class TextEncodingConverter
{
public:
	// The converter for the set with this name (an IANA or conversion-library name); null when the set is
	// unknown here, cannot be loaded, or memory ran out (a later call tries again). Safe from any thread.
	static const TextEncodingConverter* Get(const char* name);

	// The sets the conversion library has, by its own names: indexes 0 to CountAvailable() - 1; null past them.
	static size_t CountAvailable();
	static const char* GetAvailableName(size_t index);

	TextEncodingConverter(const TextEncodingConverter&) = delete;
	TextEncodingConverter& operator=(const TextEncodingConverter&) = delete;

	// Bytes of the set to UTF-16. Converts what fits; both counts are always stored. Bytes that are not
	// valid in the set, or have no Unicode form, become U+FFFD. A character cut by the end of the input is
	// left unconsumed (kTextPartialCharStatus); one whose units do not all fit is left for the next call
	// (kTextOutputBufferFullStatus). In a shifted set the room may run out inside a shifted run: the call
	// then ends before the shift sequence that opened the run (at the last point from which a fresh start
	// decodes the rest of the input as one whole call would), so the next call, starting in the initial
	// state, goes on correctly; when that leaves nothing, nothing is converted and more room is needed.
	// Finding that point decodes the rest of the input again, so such calls cost time in proportion to it.
	// An empty input gives kTextStatusNoErr.
	int32_t ToUnicode(const void* source, size_t sourceBytes, size_t* outBytesRead, char16_t* dest, size_t destUnits,
					  size_t* outUnitsWritten) const;

	// UTF-16 to bytes of the set. Converts what fits; both counts are always stored. A character the set
	// cannot hold, and a lone surrogate, becomes "?" in the set (kTextUnmappableElementStatus when nothing
	// else went wrong). A character, or a "?", whose bytes do not all fit is left for the next call
	// (kTextOutputBufferFullStatus); a high surrogate that is the last unit is left unconsumed
	// (kTextPartialCharStatus). When all the input is converted the output ends in the set's initial shift
	// state. An empty input gives kTextStatusNoErr.
	int32_t FromUnicode(const char16_t* source, size_t sourceUnits, size_t* outUnitsRead, void* dest, size_t destBytes,
						size_t* outBytesWritten) const;

	// The most bytes one character of the set can take, shift sequences included (at least 1).
	size_t GetMaxCharBytes() const { return fMaxCharBytes; }

	// True for sets whose bytes depend on a shift state (escape sequences, UTF-7).
	bool IsStateful() const { return fStateful; }

private:
	TextEncodingConverter(UConverter* model, size_t index, size_t maxCharBytes, bool stateful, bool resetFree, bool rotatedControls,
						  const char16_t* byteUnits);
	~TextEncodingConverter() = delete;	// kept until the process ends: threads' copies are found by fIndex

	UConverter* fModel;	 // only ever cloned, which the library allows from several threads at once
	size_t fIndex;		 // this set's place among every thread's copies
	size_t fMaxCharBytes;
	bool fStateful;
	bool fResetFree;		// a thread's copy that ended a call whole needs no reset before the next
	bool fRotatedControls;	// the library's table swaps the controls 0x1A, 0x1C and 0x7F around
	// For a set whose every byte stands alone for one unit: the unit of each byte, as the library decodes
	// it, which a call then reads without the library. Null otherwise.
	const char16_t* fByteUnits;
};

}  // namespace plat
