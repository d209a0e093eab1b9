#include "kernel/json/VJSONPropertyIterator.h"

#include <new>
#include <unordered_set>

#include "kernel/json/classes/VJSONClass.h"

namespace velk {

namespace {

const VString sNoName;

}  // namespace

VJSONPropertyNames::VJSONPropertyNames(const VJSONObject* object)
	: fObject(const_cast<VJSONObject*>(object))
{
}

const VString& VJSONPropertyNames::GetName() const
{
	return IsValid() ? fNames[fIndex] : sNoName;
}

VJSONValue VJSONPropertyNames::GetValue(VDBLanguageContext* context) const
{
	if (!IsValid() || fObject.Get() == nullptr)
		return VJSONValue(JSON_undefined);
	if (IsOwnProperty())
		return fObject->GetOwnProperty(fNames[fIndex]);
	return fObject->GetProperty(fNames[fIndex], context);
}

bool VJSONPropertyNames::_AddImplementationNames(bool onlyOthers)
{
	IJSONObject* implementation = fObject->GetImplementation();
	if (implementation == nullptr || fFailed)
		return false;
	try
	{
		std::vector<VString> names;
		const EJSONStatus status = implementation->IJSON_GetPropertyNames(names);
		if (status == eJSONStatusNotHandled)
			return false;
		// A failure is already recorded: the implementation supplied no name.
		if (status != eJSONStatusHandled)
			return true;
		if (!onlyOthers)
		{
			fNames.insert(fNames.end(), names.begin(), names.end());
			return true;
		}
		std::unordered_set<VString, hasher_VString::hash, hasher_VString::equal_to> own(
			fNames.begin() + std::ptrdiff_t(fOwnBegin), fNames.begin() + std::ptrdiff_t(fOwnEnd));
		for (const VString& name : names)
		{
			if (own.find(name) == own.end())
				fNames.push_back(name);
		}
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		_Empty();
	}
	return true;
}

bool VJSONPropertyNames::_AddOwnNames(bool ordered)
{
	if (fFailed)
		return false;
	std::vector<VString> names;
	if (!(ordered ? fObject->GetPropertyNamesInOrder(names) : fObject->GetPropertyNames(names)))
	{
		_Empty();
		return false;
	}
	try
	{
		fOwnBegin = fNames.size();
		fNames.insert(fNames.end(), names.begin(), names.end());
		fOwnEnd = fNames.size();
		return true;
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		_Empty();
		return false;
	}
}

void VJSONPropertyNames::_AddGetterNames(bool onlyOthers)
{
	const VJSONClass* theClass = fObject->GetClass();
	if (theClass == nullptr || !theClass->HasGetters() || fFailed)
		return;
	try
	{
		std::vector<VString> names;
		theClass->GetGetterNames(names);
		std::unordered_set<VString, hasher_VString::hash, hasher_VString::equal_to> listed;
		if (onlyOthers)
			listed.insert(fNames.begin(), fNames.end());
		for (const VString& name : names)
		{
			if (listed.find(name) == listed.end())
				fNames.push_back(name);
		}
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		_Empty();
	}
}

void VJSONPropertyNames::_Empty()
{
	fNames.clear();
	fIndex = fOwnBegin = fOwnEnd = 0;
	fFailed = true;
}

VJSONPropertyIterator::VJSONPropertyIterator(VJSONObject* object)
	: VJSONPropertyNames(object), fUser(object, false)
{
	if (object == nullptr)
		return;
	if (!_AddImplementationNames(false))
		_AddGetterNames(false);
	_AddOwnNames(false);
}

bool VJSONPropertyIterator::SetValue(const VJSONValue& value, VDBLanguageContext* context)
{
	if (!IsValid() || fObject.Get() == nullptr)
		return false;
	if (IsOwnProperty() && value.IsUndefined())
		return false;
	return fObject->SetProperty(fNames[fIndex], value, context);
}

VJSONPropertyConstIterator::VJSONPropertyConstIterator(const VJSONObject* object)
	: VJSONPropertyNames(object)
{
	if (object == nullptr)
		return;
	if (!_AddImplementationNames(false))
		_AddGetterNames(false);
	_AddOwnNames(false);
}

VJSONPropertyConstOrderedIterator::VJSONPropertyConstOrderedIterator(const VJSONObject* object, uint32 options)
	: VJSONPropertyNames(object)
{
	if (object == nullptr || !_AddOwnNames(true))
		return;
	bool implementationNames = false;
	if ((options & kJSONOrderedWithoutImplementationNames) == 0)
		implementationNames = _AddImplementationNames(true);
	if ((options & kJSONOrderedWithoutClassNames) == 0 && !implementationNames)
		_AddGetterNames(true);
}

}  // namespace velk
