// A JSON value held by value: one of null, false, true, string, number, object, array, undefined or date,
// with a change stamp. Strings share VString's counted buffers; objects and arrays are held by reference.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <cstdint>
#include <unordered_set>

#include "kernel/VKernelTypes.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace velk {

class VJSONObject;
class VJSONArray;
class VJSONStamp;
class VTime;
class VValueSingle;
class VCompareOptions;
class IFile;

enum JSONType : uint32
{
	JSON_null = 0,
	JSON_false = 1,
	JSON_true = 2,
	JSON_string = 3,
	JSON_number = 4,
	JSON_object = 5,
	JSON_array = 6,
	JSON_undefined = 7,
	JSON_date = 8,
	JSON_last = 9  // the number of kinds; never a real value
};

constexpr VError VE_JSON_ARRAY_CONTAINS_ITSELF = MakeVError(kVELK_SIGNATURE, 900);

// How deep containers may nest for every walk that recurses into them: the text parser reads no deeper and
// the writers, the deep copy, the deep comparison and the text of arrays go no deeper, so that no tree,
// however it was built, can exhaust a thread's stack. Freeing a tree does not recurse at all.
constexpr uint32 kJSONMaxNestingDepth = 256;
// Below this much free stack a walk goes no deeper either.
constexpr size_t kJSONMinFreeStack = 16384;
// For a walk about to enter a container with depth containers above it: velk 108 (raised) when it may go no
// deeper, 0 otherwise.
VELK_API VError JSONCheckNesting(uint32 depth);

// The lowest stack address at which a walk of the calling task may still enter a container, taken once when
// the walk starts: checking it at each container is one comparison, where asking the task manager each time
// would cost calls through the library's interface and thread-local reads on the parser's and writer's
// paths. The address depends on the task alone, so a walk entered again from within itself may take it
// again. Used inside the library only (not exported).
class VJSONStackBound
{
public:
	// Leaves minFree of the calling task's stack unused.
	explicit VJSONStackBound(size_t minFree = kJSONMinFreeStack);
	// Whether more than minFree of the stack is left below the caller. The caller's frame is found from
	// the stack pointer (its call frame address), not the frame pointer, which would take a register from
	// the walk's own loops where it is inlined.
	bool HasRoom() const { return uintptr_t(__builtin_dwarf_cfa()) >= fLowest; }

private:
	uintptr_t fLowest;
};

class VELK_API VJSONValue
{
public:
	// A value of that kind. An object or array is a new empty container whose only reference the value
	// holds; when it cannot be made (velk 100 raised) the value is null.
	explicit VJSONValue(JSONType type = JSON_undefined);
	// Retains the container; null gives a null value.
	explicit VJSONValue(VJSONObject* object);
	explicit VJSONValue(VJSONArray* array);
	// Shares the string's buffer; a null string gives null.
	explicit VJSONValue(const VString& text);
	explicit VJSONValue(const VInlineString& text);
	explicit VJSONValue(double number);
	// The UTC calendar date; a null time gives null.
	explicit VJSONValue(const VTime& time);

	// Fresh stamp; buffer or container shared.
	VJSONValue(const VJSONValue& other);
	// Carries kind, stamp and payload over; the source keeps its kind but loses its buffer or container.
	VJSONValue(VJSONValue&& other) noexcept;
	VJSONValue& operator=(const VJSONValue& other);
	VJSONValue& operator=(VJSONValue&& other) noexcept;
	~VJSONValue();

	JSONType GetType() const { return JSONType(fType); }
	uint32 GetStamp() const { return fStamp; }
	// A fresh stamp, as a new value would get.
	void TouchStamp() { fStamp = _NextStamp(); }

	bool IsNull() const { return fType == JSON_null; }
	bool IsUndefined() const { return fType == JSON_undefined; }
	bool IsString() const { return fType == JSON_string; }
	bool IsNumber() const { return fType == JSON_number; }
	bool IsBool() const { return fType == JSON_true || fType == JSON_false; }
	bool IsDate() const { return fType == JSON_date; }
	// Kind object or array; the container may still be absent in a value that was moved from.
	bool IsObject() const { return fType == JSON_object; }
	bool IsArray() const { return fType == JSON_array; }

	// Setters release the old payload first and keep the stamp.
	void SetNull();
	void SetUndefined();
	void SetBool(bool value);
	void SetNumber(double number);
	void SetString(const VString& text);
	void SetString(const VInlineString& text);
	void SetObject(VJSONObject* object);
	void SetArray(VJSONArray* array);
	void SetTime(const VTime& time);
	void SetDate(int16 year, int16 month, int16 day);
	// Empties the payload, keeping the kind: true becomes false, a string empty, a number and a date 0;
	// an object or array is released and the value becomes null.
	void Clear();

	// The container with one more reference for the caller, or null (other kinds, or moved from).
	VJSONObject* RetainObject() const;
	VJSONArray* RetainArray() const;
	// Take over the caller's one reference to a new container, without counting it again: for the readers
	// that make containers (null gives null).
	void _AdoptObject(VJSONObject* object);
	void _AdoptArray(VJSONArray* array);
	// A string of a copy of the units, in a counted buffer of their exact size made for this value alone;
	// false, with velk 107 raised and the value left as it was, when the buffer cannot be made.
	bool _SetStringFromUnits(const UniChar* units, int32 length);
	// Leaves the value null without releasing the container it held: its reference now belongs to whoever
	// took the pointer (StJSONDeferredRelease).
	void _ForgetContainer()
	{
		fPayload.fObject = nullptr;
		fType = JSON_null;
	}
	// The container without a reference, or null.
	VJSONObject* GetObject() const { return fType == JSON_object ? fPayload.fObject : nullptr; }
	VJSONArray* GetArray() const { return fType == JSON_array ? fPayload.fArray : nullptr; }

	// An object's property; undefined for anything else.
	VJSONValue GetProperty(const VString& name) const;
	// Sets an object's property; ignored for anything else.
	void SetProperty(const VString& name, const VJSONValue& value) const;

	double GetNumber() const;
	bool GetBool() const;
	// The value's text. visited guards arrays against containing themselves (velk 900); velk 107 when the
	// text cannot be made.
	VError GetString(VString& out, std::unordered_set<const VJSONArray*>* visited = nullptr) const;
	VString GetString() const;
	// A string value's units, read in place while the value lives and is not changed; null, and length 0,
	// for an empty string and for every other kind.
	const UniChar* _GetStringUnits(int32& length) const
	{
		const bool string = fType == JSON_string && fPayload.fString.fBuffer != nullptr;
		length = string ? fPayload.fString.fLength : 0;
		return string ? fPayload.fString.fBuffer : nullptr;
	}
	void GetTime(VTime& out) const;
	// False, and 0 everywhere, for any kind but date.
	bool GetDate(int16* year, int16* month, int16* day) const;
	// A new toolbox value owned by the caller; null when memory is short (velk 100 raised).
	VValueSingle* CreateVValue(bool markContainers) const;

	// Values at a path of an object value (VJSONObject::GetPropertyWithPath); any other value, a malformed
	// path or a value of another kind gives false or 0. True only for true itself; a number is truncated
	// toward zero (NaN 0, saturating at the 32-bit limits); out is set only when a string is found.
	static bool GetBoolByPath(const VJSONValue& value, const VString& path);
	static int32 GetLongByPath(const VJSONValue& value, const VString& path);
	static bool GetStringByPath(const VJSONValue& value, const VString& path, VString& out);
	// The value's JSON text (VJSONWriter and its option bits: 1 quotes strings and names, 8 indents);
	// answers the writer's error. Under 2048 a value the text cannot carry (a cycle, a container met twice,
	// an object with a native implementation) is written in binary form (VJSONBinaryWriter) and embedded
	// in Base64 as {"__PRIVATE_BINARY_OBJECT": "..."}, which the text parser reads back as the value.
	VError Stringify(VString& out, uint32 options = 0) const;
	// Replaces this value by the text's (VJSONImporter). With recognizeDates, "!!" date texts become dates, and
	// ISO date texts too, or non-ambiguous ones instead with extended; a file likewise without the extended
	// form. Answers the parser's error.
	VError ParseFromString(const VString& text, bool recognizeDates = false, bool extended = false);
	VError LoadFromFile(IFile* file, bool recognizeDates = false);
	// VJSONWriter::StringifyValueToFile: the whole text in UTF-8, or the file untouched and the error.
	VError SaveToFile(IFile* file, uint32 options = 0) const;

	// -1, 0 or 1. Strings and numbers compare as toolbox values; containers by address; dates as signed
	// numbers; different kinds by kind number, except that null and undefined are equal.
	CompareResult CompareTo(const VJSONValue& other, const VCompareOptions& options) const;
	// As CompareTo, but containers compare by content; cyclic trees end.
	bool DeepEqualTo(const VJSONValue& other, const VCompareOptions& options) const;

	// Adds 1 to stamp and gives it to every container under value that has another stamp.
	static void CheckAndUpdateJsonStamp(const VJSONValue& value, VJSONStamp* stamp);
	static void _ChangeJSONStamp(const VJSONValue& value, VJSONStamp* stamp, std::unordered_set<const void*>& visited);

	// The self-test: builds sample objects and arrays, writes each as JSON text (compact and indented) and
	// parses the text back, and answers whether every one came back equal. Its errors stay in a silent
	// scope of its own; it changes nothing else.
	static bool test();

	static const VJSONValue sUndefined;
	static const VJSONValue sNull;
	static const VJSONValue sTrue;
	static const VJSONValue sFalse;
	static const VJSONValue sLastType;
	static const VString sUndefinedString;
	static const VString sNullString;
	static const VString sTrueString;
	static const VString sFalseString;
	static const VString sObjectString;

	// Process-wide counters, plain increments: two tasks may draw the same number; nothing relies on
	// uniqueness.
	static std::atomic<uint32> sStamp;
	static std::atomic<uint32> sInlineStringTag;

private:
	struct StringPayload
	{
		int32 fLength;
		UniChar* fBuffer;
		int32 fCapacity;
		uint32 fTag;
	};
	union Payload
	{
		StringPayload fString;
		double fNumber;
		VJSONObject* fObject;
		VJSONArray* fArray;
		uint32 fDate;
	};

	// Plain increments, shared by all threads (two tasks may draw the same number): no locked instruction.
	static uint32 _NextStamp()
	{
		const uint32 stamp = sStamp.load(std::memory_order_relaxed) + 1;
		sStamp.store(stamp, std::memory_order_relaxed);
		return stamp;
	}
	static uint32 _NextTag()
	{
		const uint32 tag = sInlineStringTag.load(std::memory_order_relaxed);
		sInlineStringTag.store(tag + 1, std::memory_order_relaxed);
		return tag;
	}

	void _Dispose();
	void _CopyFrom(const VJSONValue& other);
	void _MoveFrom(VJSONValue& other);
	void _SetEmptyString();
	void _ShareBuffer(const VInlineString& text);
	VInlineString _Inline() const { return VInlineString{fPayload.fString.fLength, fPayload.fString.fBuffer, fPayload.fString.fCapacity}; }

	uint32 fType;
	uint32 fStamp;
	Payload fPayload;
};

}  // namespace velk
