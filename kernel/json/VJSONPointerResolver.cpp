#include "kernel/json/VJSONPointerResolver.h"

#include <new>

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {

const VString VJSONPointerResolver::sRefPropertyName("$ref");

namespace {

bool BeginsWithASCII(const VString& text, const char* prefix)
{
	int32 pos = 0;
	for (; prefix[pos] != 0; ++pos)
	{
		if (pos >= text.GetLength())
			return false;
		UniChar unit = text.GetCPointer()[pos];
		if (unit >= u'A' && unit <= u'Z')
			unit = UniChar(unit - u'A' + u'a');
		if (unit != UniChar(prefix[pos]))
			return false;
	}
	return true;
}

VString TrimBlanks(const VString& text)
{
	const UniChar* units = text.GetCPointer();
	int32 begin = 0;
	int32 end = text.GetLength();
	while (begin < end && units[begin] == u' ')
		++begin;
	while (end > begin && units[end - 1] == u' ')
		--end;
	return VString(units + begin, end - begin);
}

}  // namespace

VJSONPointerResolver::VJSONPointerResolver(const VJSONValue& root) : fRoot(root) {}

VJSONPointerResolver::~VJSONPointerResolver()
{
	if (fErrors != nullptr)
		fErrors->Release();
}

bool VJSONPointerResolver::ResolveOnePointer(VJSONObject* object, bool followReferences, VJSONValue& result)
{
	StErrorContextInstaller scope(false, true);
	result = VJSONValue(object);
	if (object == nullptr)
		return false;
	const VJSONValue reference = object->GetProperty(sRefPropertyName);
	if (!reference.IsString())
		return false;
	fFollowReferences = followReferences;
	fInProgress.clear();
	fInProgress.push_back(object);
	VJSONValue target;
	const bool resolved = _ResolvePointerURI(reference.GetString(), target);
	fInProgress.clear();
	if (resolved)
		result = std::move(target);
	else
		result.SetUndefined();
	return true;
}

bool VJSONPointerResolver::_ResolvePointerURI(const VString& text, VJSONValue& result)
{
	result.SetUndefined();
	const UniChar* units = text.GetCPointer();
	int32 hash = 0;
	while (hash < text.GetLength() && units[hash] != u'#')
		++hash;
	const VString document = TrimBlanks(VString(units, hash));
	const VString pointer = hash < text.GetLength() ? VString(units + hash + 1, text.GetLength() - hash - 1) : VString();
	if (!document.IsEmpty())
	{
		// Only the resolver's own document is known here; URLs are never fetched.
		if (BeginsWithASCII(document, "http:") || BeginsWithASCII(document, "https:") || BeginsWithASCII(document, "file:"))
			_ThrowError(VE_JSON_POINTER_UNSUPPORTED, text);
		else
			_ThrowError(VE_JSON_POINTER_DOCUMENT_NOT_FOUND, text, &document);
		return false;
	}
	const VString previous = fCurrentPointer;
	fCurrentPointer = text;
	const bool resolved = _ResolvePointerString(pointer, result);
	fCurrentPointer = previous;
	return resolved;
}

bool VJSONPointerResolver::_ResolvePointerString(const VString& pointer, VJSONValue& result)
{
	result = fRoot;
	if (pointer.IsEmpty())
		return true;
	const UniChar* units = pointer.GetCPointer();
	const int32 length = pointer.GetLength();
	if (units[0] != u'/')
	{
		_ThrowError(VE_JSON_POINTER_SYNTAX, fCurrentPointer);
		result.SetUndefined();
		return false;
	}
	for (int32 start = 1; start <= length;)
	{
		int32 end = start;
		while (end < length && units[end] != u'/')
			++end;
		if (!_ResolveOnePart(result, VString(units + start, end - start)))
		{
			result.SetUndefined();
			return false;
		}
		start = end + 1;
	}
	return true;
}

bool VJSONPointerResolver::_ResolveOnePart(VJSONValue& current, const VString& escaped)
{
	VString token(escaped);
	token.ExchangeRawString(VString("~1"), VString("/"));
	token.ExchangeRawString(VString("~0"), VString("~"));
	if (current.IsObject() && !_FollowReference(current))
		return false;
	if (const VJSONArray* array = current.GetArray())
	{
		const UniChar* units = token.GetCPointer();
		const int32 length = token.GetLength();
		if (length == 1 && units[0] == u'-')
		{
			_ThrowError(VE_JSON_POINTER_UNSUPPORTED, fCurrentPointer);
			return false;
		}
		if (length == 0 || (length > 1 && units[0] == u'0'))
		{
			_ThrowError(VE_JSON_POINTER_SYNTAX, fCurrentPointer);
			return false;
		}
		uint64 index = 0;
		for (int32 pos = 0; pos < length; ++pos)
		{
			if (units[pos] < u'0' || units[pos] > u'9')
			{
				_ThrowError(VE_JSON_POINTER_SYNTAX, fCurrentPointer);
				return false;
			}
			// Past any possible count the exact value no longer matters.
			if (index < (uint64(1) << 60))
				index = index * 10 + uint64(units[pos] - u'0');
		}
		current = index < array->GetCount() ? array->GetAt(size_t(index)) : VJSONValue(JSON_undefined);
	}
	else if (const VJSONObject* object = current.GetObject())
	{
		current = object->GetProperty(token);
	}
	else
	{
		_ThrowError(VE_JSON_POINTER_NOT_A_CONTAINER, fCurrentPointer);
		return false;
	}
	if (current.IsUndefined())
	{
		_ThrowError(VE_JSON_POINTER_NOT_FOUND, fCurrentPointer);
		return false;
	}
	return true;
}

bool VJSONPointerResolver::_FollowReference(VJSONValue& current)
{
	VJSONObject* object = current.GetObject();
	if (!fFollowReferences || object == nullptr)
		return true;
	const VJSONValue reference = object->GetProperty(sRefPropertyName);
	if (!reference.IsString())
		return true;
	for (const VJSONObject* inProgress : fInProgress)
	{
		if (inProgress == object)
		{
			_ThrowError(VE_JSON_POINTER_CYCLE, fCurrentPointer);
			return false;
		}
	}
	fInProgress.push_back(object);
	VJSONValue target;
	const bool resolved = _ResolvePointerURI(reference.GetString(), target);
	fInProgress.pop_back();
	current = std::move(target);
	return resolved;
}

void VJSONPointerResolver::_ThrowError(VError error, const VString& pointer, const VString* referredPath)
{
	if (fErrors == nullptr)
	{
		fErrors = new (std::nothrow) VJSONArray();
		if (fErrors == nullptr)
			return;
	}
	VJSONObject* record = new (std::nothrow) VJSONObject(nullptr, nullptr, false);
	if (record == nullptr)
		return;
	VString component;
	component.FromOsType(ERRCODE_SIGNATURE(error));
	record->SetProperty(VString("code"), VJSONValue(double(ERRCODE_NUMBER(error))));
	record->SetProperty(VString("component"), VJSONValue(component));
	record->SetProperty(VString("pointerURI"), VJSONValue(pointer));
	if (referredPath != nullptr)
		record->SetProperty(VString("referredPath"), VJSONValue(*referredPath));
	fErrors->Push(VJSONValue(record));
	record->Release();
}

}  // namespace velk
