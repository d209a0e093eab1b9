#include "kernel/json/VJSONObject.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

#include "kernel/json/StJSONDeferredRelease.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONCloner.h"
#include "kernel/json/VJSONFunctionContext.h"
#include "kernel/json/VJSONGraph.h"
#include "kernel/json/VJSONWriter.h"
#include "kernel/json/classes/VJSONClass.h"
#include "kernel/json/classes/VJSONClassStore.h"
#include "kernel/values/VCompareOptions.h"
#include "runtime/VTask.h"

namespace velk {

const VString VJSONObject::sLockerIDName("__LockerID");
std::atomic<int32> VJSONObject::sTaskToMonitor{0};
std::atomic<int32> VJSONObject::sTaskCounter{0};

size_t hasher_VString::hash::operator()(const VString& name) const
{
	return std::hash<std::u16string_view>()(std::u16string_view(name.GetCPointer(), size_t(name.GetLength())));
}

bool hasher_VString::equal_to::operator()(const VString& a, const VString& b) const
{
	return a.GetLength() == b.GetLength()
		&& (a.GetLength() == 0 || std::memcmp(a.GetCPointer(), b.GetCPointer(), size_t(a.GetLength()) * sizeof(UniChar)) == 0);
}

namespace {

// The class that an object made with classObject takes.
VJSONClass* ClassForObject(VJSONObject* classObject)
{
	if (classObject == nullptr)
	{
		VJSONClassStore* store = VJSONClassStore::GetProcessStore();
		classObject = store != nullptr ? store->GetRootObjectClass() : nullptr;
	}
	return classObject != nullptr ? dynamic_cast<VJSONClass*>(classObject->GetImplementation()) : nullptr;
}

}  // namespace

VJSONObject::VJSONObject(VJSONObject* classObject, IJSONObject* implementation, VStorageLocker* locker, bool notCounted)
	: fImplementation(implementation), fNotCounted(notCounted)
{
	_SetClass(ClassForObject(classObject));
	if (fImplementation != nullptr)
		fImplementation->Retain();
	if (locker != nullptr)
		locker->Retain();
	fLocker.store(locker, std::memory_order_release);
	const int32 monitored = sTaskToMonitor.load(std::memory_order_relaxed);
	if (!fNotCounted && monitored != 0 && monitored == VTask::GetCurrentID())
	{
		fCreatorTask = monitored;
		sTaskCounter.fetch_add(1, std::memory_order_relaxed);
	}
	if (fImplementation != nullptr)
		fImplementation->IJSON_DoConnectDependencies(this);
}

VJSONObject::VJSONObject(VJSONObject* classObject, IJSONObject* implementation, bool shared)
	: VJSONObject(classObject, implementation, nullptr, false)
{
	if (shared)
	{
		VStorageLocker* locker = new (std::nothrow) VStorageLocker();
		if (locker == nullptr)
			_ThrowError(VE_MEMORY_FULL);
		fLocker.store(locker, std::memory_order_release);
	}
}

VJSONObject::~VJSONObject()
{
	// Given back while the implementation lives: a class object's implementation is its class.
	_SetClass(nullptr);
	{
		StGraphLocker lock(IsSharedGraph());
		if (VJSONGraph* graph = DisconnectAll())
			graph->_RemoveDyingObject(this);
	}
	if (fImplementation != nullptr)
	{
		fImplementation->IJSON_DoDisconnectDependencies(this);
		fImplementation->Release();
	}
	if (VStorageLocker* locker = fLocker.exchange(nullptr))
		locker->Release();
	if (VJSONStamp* stamp = fStamp.exchange(nullptr))
		stamp->Release();
	if (fCreatorTask != 0 && fCreatorTask == VTask::GetCurrentID())
		sTaskCounter.fetch_sub(1, std::memory_order_relaxed);
	// The containers of the properties are released once this object is gone, from a list rather than
	// from inside this destructor, so that freeing a deep tree does not recurse.
	bool anyContainer = false;
	for (const auto& entry : fProperties)
		anyContainer = anyContainer || entry.second.first.GetObject() != nullptr || entry.second.first.GetArray() != nullptr;
	if (anyContainer)
	{
		StJSONDeferredRelease release;
		for (auto& entry : fProperties)
			release.Take(entry.second.first);
	}
}

void VJSONObject::_SetClass(VJSONClass* theClass)
{
	if (theClass == fClass)
		return;
	// A class object that is an instance of its own class ("Class") does not count itself: it would
	// keep itself alive.
	if (theClass != nullptr && theClass->GetClassObject() != this)
		theClass->UseClassObject();
	VJSONClass* former = fClass;
	fClass = theClass;
	if (former != nullptr && former->GetClassObject() != this)
		former->UnuseClassObject();
}

VJSONObject* VJSONObject::GetClassObject() const
{
	return fClass != nullptr ? fClass->GetClassObject() : nullptr;
}

VJSONObject* VJSONObject::_GetPrototype() const
{
	return fClass != nullptr ? fClass->GetPrototype() : nullptr;
}

bool VJSONObject::IsInstanceOf(const VJSONClass* theClass) const
{
	for (const VJSONClass* walked = fClass; walked != nullptr; walked = walked->GetSuperclass())
	{
		if (walked == theClass)
			return true;
	}
	return false;
}

bool VJSONObject::IsInstanceOf(const VJSONObject* classObject) const
{
	const VJSONClass* theClass
		= classObject != nullptr ? dynamic_cast<const VJSONClass*>(classObject->GetImplementation()) : nullptr;
	if (theClass == nullptr)
	{
		_ThrowError(VE_JSON_NOT_A_CLASS_OBJECT);
		return false;
	}
	return IsInstanceOf(theClass);
}

int32 VJSONObject::Retain(const char*) const
{
	StGraphLocker lock(IsSharedGraph());
	VJSONGraph::_MemberRetained(fGraph);
	return IRefCountable::Retain();
}

int32 VJSONObject::Release(const char*) const
{
	StGraphLocker lock(IsSharedGraph());
	VJSONGraph::_MemberReleasing(fGraph);
	return IRefCountable::Release();
}

bool VJSONObject::IsShared() const
{
	if (fLocker.load(std::memory_order_acquire) != nullptr)
		return true;
	bool flag = false;
	return fImplementation != nullptr && fImplementation->IJSON_IsSharable(this, flag);
}

bool VJSONObject::IsSharedGraph() const
{
	return VJSONGraph::_IsInSharedGraph(fLocker, fGraph);
}

void VJSONObject::MakeGraphShared() const
{
	if (VJSONGraph* graph = fGraph)
		graph->SetShared();
}

bool VJSONObject::_NeedsGraphMutex(const VJSONValue& value) const
{
	return IsSharedGraph() || (value.GetObject() != nullptr && value.GetObject()->IsSharedGraph())
		|| (value.GetArray() != nullptr && value.GetArray()->IsSharedGraph());
}

VJSONGraph* VJSONObject::DisconnectAll()
{
	VJSONGraph* graph = fGraph;
	if (graph != nullptr)
		graph->_LowerChildLinks(this, nullptr, 0);
	return graph;
}

void VJSONObject::ClearFromGraph()
{
	DisconnectAll();
	PropertyMap removed;
	removed.swap(fProperties);
	fNextOrdinal = 0;
}

bool VJSONObject::ConnectImplementationProperty(const VJSONValue& value)
{
	StGraphLocker lock(_NeedsGraphMutex(value));
	return VJSONGraph::Connect(&fGraph, value, this, nullptr);
}

void VJSONObject::DisconnectImplementationProperty(const VJSONValue& value)
{
	StGraphLocker lock(_NeedsGraphMutex(value));
	VJSONGraph::Disconnect(fGraph, value);
}

bool VJSONObject::_IsLockerID(const VString& name) const
{
	return fLocker.load(std::memory_order_acquire) != nullptr && hasher_VString::equal_to()(name, sLockerIDName);
}

bool VJSONObject::_CheckUser(VStorageLocker* locker) const
{
	if (locker == nullptr || locker->IsUsedByCurrentTask())
		return true;
	_ThrowError(VE_JSON_OBJECT_NOT_IN_USE);
	return false;
}

VJSONValue VJSONObject::GetProperty(const VString& name, VDBLanguageContext* context) const
{
	VJSONValue result(JSON_undefined);
	if (fImplementation != nullptr
		&& fImplementation->IJSON_GetProperty(this, name, result, context) != eJSONStatusNotHandled)
		return result;
	result = GetOwnProperty(name);
	if (!result.IsUndefined() || fClass == nullptr)
		return result;
	if (const VRefPtr<VJSONObject> function = fClass->GetFunction(name))
		return VJSONValue(function.Get());
	if (const VRefPtr<VJSONObject> getter = fClass->GetGetter(name))
		getter->CallAsFunction(const_cast<VJSONObject*>(this), nullptr, nullptr, result, nullptr, context);
	return result;
}

VJSONValue VJSONObject::GetOwnProperty(const VString& name) const
{
	VJSONReadLock lock(fLocker);
	return _GetOwnProperty(name);
}

VJSONValue VJSONObject::_GetOwnProperty(const VString& name) const
{
	if (_IsLockerID(name))
		return VJSONValue(double(fLocker.load(std::memory_order_acquire)->GetSharedID()));
	auto found = fProperties.find(name);
	if (found == fProperties.end())
		return VJSONValue(JSON_undefined);
	return found->second.first;
}

bool VJSONObject::HasProperty(const VString& name, VDBLanguageContext* context) const
{
	if (fImplementation != nullptr)
	{
		VJSONValue scratch(JSON_undefined);
		const EJSONStatus status = fImplementation->IJSON_GetProperty(this, name, scratch, context);
		if (status == eJSONStatusHandled && !scratch.IsUndefined())
			return true;
		if (status != eJSONStatusNotHandled)
			return false;
	}
	if (HasOwnProperty(name))
		return true;
	VJSONObject* prototype = _GetPrototype();
	return prototype != nullptr && prototype->HasProperty(name, nullptr);
}

VRefPtr<VJSONObject> VJSONObject::RetainOwnPropertyObject(const VString& name, const VJSONObject* expected) const
{
	VJSONReadLock lock(fLocker);
	auto found = fProperties.find(name);
	if (found == fProperties.end() || found->second.first.GetObject() != expected)
		return nullptr;
	return VRefPtr<VJSONObject>(found->second.first.GetObject());
}

bool VJSONObject::HasOwnProperty(const VString& name) const
{
	VJSONReadLock lock(fLocker);
	return _HasOwnProperty(name);
}

bool VJSONObject::_HasOwnProperty(const VString& name) const
{
	return _IsLockerID(name) || fProperties.find(name) != fProperties.end();
}

VJSONObject::PropertyMap VJSONObject::GetInternalProperties() const
{
	VJSONReadLock lock(fLocker);
	try
	{
		// The copy carries ranks as ordinals, as readers of the map expect.
		if (fNextOrdinal != fProperties.size())
			_OrderedEntries();
		return fProperties;
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return PropertyMap();
	}
}

size_t VJSONObject::GetPropertyCount() const
{
	VJSONReadLock lock(fLocker);
	return fProperties.size();
}

std::vector<const VJSONObject::PropertyMap::value_type*> VJSONObject::_OrderedEntries() const
{
	std::vector<const PropertyMap::value_type*> entries;
	if (fNextOrdinal == fProperties.size())
	{
		// No removal since the ordinals were last dense: each entry has its own slot.
		entries.assign(fProperties.size(), nullptr);
		for (const auto& entry : fProperties)
			entries[size_t(entry.second.second)] = &entry;
		return entries;
	}
	entries.reserve(fProperties.size());
	for (const auto& entry : fProperties)
		entries.push_back(&entry);
	std::sort(entries.begin(), entries.end(),
		[](const PropertyMap::value_type* a, const PropertyMap::value_type* b) { return a->second.second < b->second.second; });
	// Made dense again while the order is at hand. Only ordinals change, which readers never see apart
	// from their ranks, so this is done on a const object under the read lock.
	for (size_t i = 0; i < entries.size(); ++i)
		const_cast<PropertyMap::value_type*>(entries[i])->second.second = uint64(i);
	fNextOrdinal = entries.size();
	return entries;
}

bool VJSONObject::GetPropertyNamesInOrder(std::vector<VString>& names) const
{
	VJSONReadLock lock(fLocker);
	try
	{
		std::vector<VString> ordered;
		ordered.reserve(fProperties.size());
		for (const auto* entry : _OrderedEntries())
			ordered.push_back(entry->first);
		names.swap(ordered);
		return true;
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
}

bool VJSONObject::GetPropertyNames(std::vector<VString>& names) const
{
	VJSONReadLock lock(fLocker);
	try
	{
		std::vector<VString> listed;
		listed.reserve(fProperties.size());
		for (const auto& entry : fProperties)
			listed.push_back(entry.first);
		names.swap(listed);
		return true;
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
}

void VJSONObject::_GetValuesInOrder(std::vector<VJSONValue>& values) const
{
	values.clear();
	values.reserve(fProperties.size());
	for (const auto* entry : _OrderedEntries())
		values.push_back(entry->second.first);
}

int64 VJSONObject::GetPropertyOrdinal(const VString& name) const
{
	VJSONReadLock lock(fLocker);
	auto found = fProperties.find(name);
	if (found == fProperties.end())
		return -1;
	const uint64 ordinal = found->second.second;
	if (fNextOrdinal == fProperties.size())
		return int64(ordinal);
	// Removals left gaps: the ordinal is the rank among the entries.
	int64 rank = 0;
	for (const auto& entry : fProperties)
		rank += entry.second.second < ordinal ? 1 : 0;
	return rank;
}

bool VJSONObject::IsEmpty() const
{
	VJSONReadLock lock(fLocker);
	if (!fProperties.empty())
		return false;
	if (fImplementation != nullptr && !fImplementation->IJSON_IsEmpty(this))
		return false;
	return fClass == nullptr || !fClass->HasGetters();
}

VJSONValue VJSONObject::GetPropertyByIndex(size_t index, EJSONStatus* status) const
{
	VJSONValue result(JSON_undefined);
	EJSONStatus answer = eJSONStatusNotHandled;
	if (fImplementation != nullptr)
		answer = fImplementation->IJSON_GetPropertyByIndex(this, index, result);
	if (answer == eJSONStatusNotHandled)
		result.SetUndefined();
	if (status != nullptr)
		*status = answer;
	return result;
}

size_t VJSONObject::GetCountPropertiesByIndex(EJSONStatus* status) const
{
	VJSONReadLock lock(fLocker);
	size_t count = 0;
	EJSONStatus answer = eJSONStatusNotHandled;
	if (fImplementation != nullptr)
		answer = fImplementation->IJSON_GetCountPropertiesByIndex(this, &count);
	if (answer == eJSONStatusNotHandled)
		count = 0;
	if (status != nullptr)
		*status = answer;
	return count;
}

VError VJSONObject::GetDescription(VString& out, bool cut, VDBLanguageContext* context) const
{
	if (fImplementation != nullptr && fImplementation->IJSON_GetDescription(this, out) != eJSONStatusNotHandled)
		return VE_OK;
	VJSONReadLock lock(fLocker);
	VJSONWriter writer(context, VString::kJSON_WITH_QUOTES | (cut ? VJSONWriter::kCUT_LONG : 0));
	return writer.StringifyObject(this, out);
}

VError VJSONObject::GetString(VString& out) const
{
	out = VJSONValue::sObjectString;
	return VE_OK;
}

void VJSONObject::GetClassName(VString& out) const
{
	out.Clear();
	if (fImplementation != nullptr && fImplementation->IJSON_GetClassName(this, out) != eJSONStatusNotHandled
		&& !out.IsEmpty())
		return;
	if (fClass != nullptr && !fClass->GetName().IsEmpty())
		out = fClass->GetName();
	else
		out = VString(IsShared() ? "Shared Object" : "Object");
}

bool VJSONObject::SetProperty(const VString& name, const VJSONValue& value, VDBLanguageContext* context)
{
	if (value.IsUndefined())
	{
		RemoveProperty(name);
		return true;
	}
	if (fImplementation != nullptr)
	{
		const EJSONStatus status = fImplementation->IJSON_SetProperty(this, name, value, context);
		if (status != eJSONStatusNotHandled)
			return status == eJSONStatusHandled;
	}
	if (fClass != nullptr && fClass->HasSetters())
	{
		if (const VRefPtr<VJSONObject> setter = fClass->GetSetter(name))
		{
			std::vector<VJSONValue> parameters(1, value);
			VJSONValue scratch;
			const EJSONStatus status = setter->CallAsFunction(this, nullptr, &parameters, scratch, nullptr, context);
			if (status != eJSONStatusNotHandled)
				return status == eJSONStatusHandled;
		}
	}
	VJSONReadWriteLock lock(fLocker, _NeedsGraphMutex(value));
	return _SetOwnProperty(name, value);
}

bool VJSONObject::SetPropertyAsString(const VString& name, const VString& text, VDBLanguageContext* context)
{
	return SetProperty(name, VJSONValue(text), context);
}

void VJSONObject::_SetImplementation(IJSONObject* implementation)
{
	if (implementation == fImplementation)
		return;
	if (implementation != nullptr)
		implementation->Retain();
	IJSONObject* previous = fImplementation;
	if (previous != nullptr)
		previous->IJSON_DoDisconnectDependencies(this);
	fImplementation = implementation;
	if (previous != nullptr)
		previous->Release();
	if (implementation != nullptr)
		implementation->IJSON_DoConnectDependencies(this);
}

bool VJSONObject::SetOwnProperty(const VString& name, const VJSONValue& value)
{
	if (value.IsUndefined())
	{
		RemoveOwnProperty(name);
		return true;
	}
	VJSONReadWriteLock lock(fLocker, _NeedsGraphMutex(value));
	return _SetOwnProperty(name, value);
}

bool VJSONObject::_SetOwnProperty(const VString& name, const VJSONValue& value)
{
	VStorageLocker* locker = fLocker.load(std::memory_order_acquire);
	if (locker != nullptr)
	{
		if (_IsLockerID(name))
			return false;
		if (!_CheckUser(locker))
			return false;
		const bool container = value.GetObject() != nullptr || value.GetArray() != nullptr;
		if (container && !VStorageLocker::Assign(VJSONContainer(this), locker, value))
			return false;
		if (locker->IsContainersOnly() && !container && !value.IsNull() && !value.IsUndefined())
		{
			_ThrowError(VE_JSON_CONTAINERS_ONLY);
			return false;
		}
	}
	// Linked first, so that a group that cannot be made leaves the object as it was.
	if (!VJSONGraph::Connect(&fGraph, value, this, nullptr))
		return false;
	auto found = fProperties.find(name);
	if (found == fProperties.end())
	{
		try
		{
			fProperties.emplace(name, std::make_pair(value, fNextOrdinal));
			++fNextOrdinal;
		}
		catch (const std::bad_alloc&)
		{
			VJSONGraph::Disconnect(fGraph, value);
			_ThrowError(VE_MEMORY_FULL);
			return false;
		}
	}
	else
	{
		// The former value dies after its link is dropped and the new value is in place.
		VJSONGraph::Disconnect(fGraph, found->second.first);
		VJSONValue former(std::move(found->second.first));
		found->second.first = value;
	}
	VJSONValue::CheckAndUpdateJsonStamp(value, fStamp.load(std::memory_order_acquire));
	return true;
}

bool VJSONObject::SetProperties(const std::vector<std::pair<VString, VJSONValue>>& properties)
{
	if (properties.empty())
		return true;
	if (fImplementation != nullptr && fImplementation->IJSON_BeginChangeProperties() == eJSONStatusFailed)
		return false;
	bool ok = true;
	for (const auto& property : properties)
	{
		if (!SetProperty(property.first, property.second, nullptr))
		{
			ok = false;
			break;
		}
	}
	if (fImplementation != nullptr && fImplementation->IJSON_EndChangeProperties() == eJSONStatusFailed)
		ok = false;
	return ok;
}

void VJSONObject::RemoveProperty(const VString& name)
{
	if (fImplementation != nullptr && fImplementation->IJSON_RemoveProperty(this, name) != eJSONStatusNotHandled)
		return;
	RemoveOwnProperty(name);
}

void VJSONObject::RemoveOwnProperty(const VString& name)
{
	VJSONReadWriteLock lock(fLocker, IsSharedGraph());
	_RemoveOwnProperty(name);
}

void VJSONObject::_RemoveOwnProperty(const VString& name)
{
	if (!_CheckUser(fLocker.load(std::memory_order_acquire)))
		return;
	if (VJSONStamp* stamp = fStamp.load(std::memory_order_acquire))
		stamp->Increment();
	auto found = fProperties.find(name);
	if (found == fProperties.end())
		return;
	VJSONGraph::Disconnect(fGraph, found->second.first);
	// The value dies after the map is consistent again, in case its release reaches back here.
	VJSONValue removed(std::move(found->second.first));
	// The ordinals above it keep their order; they are made dense again by the next ordered walk, so
	// removing many properties stays linear.
	fProperties.erase(found);
}

bool VJSONObject::ClearProperty(const VString& name, VDBLanguageContext* context)
{
	VJSONValue value = GetProperty(name, context);
	if (value.IsUndefined())
		return true;
	value.Clear();
	return SetProperty(name, value, context);
}

void VJSONObject::Clear()
{
	if (fImplementation != nullptr)
		fImplementation->IJSON_Clear(this);
	ClearInternalProperties();
}

void VJSONObject::ClearInternalProperties()
{
	PropertyMap removed;
	{
		VJSONReadWriteLock lock(fLocker, IsSharedGraph());
		if (!_CheckUser(fLocker.load(std::memory_order_acquire)))
			return;
		if (VJSONGraph* graph = fGraph)
		{
			for (const auto& entry : fProperties)
				VJSONGraph::Disconnect(graph, entry.second.first);
		}
		removed.swap(fProperties);
		fNextOrdinal = 0;
		if (VJSONStamp* stamp = fStamp.load(std::memory_order_acquire))
			stamp->Increment();
	}
}

EJSONStatus VJSONObject::CallAsFunction(VJSONObject* thisObject, VJSONArray* thisArray,
	std::vector<VJSONValue>* parameters, VJSONValue& result, CDBRyBaseContext* baseContext,
	VDBLanguageContext* context) const
{
	if (fImplementation == nullptr)
		return eJSONStatusNotHandled;
	VJSONFunctionContext call(thisObject, thisArray, parameters, baseContext, context);
	const EJSONStatus status = fImplementation->IJSON_CallAsFunction(this, &call);
	call.GetResult(result);
	return status;
}

}  // namespace velk
