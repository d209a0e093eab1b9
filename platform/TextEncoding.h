// Legacy character sets: conversion between the bytes of a named character set and UTF-16 in machine
// order, standing in for the system's text-encoding converter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

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

// A converter for one character set. Bytes or units past the written count, within the room given, may have
// been changed by a call. It is never changed after it is made, so one instance may serve
// any number of threads at once: every call works on a private copy of the library's converter, starts
// in the set's initial state and keeps nothing for the next call.
class TextEncodingConverter
{
public:
	// The converter for the set with this name (an IANA or conversion-library name); null when the set
	// is unknown here or cannot be loaded.
	static std::unique_ptr<TextEncodingConverter> Open(const char* name);

	~TextEncodingConverter();
	TextEncodingConverter(const TextEncodingConverter&) = delete;
	TextEncodingConverter& operator=(const TextEncodingConverter&) = delete;

	// Bytes of the set to UTF-16. Converts what fits; both counts are always stored. Bytes that are not
	// valid in the set, or have no Unicode form, become U+FFFD. A character cut by the end of the input is
	// left unconsumed (kTextPartialCharStatus); one whose units do not all fit is left for the next call
	// (kTextOutputBufferFullStatus). An empty input gives kTextStatusNoErr.
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
	TextEncodingConverter(UConverter* model, size_t maxCharBytes, bool stateful);

	UConverter* fModel;	 // only ever cloned, which the library allows from several threads at once
	size_t fMaxCharBytes;
	bool fStateful;
};

}  // namespace plat
