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

VJSONObject* VJSONObject::_NewWithRoom(VJSONObject* classObject, VStorageLocker* locker, size_t count)
{
	static_assert(sizeof(VJSONObject) % alignof(VJSONPropertyTable::Entry) == 0, "the room follows the object");
	using Entry = VJSONPropertyTable::Entry;
	void* block = AllocateWithRoom(sizeof(VJSONObject), sizeof(Entry), count);
	if (block == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	VJSONObject* object = new (block) VJSONObject(classObject, nullptr, locker, false);
	object->fRoom.Set(static_cast<char*>(block) + sizeof(VJSONObject), count * sizeof(Entry));
	object->fProperties._UseRoom(&object->fRoom);
	return object;
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
	if (fGraph != nullptr)
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
	// Nobody else reaches a dying container: its fields are read and cleared without exchanges.
	if (VStorageLocker* locker = fLocker.load(std::memory_order_acquire))
	{
		fLocker.store(nullptr, std::memory_order_relaxed);
		locker->Release();
	}
	if (VJSONStamp* stamp = fStamp.load(std::memory_order_acquire))
	{
		fStamp.store(nullptr, std::memory_order_relaxed);
		stamp->Release();
	}
	if (fCreatorTask != 0 && fCreatorTask == VTask::GetCurrentID())
		sTaskCounter.fetch_sub(1, std::memory_order_relaxed);
	// The containers of the properties are released once this object is gone, from a list rather than
	// from inside this destructor, so that freeing a deep tree does not recurse.
	bool anyContainer = false;
	fProperties.ForEach([&anyContainer](const VJSONPropertyTable::Entry& entry) {
		anyContainer = anyContainer || entry.fValue.IsObject() || entry.fValue.IsArray();
	});
	if (anyContainer)
	{
		StJSONDeferredRelease release;
		fProperties.ForEach([&release](VJSONPropertyTable::Entry& entry) { release.Take(entry.fValue); });
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
	VJSONPropertyTable removed;
	removed.Swap(fProperties);
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
	const VJSONPropertyTable::Entry* found = fProperties.Find(name);
	if (found == nullptr)
		return VJSONValue(JSON_undefined);
	return found->fValue;
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
	const VJSONPropertyTable::Entry* found = fProperties.Find(name);
	if (found == nullptr || found->fValue.GetObject() != expected)
		return nullptr;
	return VRefPtr<VJSONObject>(found->fValue.GetObject());
}

bool VJSONObject::HasOwnProperty(const VString& name) const
{
	VJSONReadLock lock(fLocker);
	return _HasOwnProperty(name);
}

bool VJSONObject::_HasOwnProperty(const VString& name) const
{
	return _IsLockerID(name) || fProperties.Find(name) != nullptr;
}

VJSONObject::PropertyMap VJSONObject::GetInternalProperties() const
{
	VJSONReadLock lock(fLocker);
	try
	{
		PropertyMap copy;
		copy.max_load_factor(1.0f);
		copy.reserve(fProperties.Count());
		uint64 ordinal = 0;
		fProperties.ForEach([&copy, &ordinal](const VJSONPropertyTable::Entry& entry) {
			copy.emplace(entry.GetName(), std::make_pair(entry.fValue, ordinal++));
		});
		return copy;
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
	return fProperties.Count();
}

bool VJSONObject::GetPropertyNamesInOrder(std::vector<VString>& names) const
{
	VJSONReadLock lock(fLocker);
	try
	{
		std::vector<VString> ordered;
		ordered.reserve(fProperties.Count());
		fProperties.ForEach([&ordered](const VJSONPropertyTable::Entry& entry) { ordered.push_back(entry.GetName()); });
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
	// The table keeps the names in insertion order, which is as good an order as any.
	return GetPropertyNamesInOrder(names);
}

void VJSONObject::_GetValuesInOrder(std::vector<VJSONValue>& values) const
{
	values.clear();
	values.reserve(fProperties.Count());
	fProperties.ForEach([&values](const VJSONPropertyTable::Entry& entry) { values.push_back(entry.fValue); });
}

int64 VJSONObject::GetPropertyOrdinal(const VString& name) const
{
	VJSONReadLock lock(fLocker);
	const VJSONPropertyTable::Entry* found = fProperties.Find(name);
	return found == nullptr ? -1 : int64(fProperties.Rank(found));
}

bool VJSONObject::IsEmpty() const
{
	VJSONReadLock lock(fLocker);
	if (!fProperties.IsEmpty())
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
	if (!_StoreOwnProperty(name, VJSONValue(value)))
	{
		VJSONGraph::Disconnect(fGraph, value);
		return false;
	}
	VJSONValue::CheckAndUpdateJsonStamp(value, fStamp.load(std::memory_order_acquire));
	return true;
}

bool VJSONObject::_StoreOwnProperty(const VString& name, VJSONValue&& value)
{
	VJSONPropertyTable::Entry* found = fProperties.Find(name);
	if (found == nullptr)
	{
		try
		{
			return fProperties.Append(name, std::move(value));
		}
		catch (const std::bad_alloc&)
		{
			_ThrowError(VE_MEMORY_FULL);
			return false;
		}
	}
	// The former value dies after its link is dropped and the new value is in place.
	VJSONGraph::Disconnect(fGraph, found->fValue);
	VJSONValue former(std::move(found->fValue));
	found->fValue = std::move(value);
	return true;
}

bool VJSONObject::_IsPlainStore(const VJSONValue& value) const
{
	// A value in a group, or shared, is linked the ordinary way.
	if (const VJSONObject* object = value.GetObject(); object != nullptr && (object->fGraph != nullptr || object->IsSharedGraph()))
		return false;
	if (const VJSONArray* array = value.GetArray(); array != nullptr && (array->GetGraph() != nullptr || array->IsSharedGraph()))
		return false;
	return fLocker.load(std::memory_order_relaxed) == nullptr && fStamp.load(std::memory_order_relaxed) == nullptr
		&& fGraph == nullptr;
}

bool VJSONObject::_SetNewOwnProperty(const VString& name, VJSONValue&& value)
{
	if (!_IsPlainStore(value))
	{
		VJSONReadWriteLock lock(fLocker, _NeedsGraphMutex(value));
		return _SetOwnProperty(name, value);
	}
	return _StoreOwnProperty(name, std::move(value));
}

bool VJSONObject::_SetNewOwnProperties(std::vector<VJSONPropertyTable::Entry>& properties)
{
	bool plain = fProperties.IsEmpty();
	for (size_t i = 0; plain && i < properties.size(); ++i)
		plain = _IsPlainStore(properties[i].fValue);
	if (plain)
	{
		try
		{
			fProperties.AdoptEntries(properties);
			return true;
		}
		catch (const std::bad_alloc&)
		{
			_ThrowError(VE_MEMORY_FULL);
			properties.clear();
			return false;
		}
	}
	bool stored = true;
	for (VJSONPropertyTable::Entry& property : properties)
		stored = stored && _SetNewOwnProperty(property, std::move(property.fValue));
	properties.clear();
	return stored;
}

bool VJSONObject::_SetNewOwnProperty(const VJSONPropertyTable::Entry& named, VJSONValue&& value)
{
	if (!_IsPlainStore(value))
	{
		VJSONReadWriteLock lock(fLocker, _NeedsGraphMutex(value));
		return _SetOwnProperty(named.GetName(), value);
	}
	if (VJSONPropertyTable::Entry* found = fProperties.Find(named.GetNameUnits(), named.GetNameLength()))
	{
		VJSONValue former(std::move(found->fValue));
		found->fValue = std::move(value);
		return true;
	}
	try
	{
		fProperties.AppendSharingName(named, std::move(value));
		return true;
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
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
	VJSONPropertyTable::Entry* found = fProperties.Find(name);
	if (found == nullptr)
		return;
	VJSONGraph::Disconnect(fGraph, found->fValue);
	// The value dies after the table is consistent again, in case its release reaches back here.
	VJSONValue removed;
	fProperties.Remove(found, removed);
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
	VJSONPropertyTable removed;
	{
		VJSONReadWriteLock lock(fLocker, IsSharedGraph());
		if (!_CheckUser(fLocker.load(std::memory_order_acquire)))
			return;
		if (VJSONGraph* graph = fGraph)
		{
			fProperties.ForEach(
				[graph](const VJSONPropertyTable::Entry& entry) { VJSONGraph::Disconnect(graph, entry.fValue); });
		}
		removed.Swap(fProperties);
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
