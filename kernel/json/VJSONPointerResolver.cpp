#include "kernel/json/VJSONPointerResolver.h"

#include <algorithm>
#include <new>

#include "files/VFileSystemNamespace.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTaskMgr.h"

namespace velk {

const VString VJSONPointerResolver::sRefPropertyName("$ref");

namespace {

// The object's "$ref" when it is a reference object (its "$ref" is a text), else null.
bool ReferenceText(const VJSONObject* object, VString& text)
{
	if (object == nullptr)
		return false;
	const VJSONValue reference = object->GetProperty(VJSONPointerResolver::sRefPropertyName);
	if (!reference.IsString())
		return false;
	text = reference.GetString();
	return true;
}

bool IsInProgress(const VJSONPointerResolver::Context& ctx, const VJSONObject* object)
{
	return std::find(ctx.fInProgress.begin(), ctx.fInProgress.end(), object) != ctx.fInProgress.end();
}

}  // namespace

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
	_AppendRunErrors(ctx);
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
			resolver->_ResolveRecursively(ctx, substituted);
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
			_RecordError(ctx, VE_MEMORY_FULL, VString(), VString(), VString(), VString());
		}
	}
	_AppendRunErrors(ctx);
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
	if (IsInProgress(ctx, object))
	{
		*inProgress = true;
		return false;
	}
	try
	{
		if (ctx.fOutcomes.find(object) == ctx.fOutcomes.end())
		{
			if (VString text; !ReferenceText(object, text))
			{
				if (ctx.fVisited.insert(object).second)
					*descend = true;
				return false;
			}
		}
		// The object stays alive while value is replaced.
		const VRefPtr<VJSONObject> held(object);
		Outcome& outcome = const_cast<Outcome&>(_ResolveReference(ctx, object));
		if (outcome.fResolved)
			value = outcome.fValue;
		else
			value.SetUndefined();
		if (newResolver != nullptr)
		{
			// The target is walked once, with the resolver of its document, whatever number of references
			// lead to it.
			newResolver->Clear();
			if (outcome.fResolved && !outcome.fWalked)
			{
				*newResolver = outcome.fResolver;
				outcome.fWalked = true;
			}
		}
	}
	catch (const std::bad_alloc&)
	{
		_RecordError(ctx, VE_MEMORY_FULL, VString(), VString(), VString(), VString());
		return false;
	}
	*descend = true;
	return true;
}

const VJSONPointerResolver::Outcome& VJSONPointerResolver::_ResolveReference(Context& ctx, VJSONObject* reference)
{
	if (auto found = ctx.fOutcomes.find(reference); found != ctx.fOutcomes.end())
		return found->second;

	// The chain is followed link by link, each link's pointer resolved in its own document, until a target
	// that is not a reference, a reference resolved before, a failure or a cycle; the outcomes are then
	// given from the last link back to the first.
	struct Link
	{
		VJSONObject* fObject;
		VString fText;
		uint64 fRank;
	};
	std::vector<Link> chain;
	Outcome end;
	bool lastFailedItself = false;
	VJSONObject* current = reference;
	VRefPtr<VJSONPointerResolver> resolver(this);
	for (;;)
	{
		if (auto found = ctx.fOutcomes.find(current); found != ctx.fOutcomes.end())
		{
			end.fResolved = found->second.fResolved;
			end.fValue = found->second.fValue;
			end.fResolver = found->second.fResolver;
			end.fError = found->second.fError;
			break;
		}
		if (IsInProgress(ctx, current))
		{
			// The chain came back to a reference still being resolved: the link that pointed there fails.
			_RecordURIError(ctx, VE_JSON_POINTER_CYCLE, chain.empty() ? ctx.fCurrentPointer : chain.back().fText);
			end.fError = VE_JSON_POINTER_CYCLE;
			lastFailedItself = true;
			break;
		}
		Link link{current, VString(), ctx.fNextRank++};
		ReferenceText(current, link.fText);
		chain.push_back(link);
		ctx.fInProgress.push_back(current);
		const uint64 enclosingRank = ctx.fCurrentRank;
		ctx.fCurrentRank = link.fRank;
		ctx.fLastError = VE_OK;
		VJSONValue target;
		VJSONValue document;
		VRefPtr<IFolder> folder;
		const bool resolved =
			!resolver->_StackExhausted(ctx) && resolver->ResolvePointerURI(ctx, link.fText, target, &document, &folder);
		ctx.fCurrentRank = enclosingRank;
		if (!resolved)
		{
			end.fError = ctx.fLastError != VE_OK ? ctx.fLastError : VE_JSON_POINTER_NOT_FOUND;
			lastFailedItself = true;
			break;
		}
		VRefPtr<VJSONPointerResolver> targetResolver(
			new (std::nothrow) VJSONPointerResolver(document, folder.Get(), resolver->fNamespace.Get(), resolver->fCache.Get()),
			true);
		if (!targetResolver)
		{
			_RecordError(ctx, VE_MEMORY_FULL, VString(), VString(), VString(), VString());
			end.fError = VE_MEMORY_FULL;
			lastFailedItself = true;
			break;
		}
		VJSONObject* next = target.GetObject();
		if (VString text; next != nullptr && ReferenceText(next, text))
		{
			current = next;
			resolver = std::move(targetResolver);
			continue;
		}
		end.fResolved = true;
		end.fValue = target;
		end.fResolver = std::move(targetResolver);
		break;
	}

	for (size_t i = chain.size(); i-- > 0;)
	{
		const Link& link = chain[i];
		Outcome outcome;
		outcome.fReference = VRefPtr<VJSONObject>(link.fObject);
		outcome.fResolved = end.fResolved;
		outcome.fResolver = end.fResolver;
		outcome.fError = end.fError;
		if (end.fResolved)
		{
			outcome.fValue = end.fValue;
			if (ctx.fPatch)
			{
				VJSONValue patched(link.fObject);
				PatchPointerValue(ctx, patched, end.fValue);
				outcome.fValue = patched;
			}
		}
		else if (i + 1 != chain.size() || !lastFailedItself)
		{
			// Failed because the reference it leads to failed: that error, with this reference's pointer.
			const uint64 enclosingRank = ctx.fCurrentRank;
			ctx.fCurrentRank = link.fRank;
			_RecordURIError(ctx, end.fError, link.fText);
			ctx.fCurrentRank = enclosingRank;
		}
		ctx.fInProgress.pop_back();
		const Outcome& stored = ctx.fOutcomes.insert_or_assign(link.fObject, std::move(outcome)).first->second;
		end.fResolved = stored.fResolved;
		end.fValue = stored.fValue;
		end.fResolver = stored.fResolver;
		end.fError = stored.fError;
	}
	return ctx.fOutcomes.at(reference);
}

void VJSONPointerResolver::PatchPointerValue(Context& ctx, VJSONValue& value, const VJSONValue& target)
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
		_RecordError(ctx, VE_MEMORY_FULL, VString(), VString(), VString(), VString());
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
			_RecordError(ctx, VE_MEMORY_FULL, VString(), VString(), VString(), VString());
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
				_RecordError(ctx, VE_MEMORY_FULL, VString(), VString(), VString(), VString());
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
	_RecordError(ctx, VE_STACK_OVERFLOW, VString(), VString(), VString(), VString());
	return true;
}

VJSONValue VJSONPointerResolver::_MakeErrorRecord(VError error, const VString& value1, const VString& name1,
	const VString& value2, const VString& name2)
{
	VRefPtr<VJSONObject> record(new (std::nothrow) VJSONObject(nullptr, nullptr, false), true);
	VRefPtr<VErrorBase> base(new (std::nothrow) VErrorBase(error), true);
	if (!record || !base)
		return VJSONValue(JSON_undefined);
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
	return VJSONValue(record.Get());
}

void VJSONPointerResolver::_AppendErrorRecord(const VJSONValue& record)
{
	if (!record.IsObject())
		return;
	if (fErrors == nullptr)
	{
		fErrors = new (std::nothrow) VJSONArray();
		if (fErrors == nullptr)
			return;
	}
	fErrors->Push(record);
}

void VJSONPointerResolver::_ThrowError(VError error, const VString& value1, const VString& name1,
	const VString& value2, const VString& name2)
{
	if (error != VE_OK)
		_AppendErrorRecord(_MakeErrorRecord(error, value1, name1, value2, name2));
}

void VJSONPointerResolver::_ThrowURIError(VError error, const VString& pointer)
{
	_ThrowError(error, pointer, VString("pointerURI"), VString(), VString());
}

void VJSONPointerResolver::_RecordError(Context& ctx, VError error, const VString& value1, const VString& name1,
	const VString& value2, const VString& name2)
{
	if (error == VE_OK)
		return;
	ctx.fLastError = error;
	const uint64 rank = ctx.fCurrentRank != kNoRank ? ctx.fCurrentRank : ctx.fNextRank++;
	try
	{
		ctx.fErrors.emplace_back(rank, _MakeErrorRecord(error, value1, name1, value2, name2));
	}
	catch (const std::bad_alloc&)
	{
		// Nowhere to keep it for the end of the run: recorded now, out of order.
		_ThrowError(error, value1, name1, value2, name2);
	}
}

void VJSONPointerResolver::_RecordURIError(Context& ctx, VError error, const VString& pointer)
{
	_RecordError(ctx, error, pointer, VString("pointerURI"), VString(), VString());
}

void VJSONPointerResolver::_AppendRunErrors(Context& ctx)
{
	std::stable_sort(ctx.fErrors.begin(), ctx.fErrors.end(),
		[](const auto& a, const auto& b) { return a.first < b.first; });
	for (const auto& [rank, record] : ctx.fErrors)
		_AppendErrorRecord(record);
	ctx.fErrors.clear();
}

}  // namespace velk
