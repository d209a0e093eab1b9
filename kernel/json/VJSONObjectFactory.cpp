#include "kernel/json/VJSONObjectFactory.h"

#include <new>

#include "kernel/json/classes/VJSONBlob.h"
#include "kernel/json/classes/VJSONVector.h"
#include "runtime/VError.h"

namespace velk {

VJSONObjectFactory::VJSONObjectFactory()
{
	RegisterSignature(VJSONBlob::kSignature, &VJSONBlob::CreateIJSONObject);
	RegisterSignature(VJSONVector::kSignature, &VJSONVector::CreateIJSONObject);
}

VJSONObjectFactory* VJSONObjectFactory::Get()
{
	static VJSONObjectFactory sInstance;
	return &sInstance;
}

bool VJSONObjectFactory::RegisterSignature(uint32 signature, Creator creator)
{
	StLocker lock(&fLock);
	try
	{
		fCreators[signature] = creator;
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	return true;
}

bool VJSONObjectFactory::UnRegisterSignature(uint32 signature)
{
	StLocker lock(&fLock);
	return fCreators.erase(signature) != 0;
}

bool VJSONObjectFactory::IsSignatureSupported(uint32 signature) const
{
	StLocker lock(&fLock);
	return fCreators.find(signature) != fCreators.end();
}

IJSONObject* VJSONObjectFactory::CreateForSignature(VJSONObject* object, uint32 signature, const void* data,
	size_t size, VRefPtr<VJSONObject>& classObject, uint64* error) const
{
	Creator creator = nullptr;
	{
		StLocker lock(&fLock);
		const auto found = fCreators.find(signature);
		if (found != fCreators.end())
			creator = found->second;
	}
	return creator == nullptr ? nullptr : creator(object, signature, data, size, classObject, error);
}

}  // namespace velk
