// Intrusive, atomic reference count mixed into every shared toolbox object.
#pragma once

#include "kernel/VExport.h"

#include <atomic>

#include "kernel/VKernelTypes.h"

namespace velk {

class VELK_API IRefCountable
{
public:
	// A new object holds one reference, owned by its creator.
	IRefCountable() : fRefCount(1) {}
	// A copy is a new object: it starts with its own single reference.
	IRefCountable(const IRefCountable&) : fRefCount(1) {}
	IRefCountable& operator=(const IRefCountable&) { return *this; }
	virtual ~IRefCountable() = default;

	// Adds one reference; returns the new count. The label is a debugging aid and is ignored.
	virtual int32 Retain(const char* label = nullptr) const;

	// Drops one reference; at zero calls DoOnRefCountZero (which deletes by default). Returns the new count.
	virtual int32 Release(const char* label = nullptr) const;

	// Drops the references this object holds on others; nothing by default.
	virtual void ReleaseDependencies() {}

	// Called by the Release that brings the count to zero; deletes the object by default.
	virtual void DoOnRefCountZero();

	// Current count, for tests and diagnostics only: it may change at once on another thread.
	int32 GetRefCount() const { return int32(fRefCount.load()); }

private:
	mutable std::atomic<uint32> fRefCount;
};

}  // namespace velk
