#include "kernel/json/classes/VJSONBlob.h"

#include <algorithm>
#include <mutex>
#include <new>

#include "kernel/json/IJSONFunctionContext.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/classes/VJSONClass.h"
#include "kernel/json/classes/VJSONClassStore.h"
#include "kernel/memory/SharedBuffer.h"
#include "kernel/memory/VMemoryBuffer.h"
#include "kernel/values/VReal.h"

namespace velk {

namespace {

// JavaScript's slice bound: negative counts from the end; the result lies in [0, size].
int64 SliceBound(int64 bound, int64 size)
{
	return bound < 0 ? std::max(size + bound, int64(0)) : std::min(bound, size);
}

bool AddCount(VMemoryBuffer<1024, 2, 1048576>& buffer, uint64 count)
{
	uint8 bytes[8];
	for (uint8& byte : bytes)
	{
		byte = uint8(count);
		count >>= 8;
	}
	return buffer.AddData(bytes, sizeof(bytes));
}

}  // namespace

VJSONBlob::VJSONBlob(SharedBuffer* buffer, uint64 start, uint64 end) : fBuffer(buffer), fStart(start), fEnd(end)
{
	if (fBuffer != nullptr)
		fBuffer->Retain();
}

VJSONBlob::~VJSONBlob()
{
	if (fBuffer != nullptr)
		fBuffer->Release();
}

VJSONObject* VJSONBlob::GetClass()
{
	VJSONClassStore* store = VJSONClassStore::GetProcessStore();
	if (store == nullptr)
		return nullptr;
	// Made during the run, so released at exit before the statics the class's end still uses.
	static VRefPtr<VJSONObject> sClass;
	static std::once_flag sOnce;
	std::call_once(sOnce, [store] {
		sClass = store->AddClass(VString("Blob"), {{VString("slice"), &do_slice, 0}}, nullptr, nullptr, &do_instantiate, 0);
	});
	return sClass.Get();
}

const uint8* VJSONBlob::GetData() const
{
	return fBuffer != nullptr ? fBuffer->GetData() + fStart : nullptr;
}

VJSONBlob* VJSONBlob::_MakeCopy(const void* data, size_t size)
{
	SharedBuffer* buffer = nullptr;
	if (size > 0)
	{
		buffer = SharedBuffer::Create(data, size);
		if (buffer == nullptr)
			return nullptr;
	}
	VJSONBlob* blob = new (std::nothrow) VJSONBlob(buffer, 0, size);
	if (buffer != nullptr)
		buffer->Release();
	return blob;
}

VJSONObject* VJSONBlob::_Wrap(VJSONBlob* implementation, VJSONObject* classObject)
{
	if (implementation == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	VJSONObject* object
		= new (std::nothrow) VJSONObject(classObject != nullptr ? classObject : GetClass(), implementation, false);
	implementation->Release();
	if (object == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	else if (const VJSONClass* theClass = object->GetClass())
		object->_SetClassKind(uint32(theClass->GetDepth()));
	return object;
}

VJSONObject* VJSONBlob::Create(const void* data, size_t size)
{
	if (data == nullptr && size > 0)
	{
		_ThrowError(VE_INVALID_PARAMETER);
		return nullptr;
	}
	return _Wrap(_MakeCopy(data, size));
}

VJSONObject* VJSONBlob::CreateSlice(int64 start, int64 end) const
{
	const int64 size = int64(GetSize());
	const int64 s = SliceBound(start, size);
	const int64 e = SliceBound(end, size);
	if (e <= s)
		return _Wrap(new (std::nothrow) VJSONBlob(nullptr, 0, 0));
	return _Wrap(new (std::nothrow) VJSONBlob(fBuffer, fStart + uint64(s), fStart + uint64(e)));
}

VJSONBlob* VJSONBlob::CastJSONObject(const VJSONObject* object)
{
	return object != nullptr ? dynamic_cast<VJSONBlob*>(object->GetImplementation()) : nullptr;
}

VJSONBlob* VJSONBlob::GetThis(IJSONFunctionContext* context)
{
	return context != nullptr ? CastJSONObject(context->GetThisObject()) : nullptr;
}

VJSONObject* VJSONBlob::do_instantiate(VJSONObject* classObject, IJSONFunctionContext* context)
{
	const int32 count = context != nullptr ? context->GetParamCount() : 0;
	if (count > 1)
	{
		_ThrowError(VE_JSON_TOO_MANY_PARAMETERS);
		return nullptr;
	}
	// A parameter that is not a Blob gives (null, 0): an empty Blob, its error recorded.
	const VJSONBlobView source = count == 1 ? context->GetBlobParam(1, false) : VJSONBlobView();
	return _Wrap(_MakeCopy(source.fData, source.fSize), classObject);
}

EJSONStatus VJSONBlob::do_slice(const VJSONObject*, IJSONFunctionContext* context)
{
	const VJSONBlob* self = GetThis(context);
	if (self == nullptr)
		return eJSONStatusFailed;
	double number = 0;
	const int64 start = context->GetNumberOptParam(1, &number) ? VReal::RealToLong8(number) : 0;
	const int64 end = context->GetNumberOptParam(2, &number) ? VReal::RealToLong8(number) : int64(self->GetSize());
	VJSONObject* slice = self->CreateSlice(start, end);
	if (slice == nullptr)
		return eJSONStatusFailed;
	context->SetResult(VJSONValue(slice), 5);
	slice->Release();
	return eJSONStatusHandled;
}

IJSONObject* VJSONBlob::CreateIJSONObject(VJSONObject*, uint32, const void* data, size_t size,
	VRefPtr<VJSONObject>& classObject, uint64* error)
{
	VJSONBlob* blob = _MakeCopy(data, size);
	if (blob == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		if (error != nullptr)
			*error = VE_MEMORY_FULL;
		return nullptr;
	}
	classObject = VRefPtr<VJSONObject>(GetClass());
	return blob;
}

bool VJSONBlob::IJSON_IsSharable(const VJSONObject*, bool& flag) const
{
	flag = false;
	return true;
}

EJSONStatus VJSONBlob::IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
	VDBLanguageContext*) const
{
	if (!hasher_VString::equal_to()(name, key_size))
		return eJSONStatusNotHandled;
	out.SetNumber(double(GetSize()));
	return eJSONStatusHandled;
}

EJSONStatus VJSONBlob::IJSON_SetProperty(VJSONObject*, const VString& name, const VJSONValue&, VDBLanguageContext*)
{
	_ThrowError(VE_JSON_CLASS_READ_ONLY, &name);
	return eJSONStatusFailed;
}

EJSONStatus VJSONBlob::IJSON_GetPropertyNames(std::vector<VString>& names) const
{
	names.push_back(key_size);
	return eJSONStatusHandled;
}

EJSONStatus VJSONBlob::IJSON_GetDescription(const VJSONObject*, VString& out) const
{
	out.Printf("%zu bytes", size_t(GetSize()));
	return eJSONStatusHandled;
}

EJSONStatus VJSONBlob::IJSON_WriteToBuffer(VMemoryBuffer<1024, 2, 1048576>& buffer, uint64* error)
{
	const uint64 size = GetSize();
	if (!AddCount(buffer, size) || (size > 0 && !buffer.AddData(GetData(), size)))
	{
		_ThrowError(VE_MEMORY_FULL);
		if (error != nullptr)
			*error = VE_MEMORY_FULL;
		return eJSONStatusFailed;
	}
	return eJSONStatusHandled;
}

EJSONStatus VJSONBlob::IJSON_GetPropertyByIndex(const VJSONObject*, size_t index, VJSONValue& out) const
{
	if (index >= GetSize())
	{
		_ThrowError(VE_JSON_INDEX_OUT_OF_RANGE);
		return eJSONStatusFailed;
	}
	out.SetNumber(double(GetData()[index]));
	return eJSONStatusHandled;
}

EJSONStatus VJSONBlob::IJSON_GetCountPropertiesByIndex(const VJSONObject*, size_t* count) const
{
	if (count != nullptr)
		*count = size_t(GetSize());
	return eJSONStatusHandled;
}

EJSONStatus VJSONBlob::IJSON_Clone(const VJSONObject* object, VJSONCloner&, VJSONValue& out, uint64* error) const
{
	out.SetObject(const_cast<VJSONObject*>(object));
	if (error != nullptr)
		*error = VE_OK;
	return eJSONStatusHandled;
}

}  // namespace velk
