// The JSON class "Blob": an immutable run of bytes seen as a JSON object, read like an array of byte
// values. A Blob object's implementation is a VJSONBlob, a view (start, end) on a shared buffer that its
// slices share. Its binary form (signature 'JBlb') is the u64 byte count and the bytes.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>

#include "kernel/VKernelTypes.h"
#include "kernel/json/IJSONObject.h"
#include "kernel/json/VStorageLocker.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"

namespace velk {

class SharedBuffer;

constexpr VError VE_JSON_TOO_MANY_PARAMETERS = MakeVError(kRYRT_SIGNATURE, 58);

class VELK_API VJSONBlob : public VObject, public IJSONObject
{
public:
	static constexpr uint32 kSignature = FourCharCode("JBlb");

	// Takes a reference to buffer (null: an empty blob). The view is payload[start, end).
	VJSONBlob(SharedBuffer* buffer, uint64 start, uint64 end);

	VJSONBlob(const VJSONBlob&) = delete;
	VJSONBlob& operator=(const VJSONBlob&) = delete;

	// The "Blob" class object of the process class store, made there once on first use (not retained);
	// null while the process has no class store.
	static VJSONObject* GetClass();
	// A new unshared Blob object holding a copy of the bytes (one reference, owned by the caller); null
	// with velk 100 when memory is short.
	static VJSONObject* Create(const void* data, size_t size);
	// A new Blob object over bytes [start, end) of this one, sharing its buffer; bounds as JavaScript's
	// slice: negative ones count from the end, and they are clamped to the blob.
	VJSONObject* CreateSlice(int64 start, int64 end) const;

	// The Blob implementation of object, or null.
	static VJSONBlob* CastJSONObject(const VJSONObject* object);
	static VJSONBlob* GetThis(IJSONFunctionContext* context);

	uint64 GetSize() const { return fEnd - fStart; }
	// Null for an empty blob without buffer.
	const uint8* GetData() const;

	// "new Blob()" and "new Blob(blob)": an empty Blob or a copy; RyRT 54 (and an empty Blob) when the
	// parameter is not a Blob, RyRT 58 and no object for more than one parameter.
	static VJSONObject* do_instantiate(VJSONObject* classObject, IJSONFunctionContext* context);
	// blob.slice(start, end): a bound that is not a number is taken as absent (RyRT 7 unless it is
	// undefined); NaN counts as 0 and bounds beyond 64 bits are clamped. Fails (2) without error when
	// this is not a Blob.
	static EJSONStatus do_slice(const VJSONObject* function, IJSONFunctionContext* context);

	// The creator of the binary reader for 'JBlb': data and size are the bytes after the count. Null with
	// velk 100, also stored in error, when memory is short.
	static IJSONObject* CreateIJSONObject(VJSONObject* object, uint32 signature, const void* data, size_t size,
		VRefPtr<VJSONObject>& classObject, uint64* error);

	// The property name "size", made before any other static.
	static const VString key_size;

	// True: blobs never change, so they may be shared (flag false).
	bool IJSON_IsSharable(const VJSONObject* object, bool& flag) const override;
	// "size" is the byte count; other names are the object's own.
	EJSONStatus IJSON_GetProperty(const VJSONObject* object, const VString& name, VJSONValue& out,
		VDBLanguageContext* context) const override;
	// Refused with RyRT -10702.
	EJSONStatus IJSON_SetProperty(VJSONObject* object, const VString& name, const VJSONValue& value,
		VDBLanguageContext* context) override;
	EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& names) const override;
	// "<n> bytes".
	EJSONStatus IJSON_GetDescription(const VJSONObject* object, VString& out) const override;
	// The count and the bytes. When the buffer cannot grow: velk 100 recorded and stored in error, failed
	// (the buffer may hold part of the payload).
	EJSONStatus IJSON_WriteToBuffer(VMemoryBuffer<1024, 2, 1048576>& buffer, uint64* error) override;
	uint32 IJSON_GetBinarySignature() const override { return kSignature; }
	// The byte at index as a number; RyRT -10713 at or past the size.
	EJSONStatus IJSON_GetPropertyByIndex(const VJSONObject* object, size_t index, VJSONValue& out) const override;
	EJSONStatus IJSON_GetCountPropertiesByIndex(const VJSONObject* object, size_t* count) const override;
	// The clone is the object itself.
	EJSONStatus IJSON_Clone(const VJSONObject* object, VJSONCloner& cloner, VJSONValue& out,
		uint64* error) const override;

private:
	~VJSONBlob() override;

	// A new unshared object of classObject (null: "Blob") over implementation, which it takes over; null
	// with velk 100.
	static VJSONObject* _Wrap(VJSONBlob* implementation, VJSONObject* classObject = nullptr);
	// A new blob holding a copy of the bytes, or null (nothing recorded).
	static VJSONBlob* _MakeCopy(const void* data, size_t size);

	SharedBuffer* fBuffer;
	uint64 fStart;
	uint64 fEnd;
};

}  // namespace velk
