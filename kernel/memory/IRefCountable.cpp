#include "kernel/memory/IRefCountable.h"

namespace velk {

int32 IRefCountable::Retain(const char*) const
{
	return int32(fRefCount.fetch_add(1) + 1);
}

int32 IRefCountable::Release(const char*) const
{
	int32 count = int32(fRefCount.fetch_sub(1) - 1);
	if (count == 0)
		const_cast<IRefCountable*>(this)->DoOnRefCountZero();
	return count;
}

void IRefCountable::DoOnRefCountZero()
{
	delete this;
}

}  // namespace velk
