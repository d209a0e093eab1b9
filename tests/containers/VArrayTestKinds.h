// The typed array kinds as test rows: how to make one, to store an element from a small seed so that
// element order follows seed order, and to read an element back as a key that tells elements apart.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "containers/VArrayBlob.h"
#include "containers/VArrayBoolean.h"
#include "containers/VArrayByte.h"
#include "containers/VArrayDuration.h"
#include "containers/VArrayLong.h"
#include "containers/VArrayLong8.h"
#include "containers/VArrayReal.h"
#include "containers/VArrayString.h"
#include "containers/VArrayTime.h"
#include "containers/VArrayWord.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VBlob.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VTime.h"

namespace velk::test {

struct ArrayKind
{
	const char* fName;
	ValueKind fKind;
	std::function<VArrayValue*()> fMake;
	// Seeds are 0..999; elements of equal seeds are equal, and a smaller seed gives a smaller element.
	std::function<void(VArrayValue&, int32 pos, int32 seed)> fSet;
	std::function<std::string(const VArrayValue&, int32 pos)> fKey;
};

inline std::string Utf8(const VString& text)
{
	std::string out;
	for (int32 i = 0; i < text.GetLength(); ++i)
		out.push_back(char(text.GetCPointer()[i]));
	return out;
}

inline const std::vector<ArrayKind>& AllSortableKinds()
{
	static const std::vector<ArrayKind> sKinds = {
		{"boolean", VK_ARRAY_BOOLEAN, [] { return new VArrayBoolean; },
			[](VArrayValue& a, int32 pos, int32 seed) { a.FromBoolean(uint8(seed >= 500), pos); },
			[](const VArrayValue& a, int32 pos) { return std::to_string(static_cast<const VArrayBoolean&>(a).GetBoolean(pos)); }},
		{"byte", VK_ARRAY_BYTE, [] { return new VArrayByte; },
			[](VArrayValue& a, int32 pos, int32 seed) { a.FromByte(int8(seed / 4 - 125), pos); },
			[](const VArrayValue& a, int32 pos) { return std::to_string(static_cast<const VArrayByte&>(a).GetByte(pos)); }},
		{"word", VK_ARRAY_WORD, [] { return new VArrayWord; },
			[](VArrayValue& a, int32 pos, int32 seed) { a.FromWord(int16(seed * 60 - 30000), pos); },
			[](const VArrayValue& a, int32 pos) { return std::to_string(static_cast<const VArrayWord&>(a).GetWord(pos)); }},
		{"long", VK_ARRAY_LONG, [] { return new VArrayLong; },
			[](VArrayValue& a, int32 pos, int32 seed) { a.FromLong(int32(seed) * 2000000 - 1000000000, pos); },
			[](const VArrayValue& a, int32 pos) { return std::to_string(static_cast<const VArrayLong&>(a).GetLong(pos)); }},
		{"long8", VK_ARRAY_LONG8, [] { return new VArrayLong8; },
			[](VArrayValue& a, int32 pos, int32 seed) { a.FromLong8(int64(seed) * 10000000000LL - 5000000000000LL, pos); },
			[](const VArrayValue& a, int32 pos) { return std::to_string(static_cast<const VArrayLong8&>(a).GetLong8(pos)); }},
		{"real", VK_ARRAY_REAL, [] { return new VArrayReal; },
			[](VArrayValue& a, int32 pos, int32 seed) { a.FromReal(seed * 0.25 - 100.5, pos); },
			[](const VArrayValue& a, int32 pos) { return std::to_string(static_cast<const VArrayReal&>(a).GetReal(pos)); }},
		// Stamps above 2^63 check that times order as unsigned numbers.
		{"time", VK_ARRAY_TIME, [] { return new VArrayTime; },
			[](VArrayValue& a, int32 pos, int32 seed) { a.FromTime(VTime(uint64(seed) * 0x0040000000000000ULL + 7), pos); },
			[](const VArrayValue& a, int32 pos) {
				VTime time;
				static_cast<const VArrayTime&>(a).GetTime(time, pos);
				return std::to_string(time.GetStamp());
			}},
		{"duration", VK_ARRAY_DURATION, [] { return new VArrayDuration; },
			[](VArrayValue& a, int32 pos, int32 seed) { a.FromDuration(VDuration(int64(seed) * 1000 - 400000), pos); },
			[](const VArrayValue& a, int32 pos) {
				VDuration duration;
				static_cast<const VArrayDuration&>(a).GetDuration(duration, pos);
				return std::to_string(duration.GetLong8OrMilliSeconds());
			}},
		{"string", VK_ARRAY_STRING, [] { return new VArrayString; },
			[](VArrayValue& a, int32 pos, int32 seed) {
				char text[8];
				std::snprintf(text, sizeof(text), "s%03d", int(seed));
				a.FromString(VString(text), pos);
			},
			[](const VArrayValue& a, int32 pos) {
				VString text;
				static_cast<const VArrayString&>(a).GetString(text, pos);
				return text.IsNull() ? std::string("<null>") : Utf8(text);
			}},
		{"blob", VK_ARRAY_BLOB, [] { return new VArrayBlob; },
			[](VArrayValue& a, int32 pos, int32 seed) {
				const uint8 bytes[2] = {uint8(seed >> 8), uint8(seed & 0xFF)};
				VBlobWithPtr blob(bytes, sizeof(bytes));
				a.FromValue(blob, pos);
			},
			[](const VArrayValue& a, int32 pos) {
				const VBlobWithPtr* blob = static_cast<const VArrayBlob&>(a).GetBlob(pos);
				if (blob == nullptr)
					return std::string("<none>");
				return std::string(reinterpret_cast<const char*>(blob->GetDataPtr()), blob->GetSize());
			}},
	};
	return sKinds;
}

// A new array of the kind holding one element per seed.
inline std::unique_ptr<VArrayValue> MakeArray(const ArrayKind& kind, const std::vector<int32>& seeds)
{
	std::unique_ptr<VArrayValue> array(kind.fMake());
	array->SetCount(int32(seeds.size()));
	for (size_t i = 0; i < seeds.size(); ++i)
		kind.fSet(*array, int32(i + 1), seeds[i]);
	return array;
}

inline std::vector<std::string> Keys(const ArrayKind& kind, const VArrayValue& array)
{
	std::vector<std::string> keys;
	for (int32 pos = 1; pos <= array.GetCount(); ++pos)
		keys.push_back(kind.fKey(array, pos));
	return keys;
}

}  // namespace velk::test
