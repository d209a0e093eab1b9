// A small growable array of pointers to reference-counted objects: removed elements are released, and with
// the retained flag the array releases what it still holds when it goes. Adding takes no reference: the
// caller hands one over.
#pragma once

#include "containers/VArrayOf.h"

namespace velk {

template <class T>
class VArrayRetainedPtrOf : public VArrayOf<T>
{
public:
	explicit VArrayRetainedPtrOf(int32 growStep = 10, bool unique = false, bool retained = true)
	: VArrayOf<T>(growStep, unique)
	{
		this->fRetained = retained;
	}

	~VArrayRetainedPtrOf() override
	{
		if (this->fRetained)
			_ReleaseRange(this->_GetData(), this->_GetData() + this->GetCount());
		this->_FreeBuffer();
	}

	// Releases every non-null element of the range.
	void DoDeleteDataRange(T* begin, T* end) override { _ReleaseRange(begin, end); }

private:
	static void _ReleaseRange(T* begin, T* end)
	{
		for (T* each = begin; each != end; ++each)
			if (*each != nullptr)
				(*each)->Release();
	}
};

}  // namespace velk
