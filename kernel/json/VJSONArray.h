// A JSON array: a reference-counted, growable sequence of JSON values indexed from 0, that can be shared
// between tasks under a storage locker.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <unordered_set>
#include <vector>

#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONRoomAllocator.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/json/VStorageLocker.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"

namespace velk {

class VCompareOptions;

constexpr VError VE_JSON_SORT_FAILED = MakeVError(kVELK_SIGNATURE, 917);

// The caller's ordering for VJSONArray::Sort.
class VELK_API IJSONValueComparator
{
public:
	virtual ~IJSONValueComparator() = default;
	// True when a is to come before b.
	virtual bool IsLessThan(const VJSONValue& a, const VJSONValue& b) = 0;
};

class VELK_API VJSONArray : public VObject, public IRefCountable, public VJSONRoomAllocated
{
public:
	// The elements: a standard vector whose first storage may lie in the array's own block.
	using ElementList = std::vector<VJSONValue, VJSONRoomAllocator<VJSONValue>>;

	// Empty, under the given locker (retained; null: not shared).
	explicit VJSONArray(VStorageLocker* locker);
	// shared: with a new provisional locker of its own (none when memory is short, velk 100).
	explicit VJSONArray(bool shared = false);
	~VJSONArray() override;

	VJSONArray(const VJSONArray&) = delete;
	VJSONArray& operator=(const VJSONArray&) = delete;

	// For readers that know how many elements a new array will hold: the array and room for count elements
	// in one block, so that they take no block of their own. Null (velk 100 raised) when memory is short.
	static VJSONArray* _NewWithRoom(VStorageLocker* locker, size_t count);

	// As for objects: counted in the array's group, which a release may break apart.
	int32 Retain(const char* label = nullptr) const override;
	int32 Release(const char* label = nullptr) const override;

	// Reading, under the read lock of a shared array; the reader need not be the locker's user.

	size_t GetCount() const;
	// A copy of the element (fresh stamp); undefined out of range.
	VJSONValue GetAt(size_t index) const;
	bool GetAt(size_t index, VJSONValue& out) const;
	// False when memory is short (velk 100), out unchanged.
	bool GetValues(std::vector<VJSONValue>& out) const;
	// The elements' texts joined with ','. velk 900 when the array contains itself (out not set), velk 108
	// for arrays nested deeper than kJSONMaxNestingDepth, velk 107 when the text cannot be made.
	VError GetString(VString& out, std::unordered_set<const VJSONArray*>* visited = nullptr) const;
	// The first element at or after start that compares equal to value.
	bool Find(const VJSONValue& value, const VCompareOptions& options, size_t start, size_t* foundIndex) const;
	// False, with velk 108 raised, for trees nested deeper than kJSONMaxNestingDepth.
	bool DeepEqualTo(const VJSONArray* other, const VCompareOptions& options) const;
	bool _DeepEqualTo(const VJSONArray* other, const VCompareOptions& options, VJSONComparedPairs& pairs) const;

	// Writing. A shared array is changed only by the task that uses its locker (RyRT -10720 otherwise);
	// a container stored into it is first put under its locker (the Assign errors). A failed change
	// leaves the array as it was; growth the allocator refuses is velk 100.

	bool Push(const VJSONValue& value);
	// grow: an index at or past the end first grows the array with nulls. Without growth, or at the
	// largest index, RyRT -10713.
	bool SetAt(size_t index, const VJSONValue& value, bool grow = false);
	// Growing appends copies of one VJSONValue(type): one new container shared by all new elements.
	bool Resize(size_t count, JSONType type);
	// Removes up to count elements from index; nothing when index is past the end.
	void RemoveAt(size_t index, size_t count = 1);
	void Clear();
	// Takes over the caller's values (left empty) as the whole content.
	bool SwapValues(std::vector<VJSONValue>& values);
	// Appends the other array's elements; for a shared array a refusal stops with false, the elements
	// appended so far staying.
	bool Concatenate(const VJSONArray& other);
	// Orders the elements by the comparator. The order of equal elements is left open. velk 917, array
	// unchanged, when the comparator throws or changes the element count.
	void Sort(IJSONValueComparator* comparator);
	// The elements' texts joined by separator: null and undefined give "null" with nullAsText and are
	// skipped otherwise; empty texts are kept only with keepEmpty.
	void JoinAsString(const VString& separator, VString& out, bool keepEmpty, bool nullAsText) const;
	// {"ranges": [{"start": i, "end": j}, ...]}: the runs of rows found in the selection array.
	VJSONValue GetSelectedRows(const VJSONValue& selection) const;
	// The deep copy of this array into out, through the cloner (one copy per container; in its modes a
	// shared array is kept, or the copies go under its locker). Returns the first error; the elements
	// copied before it stay in the copy.
	VError Clone(VJSONValue& out, VJSONCloner& cloner) const;

	// Shared storage.
	VRefPtr<VStorageLocker> GetStorageLocker() const;
	void SetStorageLocker(VStorageLocker* locker);
	void _SetStorageLocker(VStorageLocker* locker);
	void _SetStorageLockerDeep(VStorageLocker* locker);
	bool _CanMakeShared(VStorageLocker* locker) const;
	void MakeValueSharedIfNecessary(VJSONValue& value);
	int32 GetSharedID() const;
	bool IsSharedGraph() const;
	void MakeGraphShared() const;
	const std::atomic<VStorageLocker*>& _GetLockerField() const { return fLocker; }

	// Cycle groups, as for objects.
	VJSONGraph* GetGraph() const { return fGraph; }
	uint32 GetInternalRefCount() const { return fInternalRefCount; }
	// Lowers the group links of the object or array elements from index on; returns the group.
	VJSONGraph* DisconnectAll(size_t from = 0);
	// Drops the group links of the elements, then destroys them from the last to the first.
	void ClearFromGraph();

	// For readers that build a new, unshared array from values of their own (the text parser, the binary
	// reader, the deep copy): as Push and SwapValues, taking the values over. While neither the array nor
	// a value is in a group, the values join none either: a freshly built tree cannot hold a cycle, so
	// there is nothing to link. False with velk 100 when memory is short.
	bool _PushNew(VJSONValue&& value);
	bool _SwapNewValues(std::vector<VJSONValue>& values);

	// The elements as they are, without locking: for walks that hold what lock they need.
	const ElementList& _GetElements() const { return fElements; }

	// Stamps.
	void SetJSONStamp(VJSONStamp* stamp);
	VRefPtr<VJSONStamp> GetJSONStamp() const;
	VJSONStamp* GetJSONStampPointer() const { return fStamp.load(std::memory_order_acquire); }
	uint32 GetStampAt(size_t index) const;
	void TouchStampAt(size_t index);

	// Diagnostics: arrays made and destroyed on the monitored task (0 = off).
	static std::atomic<int32> sTaskToMonitor;
	static std::atomic<int32> sTaskCounter;

private:
	friend class VJSONGraph;

	bool _CheckUser(VStorageLocker* locker) const;
	bool _NeedsGraphMutex(bool valueShared) const;
	// Links the containers among values into the group; on failure none stays linked (velk 100).
	bool _ConnectAll(const VJSONValue* values, size_t count);
	// Unlinks the containers among values, which the array is about to drop.
	void _DisconnectValues(const VJSONValue* values, size_t count);
	// The user check and the sharing of a stored container, under the write lock.
	bool _PrepareStore(VStorageLocker* locker, const VJSONValue& value);
	// Moves values into taken, made with the array's room when the array holds nothing yet; false with
	// velk 100, values untouched, when the room cannot be made.
	bool _TakeValues(std::vector<VJSONValue>& values, ElementList& taken);
	void _IncrementStamp();

	// Room for the elements in the array's block, when it was made with some.
	VJSONTrailingRoom fRoom;
	ElementList fElements;
	mutable VJSONGraph* fGraph = nullptr;
	mutable VJSONArray* fGraphPrevious = nullptr;
	mutable VJSONArray* fGraphNext = nullptr;
	mutable uint32 fInternalRefCount = 0;
	std::atomic<VStorageLocker*> fLocker{nullptr};
	std::atomic<VJSONStamp*> fStamp{nullptr};
	int32 fCreatorTask = 0;
};

}  // namespace velk
