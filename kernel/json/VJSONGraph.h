// The group of JSON objects and arrays linked to one another by container-valued properties or elements.
// Reference counts alone never free containers that hold each other: the group keeps the sum of its
// members' counts and the number of references between members, and empties its members when the only
// reference left from outside is being dropped, so that the whole cycle goes at once.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <initializer_list>
#include <vector>

#include "kernel/VKernelTypes.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"

namespace velk {

class VJSONArray;
class VJSONObject;
class VJSONValue;
class VStorageLocker;

class VELK_API VJSONGraph : public VObject, public IRefCountable
{
public:
	VJSONGraph() = default;
	~VJSONGraph() override = default;

	VJSONGraph(const VJSONGraph&) = delete;
	VJSONGraph& operator=(const VJSONGraph&) = delete;

	// Links the object or array held by value into the owner container (exactly one of ownerObject and
	// ownerArray given), counting the link being made: call it before the value is stored, and Disconnect
	// when the store is given up. Other kinds do nothing. Both end in one group. False, nothing linked,
	// when a new group cannot be allocated (velk 100 raised). The caller holds the graph mutex when
	// either side is shared.
	static bool Connect(VJSONGraph** ownerGraph, const VJSONValue& value, const VJSONObject* ownerObject,
		const VJSONArray* ownerArray);
	static bool Connect(VJSONGraph** ownerGraph, VJSONGraph** valueGraph, const VJSONObject* ownerObject,
		const VJSONArray* ownerArray, const VJSONObject* valueObject, const VJSONArray* valueArray);
	// Unlinks the object or array held by value from a container of graph, before the container drops it.
	// When every other reference to the value comes from inside the group and the value reaches a cycle
	// or shared part, what only that link kept alive is emptied and left to die now.
	static void Disconnect(VJSONGraph* graph, const VJSONValue& value);

	// Set form: adds the container, and every container it reaches that is in no group, to this group (one
	// of another group brings that whole group along): each one's reference count to the total, each link
	// from it to a container to the internal count and to that container's group counter. A container met
	// again (a cycle, or a part shared inside the tree) marks the group as holding a cycle. The walk uses a
	// work list, not the stack. False, nothing changed, when the list cannot be made (velk 100 raised).
	bool CollectObjectReferences(const VJSONObject* object);
	bool CollectArrayReferences(const VJSONArray* array);
	// Both containers (either may be null) in one walk: all or nothing.
	bool CollectReferences(const VJSONObject* object, const VJSONArray* array);
	// Vector form: every container reachable from the start, each once, into objects and arrays; visits counts
	// every reference met, the start's included, and seenTwice tells whether some container was met again.
	// Throws std::bad_alloc when the lists cannot grow.
	static void CollectObjectReferences(VJSONObject* object, std::vector<VJSONObject*>& objects,
		std::vector<VJSONArray*>& arrays, int64& visits, bool& seenTwice);
	static void CollectArrayReferences(VJSONArray* array, std::vector<VJSONObject*>& objects,
		std::vector<VJSONArray*>& arrays, int64& visits, bool& seenTwice);

	// A container whose link was just dropped: when all its other references come from the group, what it
	// reaches is collected (vector form) and, if a cycle or shared part makes that worthwhile and nothing
	// outside holds any of it, broken apart (ReleaseDependenciesIfNecessary).
	static void ReleaseObjectDependenciesIfNecessary(VJSONObject* object);
	static void ReleaseArrayDependenciesIfNecessary(VJSONArray* array);
	// Empties the collected containers when their reference counts add up to expected (every reference
	// is one the walk met); nothing otherwise.
	static void ReleaseDependenciesIfNecessary(VJSONGraph* graph, const std::vector<VJSONObject*>& objects,
		const std::vector<VJSONArray*>& arrays, int64 expected);
	// Called by a member's Release when the group holds a cycle: when the reference being dropped is the
	// only one from outside, every member leaves the group and is emptied, and the group goes. True when
	// it did; the caller must not touch the group afterwards.
	static bool ReleaseGraphDependenciesIfNecessary(VJSONGraph* graph);

	bool HasCycle() const { return fHasCycle; }
	bool IsShared() const { return fShared.load(std::memory_order_acquire); }
	// A member became shared: members' Retain and Release take the graph mutex from now on.
	void SetShared() { fShared.store(true, std::memory_order_release); }
	// Sum of the members' reference counts, and references from members to members.
	int32 GetTotal() const { return fTotal.load(std::memory_order_acquire); }
	int32 GetInternal() const { return fInternal; }
	size_t GetObjectCount() const { return fObjectCount; }
	size_t GetArrayCount() const { return fArrayCount; }

	// Whether a member with this locker field and group changes under the graph mutex: it is shared, or
	// its group holds a shared member.
	static bool _IsInSharedGraph(const std::atomic<VStorageLocker*>& locker, const VJSONGraph* graph)
	{
		return locker.load(std::memory_order_acquire) != nullptr || (graph != nullptr && graph->IsShared());
	}

	// The group's side of a member's Retain and Release; nothing without a group. A release that breaks
	// the group leaves nothing of it to touch afterwards. Without the graph mutex too (an unshared group
	// dropped by two tasks at once), a release tells whether it drops the last reference from outside and
	// counts it down in one atomic step, so that one of two simultaneous last drops always breaks the cycle.
	static void _MemberRetained(VJSONGraph* graph);
	static void _MemberReleasing(VJSONGraph* graph);

	// Bookkeeping of the members themselves.
	void _AddToTotal(int32 delta) { fTotal.fetch_add(delta, std::memory_order_acq_rel); }
	void _AddToInternal(int32 delta) { fInternal += delta; }
	// A dying member leaves (its count is 0, so the total is unchanged) and gives back its reference.
	void _RemoveDyingObject(VJSONObject* object);
	void _RemoveDyingArray(VJSONArray* array);
	// Lowers by one the group counter of every object or array held by the container (for an array, from
	// the element at from) that belongs to this group, and the internal count by their number.
	void _LowerChildLinks(const VJSONObject* object, const VJSONArray* array, size_t from);
	// Calls visit(object, array) for every container held by the container's own values (one of the two
	// given); the caller holds what lock the container needs.
	template <class Visit>
	static void _ForEachChild(const VJSONObject* object, const VJSONArray* array, Visit&& visit);

private:
	VJSONObject*& _Head(const VJSONObject*);
	VJSONArray*& _Head(const VJSONArray*);
	size_t& _Count(const VJSONObject*);
	size_t& _Count(const VJSONArray*);
	template <class Member>
	void _Link(Member* member);
	template <class Member>
	void _Unlink(Member* member);
	// Adds a member and its reference count to the total.
	template <class Member>
	void _Join(Member* member);
	// Unlinks a member that still holds references: they stop counting in the total.
	template <class Member>
	void _Leave(Member* member);
	template <class Member>
	void _MoveMembersFrom(VJSONGraph* other);
	// The set form over several starts (null ones skipped).
	struct Start
	{
		const VJSONObject* fObject;
		const VJSONArray* fArray;
	};
	bool _Collect(std::initializer_list<Start> starts);
	// Walks from the containers pending with them as a work list: visit(container) answers whether the walk
	// goes on into the containers it holds, which are read under a shared container's critical section.
	// Throws std::bad_alloc when the list cannot grow.
	template <class Visit>
	static void _Walk(std::vector<Start>& pending, Visit&& visit);
	// The vector form from one start.
	static void _CollectVector(Start start, std::vector<VJSONObject*>& objects, std::vector<VJSONArray*>& arrays,
		int64& visits, bool& seenTwice);
	// Moves every member of other here.
	void _Merge(VJSONGraph* other);

	VJSONObject* fFirstObject = nullptr;
	VJSONArray* fFirstArray = nullptr;
	size_t fObjectCount = 0;
	size_t fArrayCount = 0;
	std::atomic<int32> fTotal{0};
	int32 fInternal = 0;
	bool fHasCycle = false;
	std::atomic<bool> fShared{false};
};

// Holds a shared container's locker critical section while the group walks it; nothing when unshared.
class VELK_API VSharedObjectLocker
{
public:
	explicit VSharedObjectLocker(VStorageLocker* locker);
	~VSharedObjectLocker();
	VSharedObjectLocker(const VSharedObjectLocker&) = delete;
	VSharedObjectLocker& operator=(const VSharedObjectLocker&) = delete;

private:
	VStorageLocker* fLocker;
};

}  // namespace velk
