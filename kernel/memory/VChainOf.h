// A chain of objects linked through the VChainLink they derive from: appended at the end, taken out from
// anywhere in constant time, walked from the first. The chain does not own what it links, and an object
// is in at most one chain at a time.
#pragma once

#include "kernel/VKernelTypes.h"

namespace velk {

template <class T>
class VChainOf;

template <class T>
class VChainLink
{
public:
	T* GetNext() const { return fNext; }
	T* GetPrevious() const { return fPrevious; }

private:
	friend class VChainOf<T>;
	T* fNext = nullptr;
	T* fPrevious = nullptr;
};

template <class T>
class VChainOf
{
public:
	VChainOf() = default;
	VChainOf(const VChainOf&) = delete;
	VChainOf& operator=(const VChainOf&) = delete;

	bool IsEmpty() const { return fFirst == nullptr; }
	int32 GetCount() const { return fCount; }
	T* GetFirst() const { return fFirst; }
	T* GetLast() const { return fLast; }

	void AddTail(T* element)
	{
		VChainLink<T>* link = element;
		link->fPrevious = fLast;
		link->fNext = nullptr;
		if (fLast != nullptr)
			static_cast<VChainLink<T>*>(fLast)->fNext = element;
		else
			fFirst = element;
		fLast = element;
		++fCount;
	}

	// The element must be in this chain.
	void Remove(T* element)
	{
		VChainLink<T>* link = element;
		if (link->fPrevious != nullptr)
			static_cast<VChainLink<T>*>(link->fPrevious)->fNext = link->fNext;
		else
			fFirst = link->fNext;
		if (link->fNext != nullptr)
			static_cast<VChainLink<T>*>(link->fNext)->fPrevious = link->fPrevious;
		else
			fLast = link->fPrevious;
		link->fNext = nullptr;
		link->fPrevious = nullptr;
		--fCount;
	}

private:
	T* fFirst = nullptr;
	T* fLast = nullptr;
	int32 fCount = 0;
};

}  // namespace velk
