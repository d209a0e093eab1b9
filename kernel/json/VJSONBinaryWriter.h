// Writes a JSON value tree in the toolbox's compact tagged binary form, which keeps what JSON text loses:
// shared objects and arrays are written once and their later occurrences as references (so cycles
// survive), dates and undefined keep their kinds, and objects with a native implementation carry its
// payload. VJSONBinaryImporter reads the form back.
//
// The form, integers little-endian, strings as UTF-16 units counted in units: one tag byte (the JSONType)
// then its payload. 0 null, 1 false, 2 true, 7 undefined: nothing. 3 string: u32 length and the units.
// 4 number: the 8 bytes of the double. 8 date: u64 milliseconds of its day at midnight UTC. 6 array: u32
// count and the elements. 5 object: each property as u16 name length, name units and value, then the end
// marker: u16 0xFFFF, or u16 0xFFFD, the u32 signature, u64 payload size and the payload. 255 reference:
// u32 length and the units of "#" and a JSON pointer to the first occurrence.
#pragma once

#include "kernel/VExport.h"

#include <unordered_map>
#include <vector>

#include "kernel/VKernelTypes.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/memory/VMemoryBuffer.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace velk {

class VJSONValue;
class VJSONObject;
class VJSONArray;

class VELK_API VJSONBinaryWriter : public VObject
{
public:
	using Buffer = VMemoryBuffer<1024, 2, 1048576>;

	// Tags beyond the JSONType kinds, and the object end markers.
	static constexpr uint8 kTagReference = 255;
	static constexpr uint16 kEndPlain = 0xFFFF;
	static constexpr uint16 kEndWithPayload = 0xFFFD;
	// The signature of a class reference: "****".
	static constexpr uint32 kClassSignature = 0x2A2A2A2A;
	static constexpr int32 kMaxNameLength = 32767;
	// Below this much free stack a container is refused (velk 108).
	static constexpr size_t kMinFreeStack = 10240;
	// The options VJSONValue::Stringify writes with.
	static constexpr uint32 kStringifyOptions = 64;

	// The property under which JSON text embeds the form in Base64: "__PRIVATE_BINARY_OBJECT".
	static const VString sEmbeddedPropertyName;

	// One step of the path from the root to the value being written.
	struct PathPart
	{
		const PathPart* fParent;  // null at the root
		const VString* fName;     // null for an array element
		uint64 fIndex;
	};

	// The options are kept for the writer's users; none changes the form.
	explicit VJSONBinaryWriter(uint32 options);
	~VJSONBinaryWriter() override;

	VJSONBinaryWriter(const VJSONBinaryWriter&) = delete;
	VJSONBinaryWriter& operator=(const VJSONBinaryWriter&) = delete;

	// Each appends the form of the value to buffer, starting at the root path, and answers 0 or the error,
	// also raised: velk 100 when the buffer cannot grow, velk 3 for a property name longer than 32767
	// units, velk 108 when the free stack runs short or containers nest deeper than the text parser
	// reads, or the error of a native implementation's payload (velk 915 when it has none). The first
	// error stops the writing; the buffer then holds an incomplete form. A writer remembers the containers
	// it wrote: use a new one for each tree.
	VError StreamValue(const VJSONValue& value, Buffer& buffer);
	VError StreamObject(const VJSONObject* object, Buffer& buffer);
	VError StreamArray(const VJSONArray* array, Buffer& buffer);

	// "#", then for each step "/" and the index, or the name with "~" written "~0" and "/" written "~1".
	static void BuildPathPointerString(const PathPart* path, VString& out);

	uint32 GetOptions() const { return fOptions; }

private:
	static constexpr size_t kNoOwner = ~size_t(0);

	// Where a value stands: the occurrence of the container holding it (kNoOwner at the root) and the
	// property name (null for an array element) or element index.
	struct Step
	{
		size_t fOwner;
		const VString* fName;
		uint64 fIndex;
	};
	// The first occurrence of a container, from which the reference text is built only when the container
	// is met again: most never are.
	struct Occurrence
	{
		size_t fOwner;
		VString fName;
		uint64 fIndex;
		bool fHasName;
	};

	VError _StreamValue(const VJSONValue& value, Buffer& buffer, const Step& step, uint32 depth);
	VError _StreamObject(const VJSONObject* object, Buffer& buffer, const Step& step, uint32 depth);
	VError _StreamArray(const VJSONArray* array, Buffer& buffer, const Step& step, uint32 depth);
	// For a container met before: writes the reference and sets referenced. Otherwise records its
	// occurrence, whose index goes to occurrence.
	VError _CheckReference(const VJSONValue& held, const void* container, Buffer& buffer, const Step& step,
		bool& referenced, size_t& occurrence);
	VError _CheckNesting(uint32 depth) const;
	void _BuildPointer(size_t occurrence, VString& out) const;

	uint32 fOptions;
	std::unordered_map<const void*, size_t> fReferences;
	std::vector<Occurrence> fOccurrences;
	// Every container recorded, held until the writer goes: a container computed for one read (a getter's
	// fresh object) would otherwise be freed and lend its address to another, then taken for the first.
	std::vector<VJSONValue> fHeld;
};

}  // namespace velk
