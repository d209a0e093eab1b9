#include "kernel/memory/IRefCountable.h"

namespace velk {

int32 IRefCountable::Retain(const char*) const
{
	return int32(fRefCount.fetch_add(1) + 1);
}

int32 IRefCountable::Release(const char*) const
{
	// The holder of the only reference needs no read-modify-write: no other holder exists to change the
	// count meanwhile, so freeing a tree of objects each held once costs no locked instruction.
	if (fRefCount.load(std::memory_order_acquire) == 1)
	{
		fRefCount.store(0, std::memory_order_relaxed);
		const_cast<IRefCountable*>(this)->DoOnRefCountZero();
		return 0;
	}
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
