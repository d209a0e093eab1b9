// The JSON class "Vector": an immutable list of doubles seen as a JSON object, with distance and
// similarity functions for comparing embedding vectors. The values live in a VVectorData that clones
// share. Its binary form (signature 'JVec') is the u64 byte count and the values as 8-byte doubles.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <vector>

#include "kernel/VKernelTypes.h"
#include "kernel/json/IJSONObject.h"
#include "kernel/json/VStorageLocker.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"

namespace velk {

constexpr VError VE_JSON_VECTOR_NOT_A_NUMBER = MakeVError(kVELK_SIGNATURE, 990);
constexpr VError VE_JSON_VECTOR_LENGTHS_DIFFER = MakeVError(kVELK_SIGNATURE, 991);

// The values of one or more Vectors, never changed after construction.
class VELK_API VVectorData : public VObject, public IRefCountable
{
public:
	explicit VVectorData(std::vector<double>&& values) : fValues(std::move(values)) {}

	const std::vector<double>& GetValues() const { return fValues; }

	// Each stores 0 and answers false when the lengths differ. Sums run in index order from 0.0.
	static bool DoEuclideanDistance(const VVectorData& a, const VVectorData& b, double& out);
	static bool DoDotProduct(const VVectorData& a, const VVectorData& b, double& out);
	// 0 where it is not a number (an empty or all-zero vector), else clamped to [-1, 1].
	static bool DoCosineSimilarity(const VVectorData& a, const VVectorData& b, double& out);

private:
	std::vector<double> fValues;
};

class VELK_API VJSONVector : public VObject, public IJSONObject
{
public:
	static constexpr uint32 kSignature = FourCharCode("JVec");

	explicit VJSONVector(std::vector<double>&& values);
	// Retains data.
	explicit VJSONVector(VVectorData* data);

	VJSONVector(const VJSONVector&) = delete;
	VJSONVector& operator=(const VJSONVector&) = delete;

	// The "Vector" class object of the process class store, made there once on first use (not retained);
	// null while the process has no class store.
	static VJSONObject* GetClass();
	// A new unshared Vector object (one reference, owned by the caller); null with velk 100.
	static VJSONObject* Create(std::vector<double>&& values);
	// Resizes values to count (new values 0); velk 100, recorded, when memory is short.
	static VError Allocate(size_t count, std::vector<double>& values);

	static VJSONVector* CastJSONObject(const VJSONObject* object);
	static VJSONVector* GetThis(IJSONFunctionContext* context);

	const VVectorData* GetData() const { return fData; }

	// "new Vector(array of numbers)": velk 3 unless there is exactly one array parameter, velk 990 for an
	// element that is not a number; no object then.
	static VJSONObject* do_instantiate(VJSONObject* classObject, IJSONFunctionContext* context);
	// One Vector parameter of the same length: velk 3 for a wrong this, count or kind, velk 991 for
	// different lengths; failed (2) then.
	static EJSONStatus do_euclideanDistance(const VJSONObject* function, IJSONFunctionContext* context);
	static EJSONStatus do_dotSimilarity(const VJSONObject* function, IJSONFunctionContext* context);
	static EJSONStatus do_cosineSimilarity(const VJSONObject* function, IJSONFunctionContext* context);
	// A new array of the values; velk 3 with any parameter.
	static EJSONStatus do_toCollection(const VJSONObject* function, IJSONFunctionContext* context);

	// The creator of the binary reader for 'JVec'. velk 3 for a size that is not a multiple of 8, velk
	// 100 when memory is short; both recorded, stored in error, and null answered.
	static IJSONObject* CreateIJSONObject(VJSONObject* object, uint32 signature, const void* data, size_t size,
		VRefPtr<VJSONObject>& classObject, uint64* error);

	// "length" is the count of values; other names are the object's own.
	EJSONStatus IJSON_GetProperty(const VJSONObject* object, const VString& name, VJSONValue& out,
		VDBLanguageContext* context) const override;
	// Refused with RyRT -10702.
	EJSONStatus IJSON_SetProperty(VJSONObject* object, const VString& name, const VJSONValue& value,
		VDBLanguageContext* context) override;
	EJSONStatus IJSON_RemoveProperty(VJSONObject* object, const VString& name) override;
	EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& names) const override;
	// Value index; RyRT -10713 at or past the length.
	EJSONStatus IJSON_GetPropertyByIndex(const VJSONObject* object, size_t index, VJSONValue& out) const override;
	EJSONStatus IJSON_GetCountPropertiesByIndex(const VJSONObject* object, size_t* count) const override;
	// The count and the values. When the buffer cannot grow: velk 100 recorded and stored in error, failed.
	EJSONStatus IJSON_WriteToBuffer(VMemoryBuffer<1024, 2, 1048576>& buffer, uint64* error) override;
	// A new Vector sharing the values.
	EJSONStatus IJSON_CloneImpl(const VJSONObject* object, VJSONCloner& cloner, VRefPtr<IJSONObject>& out,
		bool* outShared, uint64* error) const override;
	// JSON text writes a Vector as the string "[object Vector]".
	EJSONStatus IJSON_Stringify(const VJSONObject* object, VJSONWriter& writer, VString& out,
		uint64* error) const override;
	// "Vector, length: <n>".
	EJSONStatus IJSON_GetDescription(const VJSONObject* object, VString& out) const override;
	uint32 IJSON_GetBinarySignature() const override { return kSignature; }
	bool IJSON_IsSharable(const VJSONObject* object, bool& flag) const override;
	// Null: no value kind holds a Vector, so a value made from one is the container marker.
	VValue* IJSON_CreateVValue() const override { return nullptr; }

private:
	~VJSONVector() override;

	VVectorData* fData;
};

}  // namespace velk
