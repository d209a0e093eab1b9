// Shared JSON storage: the locker that lets one task at a time change a tree of shared containers while
// any task reads it, the process-wide graph mutex taken before any locker, the scope guards that take
// them in that order, and the change stamps of containers.
#pragma once

#include "kernel/VExport.h"

#include <atomic>
#include <new>
#include <set>
#include <unordered_set>
#include <variant>

#include "kernel/VKernelTypes.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "kernel/memory/VRefPtr.h"
#include "runtime/VCriticalSection.h"
#include "runtime/VError.h"

namespace velk {

class VTask;
class VJSONValue;
class VJSONObject;
class VJSONArray;

constexpr OsType kRYRT_SIGNATURE = FourCharCode("RyRT");

constexpr VError VE_JSON_INDEX_OUT_OF_RANGE = MakeVError(kRYRT_SIGNATURE, -10713);
constexpr VError VE_JSON_OBJECT_NOT_IN_USE = MakeVError(kRYRT_SIGNATURE, -10719);
constexpr VError VE_JSON_ARRAY_NOT_IN_USE = MakeVError(kRYRT_SIGNATURE, -10720);
constexpr VError VE_JSON_NOT_SHARABLE = MakeVError(kRYRT_SIGNATURE, -10721);
constexpr VError VE_JSON_OBJECT_UNDER_OTHER_LOCKER = MakeVError(kRYRT_SIGNATURE, -10724);
constexpr VError VE_JSON_ARRAY_UNDER_OTHER_LOCKER = MakeVError(kRYRT_SIGNATURE, -10725);
constexpr VError VE_JSON_CONTAINERS_ONLY = MakeVError(kRYRT_SIGNATURE, -10727);
constexpr VError VE_JSON_LOCKER_USED_ELSEWHERE = MakeVError(kRYRT_SIGNATURE, -10753);

using VJSONContainer = std::variant<VJSONObject*, VJSONArray*>;

// One locker guards every container of a shared tree. Reading takes its critical section only; changing
// also requires the calling task to be its user (Use / TryToUse / VJSONUser).
class VELK_API VStorageLocker : public VObject, public IRefCountable
{
public:
	// Provisional, free, with the next shared id.
	VStorageLocker();
	~VStorageLocker() override;

	VStorageLocker(const VStorageLocker&) = delete;
	VStorageLocker& operator=(const VStorageLocker&) = delete;

	// Makes the calling task the user (nested uses count). While another task uses it, the caller waits
	// executing its own messages and tries again when woken. False, not the user, once the caller is
	// dying or dead.
	bool Use();

	// As Use without waiting: false at once when the critical section or the locker is held by another task.
	bool TryToUse();

	// Gives back one use of the calling task; at the last one the locker is free and its waiters are woken.
	// Nothing when the caller is not the user.
	void EndUse();

	// Whether the calling task is the user (use count above 0).
	bool IsUsedByCurrentTask();

	// Puts value (an object or array about to be stored in container) under the container's locker, or
	// the container under the value's. False with RyRT -10721 (not sharable), -10724 / -10725 (object /
	// array under another established locker) or -10753 (the value's provisional locker is used by
	// another task).
	static bool Assign(const VJSONContainer& container, VStorageLocker* containerLocker,
		const VJSONContainer& value, VStorageLocker* valueLocker);
	// The same for any value; scalars always give true.
	static bool Assign(const VJSONContainer& container, VStorageLocker* containerLocker, const VJSONValue& value);

	uint32 GetID() const { return fID; }
	// The id, negated while provisional or containers-only.
	int32 GetSharedID() const;

	bool IsProvisional() const { return fProvisional.load(std::memory_order_acquire); }
	void SetEstablished() { fProvisional.store(false, std::memory_order_release); }
	bool IsContainersOnly() const { return fContainersOnly.load(std::memory_order_acquire); }
	void SetContainersOnly(bool containersOnly) { fContainersOnly.store(containersOnly, std::memory_order_release); }

	VCriticalSection& GetCriticalSection() { return fSection; }

	// Current user and use count, for tests and diagnostics: they may change at once on another thread.
	int32 GetUser();
	int32 GetUseCount();

private:
	bool _TakeIfFree(int32 taskID);

	std::set<VTask*> fWaiting;
	VCriticalSection fSection;
	int32 fUser = 0;
	int32 fUseCount = 0;
	uint32 fID;
	std::atomic<bool> fContainersOnly{false};
	std::atomic<bool> fProvisional{true};

	static std::atomic<uint32> sNextID;
};

// Holds the process-wide mutex that comes before any locker's critical section.
class VELK_API StGraphLocker
{
public:
	explicit StGraphLocker(bool take = true);
	~StGraphLocker();
	StGraphLocker(const StGraphLocker&) = delete;
	StGraphLocker& operator=(const StGraphLocker&) = delete;

	static VCriticalSection& GetMutex();

private:
	bool fTaken;
};

// Read access to a container whose locker field is given: nothing for an unshared container, otherwise
// the graph mutex then the locker's critical section.
class VELK_API VJSONReadLock
{
public:
	explicit VJSONReadLock(const std::atomic<VStorageLocker*>& lockerField);
	~VJSONReadLock();
	VJSONReadLock(const VJSONReadLock&) = delete;
	VJSONReadLock& operator=(const VJSONReadLock&) = delete;

	VStorageLocker* GetLocker() const { return fLocker; }

private:
	VStorageLocker* fLocker = nullptr;
};

// Write access: the graph mutex when the container is shared or the stored value is (alsoGlobal), then
// the container's locker. The caller still checks that it is the locker's user.
class VELK_API VJSONReadWriteLock
{
public:
	VJSONReadWriteLock(const std::atomic<VStorageLocker*>& lockerField, bool alsoGlobal);
	~VJSONReadWriteLock();
	VJSONReadWriteLock(const VJSONReadWriteLock&) = delete;
	VJSONReadWriteLock& operator=(const VJSONReadWriteLock&) = delete;

	VStorageLocker* GetLocker() const { return fLocker; }

private:
	VStorageLocker* fLocker = nullptr;  // retained: a store may move the container to another locker
	bool fGlobal = false;
};

// Keeps a shared container in use by the calling task for the scope. Without a locker the scope counts
// as in use.
class VELK_API VJSONUser
{
public:
	// tryOnly: TryToUse instead of waiting in Use.
	VJSONUser(VRefPtr<VStorageLocker>&& locker, bool tryOnly);
	VJSONUser(const VJSONObject* object, bool tryOnly);
	VJSONUser(const VJSONArray* array, bool tryOnly);
	VJSONUser(const VJSONValue& value, bool tryOnly);
	virtual ~VJSONUser();
	VJSONUser(const VJSONUser&) = delete;
	VJSONUser& operator=(const VJSONUser&) = delete;

	bool IsInUse() const { return fInUse; }

private:
	void _Start(bool tryOnly);

	VRefPtr<VStorageLocker> fLocker;
	bool fInUse = true;
};

// Change counter shared by the containers of one tree: it grows with every change anywhere in the tree.
class VELK_API VJSONStamp : public VObject, public IRefCountable
{
public:
	VJSONStamp() = default;
	uint32 GetCounter() const { return fCounter.load(std::memory_order_relaxed); }
	void Increment() { fCounter.fetch_add(1, std::memory_order_relaxed); }

private:
	std::atomic<uint32> fCounter{0};
};

}  // namespace velk

namespace velk {

// Puts an object or array value under containerLocker when the value's tree can join it; in every case
// a container locker stops being provisional. Nothing without a locker or for scalars.
VELK_API void MakeValueSharedIfNecessary(VStorageLocker* containerLocker, VJSONValue& value);

// Steps that objects and arrays share on their locker and stamp fields.

// The container's locker, retained, read under the graph mutex when there is one; null when not shared.
VRefPtr<VStorageLocker> LoadLockerFromField(const std::atomic<VStorageLocker*>& field);
// Replaces the container's locker (retained; the old one released). The caller holds the graph mutex.
void StoreLockerInField(std::atomic<VStorageLocker*>& field, VStorageLocker* locker);
// The locker's shared id (negative while provisional), 0 when the container has no locker.
int32 GetSharedIDOfField(const std::atomic<VStorageLocker*>& locker);
// Replaces the container's stamp (retained; the old one released), under the graph mutex when shared.
void StoreJSONStampInField(std::atomic<VJSONStamp*>& field, VJSONStamp* stamp, bool sharedGraph);
VRefPtr<VJSONStamp> LoadJSONStampFromField(const std::atomic<VJSONStamp*>& field, bool sharedGraph);
// Whether the tree of the container (an object or an array, the other null) may join locker: every
// container of it must be able to (cycles end). The walk uses a work list, not the stack; velk 100 and
// false when it cannot grow.
bool CanTreeMakeShared(const VJSONObject* object, const VJSONArray* array, VStorageLocker* locker);
// Puts the container and its tree under locker, stopping at containers already under it. The walk uses a
// work list; when it cannot grow (velk 100 raised) nothing is changed.
void SetTreeLockerDeep(VJSONObject* object, VJSONArray* array, VStorageLocker* locker);

}  // namespace velk
