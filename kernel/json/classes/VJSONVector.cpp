#include "kernel/json/classes/VJSONVector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>

#include "kernel/json/IJSONFunctionContext.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/classes/VJSONClass.h"
#include "kernel/json/classes/VJSONClassStore.h"
#include "kernel/memory/VMemoryBuffer.h"

namespace velk {

namespace {

const VString sKeyLength("length");

using Measure = bool (*)(const VVectorData&, const VVectorData&, double&);

// The shared steps of the three measures: this and one Vector parameter of the same length.
EJSONStatus Measured(IJSONFunctionContext* context, Measure measure)
{
	const VJSONVector* self = VJSONVector::GetThis(context);
	if (self == nullptr || context->GetParamCount() != 1)
	{
		_ThrowError(VE_INVALID_PARAMETER);
		return eJSONStatusFailed;
	}
	const VJSONValue parameter = context->GetParam(1);
	const VJSONVector* other = VJSONVector::CastJSONObject(parameter.GetObject());
	if (other == nullptr)
	{
		_ThrowError(VE_INVALID_PARAMETER);
		return eJSONStatusFailed;
	}
	double result = 0;
	if (!measure(*self->GetData(), *other->GetData(), result))
	{
		_ThrowError(VE_JSON_VECTOR_LENGTHS_DIFFER);
		return eJSONStatusFailed;
	}
	context->SetResult(VJSONValue(result), 5);
	return eJSONStatusHandled;
}

}  // namespace

bool VVectorData::DoEuclideanDistance(const VVectorData& a, const VVectorData& b, double& out)
{
	out = 0;
	if (a.fValues.size() != b.fValues.size())
		return false;
	double sum = 0.0;
	for (size_t i = 0; i < a.fValues.size(); ++i)
		sum += (a.fValues[i] - b.fValues[i]) * (a.fValues[i] - b.fValues[i]);
	out = std::sqrt(sum);
	return true;
}

bool VVectorData::DoDotProduct(const VVectorData& a, const VVectorData& b, double& out)
{
	out = 0;
	if (a.fValues.size() != b.fValues.size())
		return false;
	double sum = 0.0;
	for (size_t i = 0; i < a.fValues.size(); ++i)
		sum += a.fValues[i] * b.fValues[i];
	out = sum;
	return true;
}

bool VVectorData::DoCosineSimilarity(const VVectorData& a, const VVectorData& b, double& out)
{
	out = 0;
	if (a.fValues.size() != b.fValues.size())
		return false;
	double dot = 0.0, normA = 0.0, normB = 0.0;
	for (size_t i = 0; i < a.fValues.size(); ++i)
	{
		dot += a.fValues[i] * b.fValues[i];
		normA += a.fValues[i] * a.fValues[i];
		normB += b.fValues[i] * b.fValues[i];
	}
	const double cosine = dot / std::sqrt(normA * normB);
	// Rounding may carry parallel vectors just past 1.
	out = std::isnan(cosine) ? 0.0 : std::clamp(cosine, -1.0, 1.0);
	return true;
}

VJSONVector::VJSONVector(std::vector<double>&& values) : fData(new (std::nothrow) VVectorData(std::move(values)))
{
}

VJSONVector::VJSONVector(VVectorData* data) : fData(data)
{
	if (fData != nullptr)
		fData->Retain();
}

VJSONVector::~VJSONVector()
{
	if (fData != nullptr)
		fData->Release();
}

VJSONObject* VJSONVector::GetClass()
{
	VJSONClassStore* store = VJSONClassStore::GetProcessStore();
	if (store == nullptr)
		return nullptr;
	// Made during the run, so released at exit before the statics the class's end still uses.
	static VRefPtr<VJSONObject> sClass;
	static std::once_flag sOnce;
	std::call_once(sOnce, [store] {
		sClass = store->AddClass(VString("Vector"),
			{{VString("euclideanDistance"), &do_euclideanDistance, 0}, {VString("dotSimilarity"), &do_dotSimilarity, 0},
				{VString("cosineSimilarity"), &do_cosineSimilarity, 0}, {VString("toCollection"), &do_toCollection, 0}},
			nullptr, nullptr, &do_instantiate, 0);
	});
	return sClass.Get();
}

VJSONObject* VJSONVector::Create(std::vector<double>&& values)
{
	VJSONVector* vector = new (std::nothrow) VJSONVector(std::move(values));
	if (vector == nullptr || vector->fData == nullptr)
	{
		if (vector != nullptr)
			vector->Release();
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	VJSONObject* object = new (std::nothrow) VJSONObject(GetClass(), vector, false);
	vector->Release();
	if (object == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	else if (const VJSONClass* theClass = object->GetClass())
		object->_SetClassKind(uint32(theClass->GetDepth()));
	return object;
}

VError VJSONVector::Allocate(size_t count, std::vector<double>& values)
{
	try
	{
		values.resize(count, 0.0);
	}
	catch (const std::exception&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return VE_MEMORY_FULL;
	}
	return VE_OK;
}

VJSONVector* VJSONVector::CastJSONObject(const VJSONObject* object)
{
	return object != nullptr ? dynamic_cast<VJSONVector*>(object->GetImplementation()) : nullptr;
}

VJSONVector* VJSONVector::GetThis(IJSONFunctionContext* context)
{
	return context != nullptr ? CastJSONObject(context->GetThisObject()) : nullptr;
}

VJSONObject* VJSONVector::do_instantiate(VJSONObject*, IJSONFunctionContext* context)
{
	const VJSONValue parameter = context != nullptr && context->GetParamCount() == 1 ? context->GetParam(1) : VJSONValue();
	const VJSONArray* array = parameter.GetArray();
	if (array == nullptr)
	{
		_ThrowError(VE_INVALID_PARAMETER);
		return nullptr;
	}
	std::vector<double> values;
	if (Allocate(array->GetCount(), values) != VE_OK)
		return nullptr;
	for (size_t i = 0; i < values.size(); ++i)
	{
		const VJSONValue element = array->GetAt(i);
		if (!element.IsNumber())
		{
			_ThrowError(VE_JSON_VECTOR_NOT_A_NUMBER);
			return nullptr;
		}
		values[i] = element.GetNumber();
	}
	return Create(std::move(values));
}

EJSONStatus VJSONVector::do_euclideanDistance(const VJSONObject*, IJSONFunctionContext* context)
{
	return Measured(context, &VVectorData::DoEuclideanDistance);
}

EJSONStatus VJSONVector::do_dotSimilarity(const VJSONObject*, IJSONFunctionContext* context)
{
	return Measured(context, &VVectorData::DoDotProduct);
}

EJSONStatus VJSONVector::do_cosineSimilarity(const VJSONObject*, IJSONFunctionContext* context)
{
	return Measured(context, &VVectorData::DoCosineSimilarity);
}

EJSONStatus VJSONVector::do_toCollection(const VJSONObject*, IJSONFunctionContext* context)
{
	const VJSONVector* self = GetThis(context);
	if (self == nullptr || context->GetParamCount() != 0)
	{
		_ThrowError(VE_INVALID_PARAMETER);
		return eJSONStatusFailed;
	}
	const std::vector<double>& values = self->fData->GetValues();
	VRefPtr<VJSONArray> array(new (std::nothrow) VJSONArray(false), true);
	if (!array || !array->Resize(values.size(), JSON_null))
	{
		if (!array)
			_ThrowError(VE_MEMORY_FULL);
		return eJSONStatusFailed;
	}
	for (size_t i = 0; i < values.size(); ++i)
		array->SetAt(i, VJSONValue(values[i]));
	context->SetResult(VJSONValue(array.Get()), 5);
	return eJSONStatusHandled;
}

IJSONObject* VJSONVector::CreateIJSONObject(VJSONObject*, uint32, const void* data, size_t size,
	VRefPtr<VJSONObject>& classObject, uint64* error)
{
	VError result = VE_OK;
	std::vector<double> values;
	if (size % sizeof(double) != 0)
	{
		_ThrowError(VE_INVALID_PARAMETER);
		result = VE_INVALID_PARAMETER;
	}
	else
	{
		result = Allocate(size / sizeof(double), values);
	}
	VJSONVector* vector = nullptr;
	if (result == VE_OK)
	{
		if (size > 0)
			std::memcpy(values.data(), data, size);
		vector = new (std::nothrow) VJSONVector(std::move(values));
		if (vector == nullptr || vector->fData == nullptr)
		{
			if (vector != nullptr)
				vector->Release();
			vector = nullptr;
			_ThrowError(VE_MEMORY_FULL);
			result = VE_MEMORY_FULL;
		}
	}
	if (error != nullptr)
		*error = result;
	if (vector != nullptr)
		classObject = VRefPtr<VJSONObject>(GetClass());
	return vector;
}

EJSONStatus VJSONVector::IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
	VDBLanguageContext*) const
{
	if (!hasher_VString::equal_to()(name, sKeyLength))
		return eJSONStatusNotHandled;
	out.SetNumber(double(fData->GetValues().size()));
	return eJSONStatusHandled;
}

EJSONStatus VJSONVector::IJSON_SetProperty(VJSONObject*, const VString& name, const VJSONValue&, VDBLanguageContext*)
{
	_ThrowError(VE_JSON_CLASS_READ_ONLY, &name);
	return eJSONStatusFailed;
}

EJSONStatus VJSONVector::IJSON_RemoveProperty(VJSONObject*, const VString& name)
{
	_ThrowError(VE_JSON_CLASS_READ_ONLY, &name);
	return eJSONStatusFailed;
}

EJSONStatus VJSONVector::IJSON_GetPropertyNames(std::vector<VString>& names) const
{
	names.push_back(sKeyLength);
	return eJSONStatusHandled;
}

EJSONStatus VJSONVector::IJSON_GetPropertyByIndex(const VJSONObject*, size_t index, VJSONValue& out) const
{
	if (index >= fData->GetValues().size())
	{
		_ThrowError(VE_JSON_INDEX_OUT_OF_RANGE);
		return eJSONStatusFailed;
	}
	out.SetNumber(fData->GetValues()[index]);
	return eJSONStatusHandled;
}

EJSONStatus VJSONVector::IJSON_GetCountPropertiesByIndex(const VJSONObject*, size_t* count) const
{
	if (count != nullptr)
		*count = fData->GetValues().size();
	return eJSONStatusHandled;
}

EJSONStatus VJSONVector::IJSON_WriteToBuffer(VMemoryBuffer<1024, 2, 1048576>& buffer, uint64* error)
{
	const std::vector<double>& values = fData->GetValues();
	uint64 count = values.size() * sizeof(double);
	uint8 bytes[8];
	for (uint8& byte : bytes)
	{
		byte = uint8(count);
		count >>= 8;
	}
	// The values go as they are in memory: the form is little-endian, as every supported machine is.
	if (!buffer.AddData(bytes, sizeof(bytes))
		|| (!values.empty() && !buffer.AddData(values.data(), values.size() * sizeof(double))))
	{
		_ThrowError(VE_MEMORY_FULL);
		if (error != nullptr)
			*error = VE_MEMORY_FULL;
		return eJSONStatusFailed;
	}
	return eJSONStatusHandled;
}

EJSONStatus VJSONVector::IJSON_CloneImpl(const VJSONObject*, VJSONCloner&, VRefPtr<IJSONObject>& out, bool* outShared,
	uint64*) const
{
	VJSONVector* copy = new (std::nothrow) VJSONVector(fData);
	if (copy == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return eJSONStatusFailed;
	}
	out.Adopt(copy);
	if (outShared != nullptr)
		*outShared = false;
	return eJSONStatusHandled;
}

EJSONStatus VJSONVector::IJSON_Stringify(const VJSONObject*, VJSONWriter&, VString& out, uint64* error) const
{
	if (error != nullptr)
		*error = VE_OK;
	out = VString("\"[object Vector]\"");
	return eJSONStatusHandled;
}

EJSONStatus VJSONVector::IJSON_GetDescription(const VJSONObject*, VString& out) const
{
	out = VString("Vector, length: ");
	out.AppendPrintf("%zu", fData->GetValues().size());
	return eJSONStatusHandled;
}

bool VJSONVector::IJSON_IsSharable(const VJSONObject*, bool& flag) const
{
	flag = false;
	return true;
}

}  // namespace velk
