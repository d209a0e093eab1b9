// A JSON object: reference-counted named properties that remember the order in which their names were
// first set. A native implementation (IJSONObject) may answer before the own properties, and the object
// can be shared between tasks under a storage locker.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <functional>
#include <new>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "kernel/json/IJSONObject.h"
#include "kernel/json/VJSONPropertyTable.h"
#include "kernel/json/VJSONRoomAllocator.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/json/VStorageLocker.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"

namespace velk {

class VJSONArray;
class VJSONClass;
class VJSONGraph;
class VCompareOptions;

// Hash and equality of property names: their UTF-16 units, so names are case- and accent-sensitive.
struct VELK_API hasher_VString
{
	struct hash
	{
		size_t operator()(const VString& name) const;
	};
	struct equal_to
	{
		bool operator()(const VString& a, const VString& b) const;
	};
};

// What a deep comparison remembers: the pairs of containers under comparison, so that comparisons of
// cyclic trees end, and how many containers deep it is.
struct VJSONComparedPairs
{
	std::set<std::pair<const void*, const void*>> fPairs;
	uint32 fDepth = 0;
};

// One level of a deep comparison, for the time two containers are compared: the pair is recorded and the
// depth raised. A pair met again further down is taken as equal (the rest of the walk decides); a level
// deeper than kJSONMaxNestingDepth is refused (velk 108 raised).
class VELK_API StJSONComparedPair
{
public:
	StJSONComparedPair(VJSONComparedPairs& pairs, const void* a, const void* b);
	~StJSONComparedPair();
	StJSONComparedPair(const StJSONComparedPair&) = delete;
	StJSONComparedPair& operator=(const StJSONComparedPair&) = delete;

	bool IsMetAgain() const { return fMetAgain; }
	bool IsTooDeep() const { return fTooDeep; }

private:
	VJSONComparedPairs& fPairs;
	bool fMetAgain = false;
	bool fTooDeep = false;
	bool fEntered = false;
};

// The deep comparison of two containers of one kind with a record of pairs of its own; false, with velk 100
// raised, when memory is short.
template <class Container>
bool DeepEqualContainers(const Container& a, const Container* b, const VCompareOptions& options)
{
	try
	{
		VJSONComparedPairs pairs;
		return a._DeepEqualTo(b, options, pairs);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
}

// Paths: property names joined by '.', array indexes in brackets (a.b[2].c).
constexpr VError VE_JSON_PATH_BRACKET_NOT_CLOSED = MakeVError(kVELK_SIGNATURE, 901);
constexpr VError VE_JSON_PATH_EMPTY_PART = MakeVError(kVELK_SIGNATURE, 902);
constexpr VError VE_JSON_PATH_THROUGH_VALUE = MakeVError(kVELK_SIGNATURE, 903);
constexpr VError VE_JSON_PATH_INDEX_THROUGH_VALUE = MakeVError(kVELK_SIGNATURE, 904);

// True when text is empty or holds only the digits '0' to '9'.
VELK_API bool isvalidnumber(const VString& text);

class VELK_API VJSONObject : public VObject, public IRefCountable, public VJSONRoomAllocated
{
public:
	// The own properties as a map from name to (value, ordinal), for readers that want them so.
	using PropertyMap = std::unordered_map<VString, std::pair<VJSONValue, uint64>, hasher_VString::hash, hasher_VString::equal_to>;

	// The class is the implementation of classObject; with a null classObject the root "Object" of the
	// process's class store (no class before the store exists). The implementation and the locker are
	// retained.
	VJSONObject(VJSONObject* classObject, IJSONObject* implementation, VStorageLocker* locker, bool notCounted);
	// shared: the object gets a new provisional locker of its own (none when memory is short, velk 100).
	VJSONObject(VJSONObject* classObject, IJSONObject* implementation, bool shared);
	~VJSONObject() override;

	VJSONObject(const VJSONObject&) = delete;
	VJSONObject& operator=(const VJSONObject&) = delete;

	// For readers that know how many properties a new object without implementation will hold: the object
	// (of the class of classObject, with the given locker) and room for count properties in one block, so
	// that they take no block of their own. Null (velk 100 raised) when memory is short.
	static VJSONObject* _NewWithRoom(VJSONObject* classObject, VStorageLocker* locker, size_t count);

	// Counted as a member of the object's group too; a release that leaves the group held only by itself
	// breaks the group apart. Under the graph mutex when the object is shared or its group is.
	int32 Retain(const char* label = nullptr) const override;
	int32 Release(const char* label = nullptr) const override;

	// Reading. Shared objects are read under their read lock; the reader need not be the locker's user.

	// The implementation's answer, else the own property; undefined when absent.
	VJSONValue GetProperty(const VString& name, VDBLanguageContext* context = nullptr) const;
	VJSONValue GetOwnProperty(const VString& name) const;
	VJSONValue _GetOwnProperty(const VString& name) const;
	bool HasProperty(const VString& name, VDBLanguageContext* context = nullptr) const;
	bool HasOwnProperty(const VString& name) const;
	// The object the own property name holds when it is expected (not null), retained; null otherwise.
	// Read under the read lock, so that the object cannot go between the test and the retain.
	VRefPtr<VJSONObject> RetainOwnPropertyObject(const VString& name, const VJSONObject* expected) const;
	bool _HasOwnProperty(const VString& name) const;
	// A copy of the own properties; empty when memory is short (velk 100).
	PropertyMap GetInternalProperties() const;
	size_t GetPropertyCount() const;
	// Own property names in insertion order, or in the map's own order; false when memory is short
	// (velk 100), names unchanged. Taken under the read lock.
	bool GetPropertyNamesInOrder(std::vector<VString>& names) const;
	bool GetPropertyNames(std::vector<VString>& names) const;
	// The ordinal of an own property, or -1.
	int64 GetPropertyOrdinal(const VString& name) const;
	bool IsEmpty() const;
	VJSONValue GetPropertyByIndex(size_t index, EJSONStatus* status) const;
	size_t GetCountPropertiesByIndex(EJSONStatus* status) const;
	// The implementation's description, else the object's compact JSON text (cut after about 512 units
	// when cut is set); the writer's error otherwise (a cycle is velk 900).
	VError GetDescription(VString& out, bool cut, VDBLanguageContext* context = nullptr) const;
	// "[object Object]".
	VError GetString(VString& out) const;
	// The implementation's name, else the class's, else "Shared Object" or "Object".
	void GetClassName(VString& out) const;

	// Writing. A shared object is changed only by the task that uses its locker (RyRT -10719 otherwise).

	// Undefined removes the property (true). Then the implementation, then the own property.
	bool SetProperty(const VString& name, const VJSONValue& value, VDBLanguageContext* context = nullptr);
	bool SetOwnProperty(const VString& name, const VJSONValue& value);
	// SetProperty with a string value of text.
	bool SetPropertyAsString(const VString& name, const VString& text, VDBLanguageContext* context = nullptr);
	// The caller holds the write lock. False with RyRT -10719, -10727, the Assign errors, or velk 100
	// when the property cannot be stored; the object is then unchanged.
	bool _SetOwnProperty(const VString& name, const VJSONValue& value);
	bool SetProperties(const std::vector<std::pair<VString, VJSONValue>>& properties);
	void RemoveProperty(const VString& name);
	void RemoveOwnProperty(const VString& name);
	void _RemoveOwnProperty(const VString& name);
	bool ClearProperty(const VString& name, VDBLanguageContext* context = nullptr);
	void Clear();
	void ClearInternalProperties();

	IJSONObject* GetImplementation() const { return fImplementation; }
	// For the binary reader, which meets an object's native payload after its properties: implementation
	// (retained, connected to the object) replaces the current one (disconnected and released).
	void _SetImplementation(IJSONObject* implementation);
	// No class, or a class kind of 0 (an instance of the root class).
	bool IsGenericObject() const { return fClass == nullptr || fClassKind == 0; }
	uint32 GetClassKind() const { return fClassKind; }
	void _SetClassKind(uint32 kind) { fClassKind = kind; }
	bool IsUnderConstruction() const { return fUnderConstruction; }
	void _SetUnderConstruction(bool underConstruction) { fUnderConstruction = underConstruction; }
	VJSONClass* GetClass() const { return fClass; }
	// Takes theClass (counted as one of its instances) and gives back the former one; null only gives
	// back the former class (the class's own holders of functions have none).
	void _SetClass(VJSONClass* theClass);
	// The class's class object, or null without a class.
	VJSONObject* GetClassObject() const;
	// The class's prototype, or null.
	VJSONObject* _GetPrototype() const;
	// Whether theClass is the object's class or one of its superclasses.
	bool IsInstanceOf(const VJSONClass* theClass) const;
	// The same with a class object; false with RyRT -10745 for null or an object that is not a class.
	bool IsInstanceOf(const VJSONObject* classObject) const;
	// Calls this function object: its implementation's IJSON_CallAsFunction with a root context holding
	// the arguments, then copies the context's result (undefined unless set) into result. Not handled
	// (1), result untouched, for an object without implementation.
	EJSONStatus CallAsFunction(VJSONObject* thisObject, VJSONArray* thisArray, std::vector<VJSONValue>* parameters,
		VJSONValue& result, CDBRyBaseContext* baseContext, VDBLanguageContext* context) const;

	// Paths. Each property or element access takes the lock of the container it touches, so a walk
	// through a shared tree is not atomic as a whole.

	// Splits path into names and index texts: a.b[2][0] gives a, b, 2, 0. Returns the error, also raised:
	// velk 901 for a bracket not closed by ']' (that piece is still added), velk 902 for an empty name or
	// index, velk 100 or 107 when memory is short. The parts before the error stay in parts.
	static VError ExtractPath(const VString& path, std::vector<VString>& parts);
	// The value at the path: an object is read by GetProperty, an array by index (out of range
	// undefined) or "length" (its count, case and accents not significant); a path through anything else,
	// or a malformed path (error raised), gives undefined. No parts gives this object.
	VJSONValue GetPropertyWithPath(const VString& path, VDBLanguageContext* context = nullptr) const;
	VJSONValue GetPropertyWithPath(const std::vector<VString>& parts, VDBLanguageContext* context = nullptr) const;
	// Stores value at the path, making the missing or null containers on the way: an array when the next
	// part is an index (all digits), else a generic object; an array is grown with nulls up to the index.
	// False when the path is malformed, when the walk meets a value that is neither object nor array
	// (velk 903 for a name, 904 for an index, the part before it as "p1"), when a negative index stops
	// it (nothing stored, no error), or when a store or growth fails (its error, velk 100 for memory).
	// The containers made before a failure stay.
	bool SetPropertyWithPath(const VString& path, const VJSONValue& value, VDBLanguageContext* context = nullptr);
	// SetPropertyWithPath for each pair in order, stopping at the first failure.
	bool SetPropertiesWithPaths(const std::vector<std::pair<VString, VJSONValue>>& properties);

	// Writes the other object's own properties here in their order; onlyMissing keeps existing ones.
	VError MergeWith(const VJSONObject* other, bool onlyMissing);
	// The deep copy of this object into out, through the cloner (which keeps one copy per container, and
	// in its modes keeps shared objects or puts the copies under its locker). An implementation may copy
	// itself (IJSON_CloneImpl) or the whole object (IJSON_Clone). Returns the first error; the properties
	// copied before it stay in the copy.
	VError Clone(VJSONValue& out, VJSONCloner& cloner) const;
	// Replaces target's own properties by copies of this object's, in their order.
	VError CloneProperties(VJSONCloner& cloner, VJSONObject* target) const;
	// False, with velk 108 raised, for trees nested deeper than kJSONMaxNestingDepth.
	bool DeepEqualTo(const VJSONObject* other, const VCompareOptions& options) const;
	bool _DeepEqualTo(const VJSONObject* other, const VCompareOptions& options, VJSONComparedPairs& pairs) const;

	// Shared storage.
	VRefPtr<VStorageLocker> GetStorageLocker() const;
	void SetStorageLocker(VStorageLocker* locker);
	void _SetStorageLocker(VStorageLocker* locker);
	void _SetStorageLockerDeep(VStorageLocker* locker);
	// Whether this tree may join locker: every container below must be able to (cycles end).
	bool _CanMakeShared(VStorageLocker* locker) const;
	void MakeValueSharedIfNecessary(VJSONValue& value);
	// The locker's id (negative while provisional), 0 when not shared.
	int32 GetSharedID() const;
	// Has a locker, or an implementation that answers that it may be shared.
	bool IsShared() const;
	// Shared, or in a group with a shared member: reference counts change under the graph mutex.
	bool IsSharedGraph() const;
	void MakeGraphShared() const;
	const std::atomic<VStorageLocker*>& _GetLockerField() const { return fLocker; }

	// Cycle groups. The group, null until the object is linked with another container, and the number of
	// references to this object held by members of its group.
	VJSONGraph* GetGraph() const { return fGraph; }
	uint32 GetInternalRefCount() const { return fInternalRefCount; }
	// Lowers the group links of every object or array held by a property; returns the group.
	VJSONGraph* DisconnectAll();
	// Drops the group links of the properties, then removes them all.
	void ClearFromGraph();
	// For implementations that keep JSON values of their own: an object or array value is linked into (or
	// unlinked from) this object's group as a property value would be. False when memory is short.
	bool ConnectImplementationProperty(const VJSONValue& value);
	void DisconnectImplementationProperty(const VJSONValue& value);

	// Stamps.
	void SetJSONStamp(VJSONStamp* stamp);
	VRefPtr<VJSONStamp> GetJSONStamp() const;
	VJSONStamp* GetJSONStampPointer() const { return fStamp.load(std::memory_order_acquire); }
	uint32 GetPropertyStamp(const VString& name) const;
	void TouchPropertyStamp(const VString& name);
	// Stamps by path: the stamp of the last part in the container the rest of the path leads to (an
	// array's "length" gives its count, an index its element's stamp); 0 for a malformed path or one that
	// leads nowhere. Touching follows the same walk and touches nothing where reading would give 0.
	uint32 GetPropertyStampWithPath(const VString& path) const;
	void TouchPropertyStampWithPath(const VString& path);

	// Own values in insertion order, without locking.
	void _GetValuesInOrder(std::vector<VJSONValue>& values) const;
	// The own properties as they are, without locking: for walks that hold what lock they need.
	const VJSONPropertyTable& _GetProperties() const { return fProperties; }

	// For readers that build a new, unshared object from values of their own (the text parser, the binary
	// reader, the deep copy): stores a property as _SetOwnProperty does, taking the value over. While
	// neither the object nor the value is in a group, the value joins none either: a freshly built tree
	// cannot hold a cycle, so there is nothing to link. False with velk 100 or 107 when memory is short.
	bool _SetNewOwnProperty(const VString& name, VJSONValue&& value);
	// The same under the name of another object's entry, sharing its buffer.
	bool _SetNewOwnProperty(const VJSONPropertyTable::Entry& named, VJSONValue&& value);
	// The same for a whole list of properties, in their order, taking their names and values over (the list
	// is left empty); meant for an object without properties yet.
	bool _SetNewOwnProperties(std::vector<VJSONPropertyTable::Entry>& properties);

	static const VString sLockerIDName;

	// Diagnostics: objects made and destroyed on the monitored task (0 = off).
	static std::atomic<int32> sTaskToMonitor;
	static std::atomic<int32> sTaskCounter;

private:
	friend class VJSONGraph;

	bool _IsLockerID(const VString& name) const;
	// Takes the graph mutex when the object, its group or the value is shared.
	bool _NeedsGraphMutex(const VJSONValue& value) const;
	bool _CheckUser(VStorageLocker* locker) const;
	// Stores the value under the name, replacing a former one (whose group link is dropped); the value is
	// already linked. False with velk 100 or 107 when memory is short, nothing changed.
	bool _StoreOwnProperty(const VString& name, VJSONValue&& value);
	// Whether a value may be stored without the locks, the group and the stamp: nothing is shared, stamped
	// or linked on either side.
	bool _IsPlainStore(const VJSONValue& value) const;

	// Room for the properties in the object's block, when it was made with some.
	VJSONTrailingRoom fRoom;
	VJSONPropertyTable fProperties;
	IJSONObject* fImplementation = nullptr;
	std::atomic<VStorageLocker*> fLocker{nullptr};
	std::atomic<VJSONStamp*> fStamp{nullptr};
	VJSONClass* fClass = nullptr;
	uint32 fClassKind = 0;
	// Group membership, kept by VJSONGraph; changed under the graph mutex when the group is shared.
	mutable VJSONGraph* fGraph = nullptr;
	mutable VJSONObject* fGraphPrevious = nullptr;
	mutable VJSONObject* fGraphNext = nullptr;
	mutable uint32 fInternalRefCount = 0;
	bool fUnderConstruction = false;
	bool fNotCounted = false;
	int32 fCreatorTask = 0;
};

}  // namespace velk
