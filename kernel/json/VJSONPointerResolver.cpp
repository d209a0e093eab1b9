#include "kernel/json/VJSONPointerResolver.h"

#include <new>

#include "files/VFileSystemNamespace.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTaskMgr.h"

namespace velk {

const VString VJSONPointerResolver::sRefPropertyName("$ref");

VJSONPointerResolver::VJSONPointerResolver(const VJSONValue& root, IFolder* baseFolder, VFileSystemNamespace* ns,
	VJSONFileCache* cache)
	: fRoot(root), fBaseFolder(baseFolder), fNamespace(ns), fCache(cache)
{
	if (cache == nullptr)
		fCache.Adopt(new (std::nothrow) VJSONFileCache());
}

VJSONPointerResolver::~VJSONPointerResolver()
{
	if (fErrors != nullptr)
		fErrors->Release();
}

bool VJSONPointerResolver::ResolveOnePointer(VJSONObject* object, bool followReferences, VJSONValue& result)
{
	StErrorContextInstaller scope(false, true);
	result = VJSONValue(object);
	if (object == nullptr || !object->GetProperty(sRefPropertyName).IsString())
		return false;
	Context ctx(false, followReferences);
	bool inProgress = false;
	bool descend = false;
	Resolve(ctx, result, nullptr, &inProgress, &descend);
	return true;
}

void VJSONPointerResolver::ResolveRecursively(VJSONValue& value, bool patch, std::vector<VRefPtr<IFile>>* files)
{
	StErrorContextInstaller scope(false, true);
	Context ctx(patch, true);
	_ResolveRecursively(ctx, value);
	while (!ctx.fPending.empty() && !ctx.fStackExhausted)
	{
		const auto pending = std::move(ctx.fPending);
		ctx.fPending.clear();
		for (auto [resolver, substituted] : pending)
		{
			resolver->_ResolveRecursively(ctx, substituted);
			// Problems met in other documents are the owner's to read.
			_AdoptErrors(*resolver);
		}
	}
	if (files != nullptr)
	{
		try
		{
			for (const auto& [path, file] : ctx.fFiles)
				files->push_back(file);
		}
		catch (const std::bad_alloc&)
		{
			_ThrowError(VE_MEMORY_FULL, VString(), VString(), VString(), VString());
		}
	}
	if (scope.GetLastError() != VE_OK && (fErrors == nullptr || fErrors->GetCount() == 0))
		_ThrowError(scope.GetLastError(), VString(), VString(), VString(), VString());
}

bool VJSONPointerResolver::Resolve(Context& ctx, VJSONValue& value, VRefPtr<VJSONPointerResolver>* newResolver,
	bool* inProgress, bool* descend)
{
	VJSONObject* object = value.GetObject();
	*inProgress = false;
	*descend = false;
	if (newResolver != nullptr)
		*newResolver = VRefPtr<VJSONPointerResolver>(this);
	if (object == nullptr)
	{
		*descend = value.IsArray();
		return false;
	}
	for (const VJSONObject* resolving : ctx.fInProgress)
	{
		if (resolving == object)
		{
			*inProgress = true;
			return false;
		}
	}
	try
	{
		if (!ctx.fVisited.insert(object).second)
			return false;
		const VJSONValue reference = object->GetProperty(sRefPropertyName);
		if (!reference.IsString())
		{
			*descend = true;
			return false;
		}
		// The object stays alive while value is replaced.
		const VRefPtr<VJSONObject> held(object);
		ctx.fInProgress.push_back(object);
		VJSONValue target;
		VJSONValue document;
		VRefPtr<IFolder> folder;
		const bool resolved =
			!_StackExhausted(ctx) && ResolvePointerURI(ctx, reference.GetString(), target, &document, &folder);
		if (!resolved)
			value.SetUndefined();
		else if (ctx.fPatch)
			PatchPointerValue(ctx, value, target);
		else
			value = target;
		ctx.fInProgress.pop_back();
		if (value.GetObject() != object)
			ctx.fVisited.erase(object);
		if (newResolver != nullptr)
		{
			newResolver->Clear();
			if (resolved)
				newResolver->Adopt(new (std::nothrow) VJSONPointerResolver(document, folder.Get(), fNamespace.Get(), fCache.Get()));
		}
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL, VString(), VString(), VString(), VString());
		return false;
	}
	*descend = true;
	return true;
}

void VJSONPointerResolver::PatchPointerValue(Context&, VJSONValue& value, const VJSONValue& target)
{
	const VJSONObject* reference = value.GetObject();
	const VJSONObject* targetObject = target.GetObject();
	if (targetObject == nullptr || reference == nullptr || reference->GetPropertyCount() <= 1)
	{
		value = target;
		return;
	}
	VRefPtr<VJSONObject> patched(new (std::nothrow) VJSONObject(nullptr, nullptr, false), true);
	std::vector<VString> names;
	std::vector<VString> overrides;
	if (!patched || !targetObject->GetPropertyNamesInOrder(names) || !reference->GetPropertyNamesInOrder(overrides))
	{
		_ThrowError(VE_MEMORY_FULL, VString(), VString(), VString(), VString());
		value = target;
		return;
	}
	for (const VString& name : names)
		patched->SetProperty(name, targetObject->GetProperty(name));
	for (const VString& name : overrides)
	{
		if (!name.EqualToStringRaw(sRefPropertyName))
			patched->SetProperty(name, reference->GetProperty(name));
	}
	value = VJSONValue(patched.Get());
}

bool VJSONPointerResolver::_ResolveRecursively(Context& ctx, VJSONValue& value)
{
	if (!value.IsObject() && !value.IsArray())
		return false;
	if (_StackExhausted(ctx))
		return false;
	if (VJSONArray* array = value.GetArray())
	{
		try
		{
			if (!ctx.fVisitedArrays.insert(array).second)
				return false;
		}
		catch (const std::bad_alloc&)
		{
			_ThrowError(VE_MEMORY_FULL, VString(), VString(), VString(), VString());
			return false;
		}
		const VRefPtr<VJSONArray> held(array);
		for (size_t index = 0; index < array->GetCount() && !ctx.fStackExhausted; ++index)
		{
			VJSONValue element = array->GetAt(index);
			if (_ResolveRecursively(ctx, element))
				array->SetAt(index, element);
		}
		return false;
	}
	VRefPtr<VJSONPointerResolver> newResolver;
	bool inProgress = false;
	bool descend = false;
	if (Resolve(ctx, value, &newResolver, &inProgress, &descend))
	{
		if (newResolver)
		{
			try
			{
				ctx.fPending.emplace_back(std::move(newResolver), value);
			}
			catch (const std::bad_alloc&)
			{
				_ThrowError(VE_MEMORY_FULL, VString(), VString(), VString(), VString());
			}
		}
		return true;
	}
	VJSONObject* object = value.GetObject();
	std::vector<VString> names;
	if (!descend || object == nullptr || !object->GetPropertyNamesInOrder(names))
		return false;
	const VRefPtr<VJSONObject> held(object);
	for (const VString& name : names)
	{
		if (ctx.fStackExhausted)
			break;
		VJSONValue property = object->GetProperty(name);
		if (_ResolveRecursively(ctx, property) && !property.IsUndefined())
			object->SetProperty(name, property);
	}
	return false;
}

bool VJSONPointerResolver::_StackExhausted(Context& ctx)
{
	if (ctx.fStackExhausted)
		return true;
	if (VTaskMgr::Get()->GetCurrentFreeStackSize() >= kMinFreeStack)
		return false;
	ctx.fStackExhausted = true;
	_ThrowError(VE_STACK_OVERFLOW, VString(), VString(), VString(), VString());
	return true;
}

void VJSONPointerResolver::_ThrowError(VError error, const VString& value1, const VString& name1,
	const VString& value2, const VString& name2)
{
	if (error == VE_OK)
		return;
	if (fErrors == nullptr)
	{
		fErrors = new (std::nothrow) VJSONArray();
		if (fErrors == nullptr)
			return;
	}
	VRefPtr<VJSONObject> record(new (std::nothrow) VJSONObject(nullptr, nullptr, false), true);
	VRefPtr<VErrorBase> base(new (std::nothrow) VErrorBase(error), true);
	if (!record || !base)
		return;
	if (!value1.IsEmpty())
		base->SetString(VString("p1"), value1);
	if (!value2.IsEmpty())
		base->SetString(VString("p2"), value2);
	VString component;
	component.FromOsType(ERRCODE_SIGNATURE(error));
	VString message;
	base->GetErrorDescription(message);
	record->SetProperty(VString("code"), VJSONValue(double(ERRCODE_NUMBER(error))));
	record->SetProperty(VString("component"), VJSONValue(component));
	record->SetProperty(VString("message"), VJSONValue(message));
	if (!value1.IsEmpty() && !name1.IsEmpty())
		record->SetProperty(name1, VJSONValue(value1));
	if (!value2.IsEmpty() && !name2.IsEmpty())
		record->SetProperty(name2, VJSONValue(value2));
	fErrors->Push(VJSONValue(record.Get()));
}

void VJSONPointerResolver::_ThrowURIError(VError error, const VString& pointer)
{
	_ThrowError(error, pointer, VString("pointerURI"), VString(), VString());
}

void VJSONPointerResolver::_AdoptErrors(const VJSONPointerResolver& other)
{
	if (&other == this || other.fErrors == nullptr)
		return;
	if (fErrors == nullptr)
	{
		fErrors = new (std::nothrow) VJSONArray();
		if (fErrors == nullptr)
			return;
	}
	for (size_t index = 0; index < other.fErrors->GetCount(); ++index)
		fErrors->Push(other.fErrors->GetAt(index));
}

}  // namespace velk
