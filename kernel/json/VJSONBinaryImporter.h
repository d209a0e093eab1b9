// Reads the binary form that VJSONBinaryWriter writes back into a JSON value tree: shared containers and
// cycles come back as one container, native payloads through VJSONObjectFactory. The data may come from
// anywhere (JSON text embeds it in Base64), so every length is checked against what remains before it is
// used or anything is allocated for it.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>

#include "kernel/VKernelTypes.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/VError.h"

namespace velk {

class VJSONObject;
class VJSONArray;
class VJSONStamp;
class VJSONPointerResolver;

class VELK_API VJSONBinaryImporter : public VObject
{
public:
	// Reads size bytes at data, which the importer does not own and which must outlive it. stamp, when
	// given, is retained and given to every object and array made.
	VJSONBinaryImporter(const void* data, size_t size, VJSONStamp* stamp = nullptr);
	~VJSONBinaryImporter() override;

	VJSONBinaryImporter(const VJSONBinaryImporter&) = delete;
	VJSONBinaryImporter& operator=(const VJSONBinaryImporter&) = delete;

	// Reads one value into out; no data gives undefined and 0. A reference resolves to the container
	// written before at its place (one that does not resolve leaves its place as it was). Answers and
	// raises velk 200 for data that ends early, for a length that runs past the end, a count that the
	// remaining bytes cannot hold or a negative one, and for an unlisted tag whose length is below 4;
	// velk 100 when memory is short; velk 108 when the free stack runs short or containers nest deeper
	// than the text parser reads; or the error of the factory's creator of a native payload. A payload of
	// an unregistered signature, and a class reference, leave a plain object. On failure out keeps what
	// was built so far.
	VError GetValue(VJSONValue& out);

	// The value embedded in Base64 text, as JSON text carries it under "__PRIVATE_BINARY_OBJECT". Text
	// that is not Base64 leaves decoded false and out untouched and answers 0, its errors dropped (velk
	// 100 excepted); otherwise decoded is set and GetValue answers.
	static VError GetValueFromBase64(const VString& text, VJSONValue& out, bool& decoded);

private:
	// The tag and its payload. A new container sets newContainer, and count to its element count; its
	// contents are left to read.
	VError _ReadValue(VJSONValue& out, bool& newContainer, uint32& count);
	VError _ReadContents(VJSONValue& value, uint32 count, uint32 depth);
	VError _ReadObjectContents(VJSONObject* object, uint32 depth);
	VError _ReadArrayContents(VJSONArray* array, uint32 count, uint32 depth);
	VError _ReadPayload(VJSONObject* object);
	// velk 200 unless count bytes remain.
	VError _Need(size_t count);
	VError _ReadUnits(uint32 count, VString& out);
	size_t _Remaining() const { return size_t(fEnd - fCursor); }
	static VError _Fail(VError error);

	VRefPtr<VJSONStamp> fStamp;
	const uint8* fCursor;
	const uint8* fStart;
	const uint8* fEnd;
	size_t fSize;
	VJSONPointerResolver* fResolver = nullptr;
};

}  // namespace velk
