// Owning holder of one reference to an IRefCountable object.
#pragma once

#include "kernel/VExport.h"

#include <utility>

namespace velk {

template <class T>
class VELK_API VRefPtr
{
public:
	VRefPtr() = default;
	VRefPtr(std::nullptr_t) {}

	// Takes a new reference on the object (the caller keeps its own).
	explicit VRefPtr(T* object) : fObject(object) { if (fObject) fObject->Retain(); }

	// Adopts the caller's reference without retaining: VRefPtr<T>(object, true).
	VRefPtr(T* object, bool adopt) : fObject(object) { if (fObject && !adopt) fObject->Retain(); }

	VRefPtr(const VRefPtr& other) : fObject(other.fObject) { if (fObject) fObject->Retain(); }
	VRefPtr(VRefPtr&& other) noexcept : fObject(other.fObject) { other.fObject = nullptr; }
	template <class U>
	VRefPtr(const VRefPtr<U>& other) : fObject(other.Get()) { if (fObject) fObject->Retain(); }

	~VRefPtr() { if (fObject) fObject->Release(); }

	VRefPtr& operator=(const VRefPtr& other) { Set(other.fObject); return *this; }
	VRefPtr& operator=(VRefPtr&& other) noexcept
	{
		if (this != &other)
		{
			T* old = fObject;
			fObject = other.fObject;
			other.fObject = nullptr;
			if (old) old->Release();
		}
		return *this;
	}
	VRefPtr& operator=(std::nullptr_t) { Clear(); return *this; }

	// Holds the object, retained; the previous one is released after, so self-assignment is safe.
	void Set(T* object)
	{
		if (object) object->Retain();
		T* old = fObject;
		fObject = object;
		if (old) old->Release();
	}

	// Holds the object, taking over the caller's reference.
	void Adopt(T* object)
	{
		T* old = fObject;
		fObject = object;
		if (old) old->Release();
	}

	void Clear() { Adopt(nullptr); }

	// Hands the reference to the caller, leaving this holder empty.
	T* Forget() { T* object = fObject; fObject = nullptr; return object; }

	// Another reference for the caller, who releases it.
	T* Retain() const { if (fObject) fObject->Retain(); return fObject; }

	T* Get() const { return fObject; }
	T* operator->() const { return fObject; }
	T& operator*() const { return *fObject; }
	explicit operator bool() const { return fObject != nullptr; }
	bool operator==(const VRefPtr& other) const { return fObject == other.fObject; }
	bool operator==(const T* other) const { return fObject == other; }

private:
	T* fObject = nullptr;
};

}  // namespace velk
