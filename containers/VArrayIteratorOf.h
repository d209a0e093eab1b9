// Walks a VArrayOf by 1-based position: 1..count designates an element, 0 none, -1 not started. Every move
// answers the element reached, or T() (none) when there is none; an iterator without an array answers none.
// The array is not owned and must outlive the iterator.
#pragma once

#include "containers/VArrayOf.h"

namespace velk {

template <class T>
class VArrayIteratorOf : public VObject
{
public:
	explicit VArrayIteratorOf(const VArrayOf<T>* array = nullptr, int32 pos = -1) : fArray(array), fPos(pos) {}

	// Position 1; the first element.
	virtual T First()
	{
		if (fArray == nullptr)
			return T();
		fPos = 1;
		return fArray->GetNth(fPos);
	}

	// Position = count; the last element.
	virtual T Last()
	{
		if (fArray == nullptr)
			return T();
		fPos = fArray->GetCount();
		return fArray->GetNth(fPos);
	}

	// From -1 as First; otherwise one position up, which past the count gives none (the position stops one
	// beyond the last element).
	virtual T Next()
	{
		if (fArray == nullptr)
			return T();
		if (fPos == -1)
			return First();
		if (fPos <= fArray->GetCount())
			++fPos;
		return fArray->GetNth(fPos);
	}

	// From -1 as Last; below 2 the position becomes 0 (none); otherwise one position down.
	virtual T Previous()
	{
		if (fArray == nullptr)
			return T();
		if (fPos == -1)
			return Last();
		if (fPos < 2)
		{
			fPos = 0;
			return T();
		}
		--fPos;
		return fArray->GetNth(fPos);
	}

	// The element at the position (1..count, the last one included); from -1 as First.
	virtual T Current()
	{
		if (fArray == nullptr || fPos == 0)
			return T();
		if (fPos == -1)
			return First();
		return fArray->GetNth(fPos);
	}

	// -1 is kept (not started); a negative position or one above the count becomes 0.
	virtual void SetPos(int32 pos)
	{
		if (pos == -1)
			fPos = -1;
		else if (pos < 0 || fArray == nullptr || pos > fArray->GetCount())
			fPos = 0;
		else
			fPos = pos;
	}

	virtual int32 GetPos() const { return fPos; }

private:
	const VArrayOf<T>* fArray;
	int32 fPos;
};

}  // namespace velk
