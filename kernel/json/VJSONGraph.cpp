#include "kernel/json/VJSONGraph.h"

#include <algorithm>
#include <new>
#include <unordered_set>

#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VStorageLocker.h"
#include "runtime/VError.h"

namespace velk {

namespace {

bool IsSharedMember(const VJSONObject* object)
{
	return object != nullptr && object->IsShared();
}

bool IsSharedMember(const VJSONArray* array)
{
	return array != nullptr && array->_GetLockerField().load(std::memory_order_acquire) != nullptr;
}

}  // namespace

template <class Visit>
void VJSONGraph::_ForEachChild(const VJSONObject* object, const VJSONArray* array, Visit&& visit)
{
	auto visitValue = [&](const VJSONValue& value) {
		if (VJSONObject* child = value.GetObject())
			visit(child, static_cast<VJSONArray*>(nullptr));
		else if (VJSONArray* child = value.GetArray())
			visit(static_cast<VJSONObject*>(nullptr), child);
	};
	if (object != nullptr)
		object->fProperties.ForEach([&visitValue](const VJSONPropertyTable::Entry& entry) { visitValue(entry.fValue); });
	else if (array != nullptr)
	{
		for (const VJSONValue& value : array->fElements)
			visitValue(value);
	}
}

void VJSONGraph::_LowerChildLinks(const VJSONObject* object, const VJSONArray* array, size_t from)
{
	auto lower = [this](const VJSONValue& value) {
		if (VJSONObject* child = value.GetObject(); child != nullptr && child->fGraph == this)
		{
			if (child->fInternalRefCount > 0)
				--child->fInternalRefCount;
			--fInternal;
		}
		else if (VJSONArray* child = value.GetArray(); child != nullptr && child->fGraph == this)
		{
			if (child->fInternalRefCount > 0)
				--child->fInternalRefCount;
			--fInternal;
		}
	};
	if (object != nullptr)
		object->fProperties.ForEach([&lower](const VJSONPropertyTable::Entry& entry) { lower(entry.fValue); });
	else if (array != nullptr)
	{
		for (size_t i = from; i < array->fElements.size(); ++i)
			lower(array->fElements[i]);
	}
}

VSharedObjectLocker::VSharedObjectLocker(VStorageLocker* locker) : fLocker(locker)
{
	if (fLocker != nullptr)
		fLocker->GetCriticalSection().Lock();
}

VSharedObjectLocker::~VSharedObjectLocker()
{
	if (fLocker != nullptr)
		fLocker->GetCriticalSection().Unlock();
}

// ---------------------------------------------------------------------------------------------------------
// Membership

VJSONObject*& VJSONGraph::_Head(const VJSONObject*)
{
	return fFirstObject;
}

VJSONArray*& VJSONGraph::_Head(const VJSONArray*)
{
	return fFirstArray;
}

size_t& VJSONGraph::_Count(const VJSONObject*)
{
	return fObjectCount;
}

size_t& VJSONGraph::_Count(const VJSONArray*)
{
	return fArrayCount;
}

template <class Member>
void VJSONGraph::_Link(Member* member)
{
	Member*& first = _Head(member);
	member->fGraph = this;
	member->fGraphPrevious = nullptr;
	member->fGraphNext = first;
	if (first != nullptr)
		first->fGraphPrevious = member;
	first = member;
	++_Count(member);
	Retain();
}

template <class Member>
void VJSONGraph::_Unlink(Member* member)
{
	if (member->fGraphPrevious != nullptr)
		member->fGraphPrevious->fGraphNext = member->fGraphNext;
	else
		_Head(member) = member->fGraphNext;
	if (member->fGraphNext != nullptr)
		member->fGraphNext->fGraphPrevious = member->fGraphPrevious;
	member->fGraphPrevious = nullptr;
	member->fGraphNext = nullptr;
	member->fGraph = nullptr;
	member->fInternalRefCount = 0;
	--_Count(member);
}

template <class Member>
void VJSONGraph::_Join(Member* member)
{
	_Link(member);
	_AddToTotal(member->GetRefCount());
	if (IsSharedMember(member))
		SetShared();
}

template <class Member>
void VJSONGraph::_Leave(Member* member)
{
	_AddToTotal(-member->GetRefCount());
	_Unlink(member);
	Release();
}

void VJSONGraph::_RemoveDyingObject(VJSONObject* object)
{
	_Unlink(object);
	Release();
}

void VJSONGraph::_RemoveDyingArray(VJSONArray* array)
{
	_Unlink(array);
	Release();
}

template <class Member>
void VJSONGraph::_MoveMembersFrom(VJSONGraph* other)
{
	while (Member* member = other->_Head(static_cast<Member*>(nullptr)))
	{
		const uint32 counter = member->fInternalRefCount;
		other->_Unlink(member);
		_Link(member);
		member->fInternalRefCount = counter;
		other->Release();
	}
}

void VJSONGraph::_Merge(VJSONGraph* other)
{
	// Kept alive until its last member has moved: each member holds one of its references.
	other->Retain();
	fHasCycle = fHasCycle || other->fHasCycle;
	if (other->IsShared())
		SetShared();
	fTotal.fetch_add(other->fTotal.exchange(0, std::memory_order_acq_rel), std::memory_order_acq_rel);
	fInternal += other->fInternal;
	other->fInternal = 0;
	_MoveMembersFrom<VJSONObject>(other);
	_MoveMembersFrom<VJSONArray>(other);
	other->Release();
}

void VJSONGraph::_MemberRetained(VJSONGraph* graph)
{
	if (graph != nullptr)
		graph->_AddToTotal(1);
}

void VJSONGraph::_MemberReleasing(VJSONGraph* graph)
{
	if (graph == nullptr)
		return;
	// Whether this is the last reference from outside and the count going down are one step: two tasks
	// dropping the last two at once would otherwise both see the other's still counted, and neither
	// break the cycle. The total is taken down only if it is still what the test saw.
	int32 total = graph->fTotal.load(std::memory_order_acquire);
	for (;;)
	{
		if (graph->HasCycle() && graph->fInternal + 1 == total && ReleaseGraphDependenciesIfNecessary(graph))
			return;
		if (graph->fTotal.compare_exchange_weak(total, total - 1, std::memory_order_acq_rel, std::memory_order_acquire))
			return;
	}
}

// ---------------------------------------------------------------------------------------------------------
// Collecting

bool VJSONGraph::CollectObjectReferences(const VJSONObject* object)
{
	return _Collect({Start{object, nullptr}});
}

bool VJSONGraph::CollectArrayReferences(const VJSONArray* array)
{
	return _Collect({Start{nullptr, array}});
}

bool VJSONGraph::CollectReferences(const VJSONObject* object, const VJSONArray* array)
{
	return _Collect({Start{object, nullptr}, Start{nullptr, array}});
}

namespace {

bool HasContainerChild(const VJSONObject* object, const VJSONArray* array)
{
	bool found = false;
	VJSONGraph::_ForEachChild(object, array, [&found](VJSONObject*, VJSONArray*) { found = true; });
	return found;
}

template <class Member>
VJSONGraph* GraphOf(const Member* member)
{
	return member != nullptr ? member->GetGraph() : nullptr;
}

}  // namespace

bool VJSONGraph::_Collect(std::initializer_list<Start> starts)
{
	// Mostly each start is in a group already, or holds no container: then nothing needs a list.
	bool walk = false;
	for (const Start& start : starts)
	{
		const VJSONGraph* graph = start.fObject != nullptr ? GraphOf(start.fObject) : GraphOf(start.fArray);
		walk = walk || (graph == nullptr && HasContainerChild(start.fObject, start.fArray));
	}
	if (!walk)
	{
		for (const Start& start : starts)
		{
			if (start.fObject == nullptr && start.fArray == nullptr)
				continue;
			VJSONGraph* graph = start.fObject != nullptr ? GraphOf(start.fObject) : GraphOf(start.fArray);
			if (graph == this)
				fHasCycle = true;
			else if (graph != nullptr)
				_Merge(graph);
			else if (start.fObject != nullptr)
				_Join(const_cast<VJSONObject*>(start.fObject));
			else
				_Join(const_cast<VJSONArray*>(start.fArray));
		}
		return true;
	}

	// Otherwise first the walk, which may allocate and changes nothing: the containers in no group that are to join,
	// and the groups met that are to merge. Then the changes, which cannot fail.
	std::vector<Start> joining;
	std::vector<VJSONGraph*> merging;
	bool metAgain = false;
	try
	{
		std::unordered_set<const void*> seen;
		std::vector<Start> pending(starts.begin(), starts.end());
		_Walk(pending, [&](const Start& next) {
			const void* key = next.fObject != nullptr ? static_cast<const void*>(next.fObject) : next.fArray;
			VJSONGraph* graph = next.fObject != nullptr ? GraphOf(next.fObject) : GraphOf(next.fArray);
			if (graph == this)
			{
				metAgain = true;
				return false;
			}
			if (graph != nullptr)
			{
				if (std::find(merging.begin(), merging.end(), graph) != merging.end())
					metAgain = true;
				else
					merging.push_back(graph);
				return false;
			}
			if (!seen.insert(key).second)
			{
				metAgain = true;
				return false;
			}
			joining.push_back(next);
			return true;
		});
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}

	for (VJSONGraph* other : merging)
		_Merge(other);
	for (const Start& member : joining)
	{
		if (member.fObject != nullptr)
			_Join(const_cast<VJSONObject*>(member.fObject));
		else
			_Join(const_cast<VJSONArray*>(member.fArray));
	}
	// The links held by the containers that joined now count inside the group.
	for (const Start& member : joining)
	{
		VStorageLocker* locker = member.fObject != nullptr
			? member.fObject->_GetLockerField().load(std::memory_order_acquire)
			: member.fArray->_GetLockerField().load(std::memory_order_acquire);
		VSharedObjectLocker lock(locker);
		_ForEachChild(member.fObject, member.fArray, [this](VJSONObject* object, VJSONArray* array) {
			++fInternal;
			if (object != nullptr)
				++object->fInternalRefCount;
			else
				++array->fInternalRefCount;
		});
	}
	if (metAgain)
		fHasCycle = true;
	return true;
}

void VJSONGraph::CollectObjectReferences(VJSONObject* object, std::vector<VJSONObject*>& objects,
	std::vector<VJSONArray*>& arrays, int64& visits, bool& seenTwice)
{
	_CollectVector(Start{object, nullptr}, objects, arrays, visits, seenTwice);
}

void VJSONGraph::CollectArrayReferences(VJSONArray* array, std::vector<VJSONObject*>& objects,
	std::vector<VJSONArray*>& arrays, int64& visits, bool& seenTwice)
{
	_CollectVector(Start{nullptr, array}, objects, arrays, visits, seenTwice);
}

void VJSONGraph::_CollectVector(Start start, std::vector<VJSONObject*>& objects, std::vector<VJSONArray*>& arrays,
	int64& visits, bool& seenTwice)
{
	std::unordered_set<const void*> seen;
	std::vector<Start> pending{start};
	_Walk(pending, [&](const Start& next) {
		++visits;
		if (!seen.insert(next.fObject != nullptr ? static_cast<const void*>(next.fObject) : next.fArray).second)
		{
			seenTwice = true;
			return false;
		}
		if (next.fObject != nullptr)
			objects.push_back(const_cast<VJSONObject*>(next.fObject));
		else
			arrays.push_back(const_cast<VJSONArray*>(next.fArray));
		return true;
	});
}

template <class Visit>
void VJSONGraph::_Walk(std::vector<Start>& pending, Visit&& visit)
{
	while (!pending.empty())
	{
		const Start next = pending.back();
		pending.pop_back();
		if ((next.fObject == nullptr && next.fArray == nullptr) || !visit(next))
			continue;
		VStorageLocker* locker = next.fObject != nullptr
			? next.fObject->_GetLockerField().load(std::memory_order_acquire)
			: next.fArray->_GetLockerField().load(std::memory_order_acquire);
		VSharedObjectLocker lock(locker);
		_ForEachChild(next.fObject, next.fArray,
			[&pending](VJSONObject* object, VJSONArray* array) { pending.push_back(Start{object, array}); });
	}
}

// ---------------------------------------------------------------------------------------------------------
// Linking

bool VJSONGraph::Connect(VJSONGraph** ownerGraph, const VJSONValue& value, const VJSONObject* ownerObject,
	const VJSONArray* ownerArray)
{
	if (VJSONObject* object = value.GetObject())
		return Connect(ownerGraph, &object->fGraph, ownerObject, ownerArray, object, nullptr);
	if (VJSONArray* array = value.GetArray())
		return Connect(ownerGraph, &array->fGraph, ownerObject, ownerArray, nullptr, array);
	return true;
}

bool VJSONGraph::Connect(VJSONGraph** ownerGraph, VJSONGraph** valueGraph, const VJSONObject* ownerObject,
	const VJSONArray* ownerArray, const VJSONObject* valueObject, const VJSONArray* valueArray)
{
	VJSONGraph* g1 = *ownerGraph;
	VJSONGraph* g2 = *valueGraph;
	VJSONGraph* joined;
	if (g1 == nullptr && g2 == nullptr)
	{
		// The only case that allocates, so nothing has changed when it fails.
		VJSONGraph* graph = new (std::nothrow) VJSONGraph();
		if (graph == nullptr)
		{
			_ThrowError(VE_MEMORY_FULL);
			return false;
		}
		if (ownerGraph == valueGraph)
			graph->fHasCycle = true;
		if (!graph->_Collect({Start{ownerObject, ownerArray}, Start{valueObject, valueArray}}))
		{
			graph->Release();
			return false;
		}
		// The members hold the group now.
		graph->Release();
		joined = graph;
	}
	else if (g1 == g2)
	{
		g1->fHasCycle = true;
		joined = g1;
	}
	else if (g1 == nullptr)
	{
		if (!g2->CollectReferences(ownerObject, ownerArray))
			return false;
		joined = g2;
	}
	else if (g2 == nullptr)
	{
		if (!g1->CollectReferences(valueObject, valueArray))
			return false;
		joined = g1;
	}
	else
	{
		// The smaller group moves into the larger one, so building a tree from its leaves stays linear.
		if (g1->fObjectCount + g1->fArrayCount >= g2->fObjectCount + g2->fArrayCount)
		{
			g1->_Merge(g2);
			joined = g1;
		}
		else
		{
			g2->_Merge(g1);
			joined = g2;
		}
	}
	// The link being made.
	joined->fInternal += 1;
	if (valueObject != nullptr)
		++valueObject->fInternalRefCount;
	else if (valueArray != nullptr)
		++valueArray->fInternalRefCount;
	return true;
}

void VJSONGraph::Disconnect(VJSONGraph* graph, const VJSONValue& value)
{
	if (graph == nullptr)
		return;
	if (VJSONObject* object = value.GetObject())
	{
		if (object->fGraph != graph)
			return;
		if (object->fInternalRefCount > 0)
			--object->fInternalRefCount;
		--graph->fInternal;
		ReleaseObjectDependenciesIfNecessary(object);
	}
	else if (VJSONArray* array = value.GetArray())
	{
		if (array->fGraph != graph)
			return;
		if (array->fInternalRefCount > 0)
			--array->fInternalRefCount;
		--graph->fInternal;
		ReleaseArrayDependenciesIfNecessary(array);
	}
}

// ---------------------------------------------------------------------------------------------------------
// Breaking apart

namespace {

template <class Member>
void ReleaseMemberDependencies(Member* member, VJSONObject* object, VJSONArray* array)
{
	VJSONGraph* graph = member->GetGraph();
	const uint32 counter = member->GetInternalRefCount();
	if (graph == nullptr || counter == 0 || int64(counter) != int64(member->GetRefCount()) - 1)
		return;
	std::vector<VJSONObject*> objects;
	std::vector<VJSONArray*> arrays;
	int64 visits = 0;
	bool seenTwice = false;
	try
	{
		if (object != nullptr)
			VJSONGraph::CollectObjectReferences(object, objects, arrays, visits, seenTwice);
		else
			VJSONGraph::CollectArrayReferences(array, objects, arrays, visits, seenTwice);
	}
	catch (const std::bad_alloc&)
	{
		// Left to the group, which frees it when the group goes.
		return;
	}
	if (seenTwice)
		VJSONGraph::ReleaseDependenciesIfNecessary(graph, objects, arrays, visits);
}

}  // namespace

void VJSONGraph::ReleaseObjectDependenciesIfNecessary(VJSONObject* object)
{
	if (object != nullptr)
		ReleaseMemberDependencies(object, object, nullptr);
}

void VJSONGraph::ReleaseArrayDependenciesIfNecessary(VJSONArray* array)
{
	if (array != nullptr)
		ReleaseMemberDependencies(array, nullptr, array);
}

void VJSONGraph::ReleaseDependenciesIfNecessary(VJSONGraph* graph, const std::vector<VJSONObject*>& objects,
	const std::vector<VJSONArray*>& arrays, int64 expected)
{
	if (graph == nullptr)
		return;
	int64 sum = 0;
	for (const VJSONObject* object : objects)
		sum += object->GetRefCount();
	for (const VJSONArray* array : arrays)
		sum += array->GetRefCount();
	if (sum != expected)
		return;
	for (const VJSONObject* object : objects)
	{
		if (object->fGraph != graph)
			return;
	}
	for (const VJSONArray* array : arrays)
	{
		if (array->fGraph != graph)
			return;
	}

	graph->Retain();
	// Every reference held by the leaving containers points inside the leaving set: they stop counting.
	auto dropLinks = [graph](VJSONObject* object, VJSONArray* array) {
		VJSONGraph::_ForEachChild(object, array, [graph](VJSONObject*, VJSONArray*) { --graph->fInternal; });
	};
	for (VJSONObject* object : objects)
		dropLinks(object, nullptr);
	for (VJSONArray* array : arrays)
		dropLinks(nullptr, array);
	for (VJSONObject* object : objects)
	{
		graph->_Leave(object);
		object->Retain();
	}
	for (VJSONArray* array : arrays)
	{
		graph->_Leave(array);
		array->Retain();
	}
	for (VJSONObject* object : objects)
		object->ClearFromGraph();
	for (VJSONArray* array : arrays)
		array->ClearFromGraph();
	for (VJSONObject* object : objects)
		object->Release();
	for (VJSONArray* array : arrays)
		array->Release();
	graph->Release();
}

bool VJSONGraph::ReleaseGraphDependenciesIfNecessary(VJSONGraph* graph)
{
	if (graph == nullptr || graph->fInternal + 1 != graph->GetTotal())
		return false;
	graph->Retain();
	// The lists are taken whole; the members stay chained through their links until each is released.
	VJSONObject* objects = graph->fFirstObject;
	VJSONArray* arrays = graph->fFirstArray;
	const size_t memberCount = graph->fObjectCount + graph->fArrayCount;
	graph->fFirstObject = nullptr;
	graph->fFirstArray = nullptr;
	graph->fObjectCount = 0;
	graph->fArrayCount = 0;
	graph->fTotal.store(0, std::memory_order_release);
	graph->fInternal = 0;
	for (VJSONObject* object = objects; object != nullptr; object = object->fGraphNext)
	{
		object->fGraph = nullptr;
		object->fInternalRefCount = 0;
		object->Retain();
	}
	for (VJSONArray* array = arrays; array != nullptr; array = array->fGraphNext)
	{
		array->fGraph = nullptr;
		array->fInternalRefCount = 0;
		array->Retain();
	}
	for (VJSONObject* object = objects; object != nullptr; object = object->fGraphNext)
		object->ClearFromGraph();
	for (VJSONArray* array = arrays; array != nullptr; array = array->fGraphNext)
		array->ClearFromGraph();
	while (objects != nullptr)
	{
		VJSONObject* next = objects->fGraphNext;
		objects->fGraphPrevious = nullptr;
		objects->fGraphNext = nullptr;
		objects->Release();
		objects = next;
	}
	while (arrays != nullptr)
	{
		VJSONArray* next = arrays->fGraphNext;
		arrays->fGraphPrevious = nullptr;
		arrays->fGraphNext = nullptr;
		arrays->Release();
		arrays = next;
	}
	for (size_t i = 0; i < memberCount; ++i)
		graph->Release();
	graph->Release();
	return true;
}

}  // namespace velk
