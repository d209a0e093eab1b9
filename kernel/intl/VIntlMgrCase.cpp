// Case mapping of the international manager, through its platform half.
#include "kernel/intl/VIntlMgr.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "kernel/strings/VString.h"

namespace velk {

void VIntlMgr::ToUpperLowerCase(VString& ioText, bool /*inFlag*/, bool inUpper) const
{
	const int32 length = ioText.GetLength();
	if (length == 0)
		return;
	// Most texts keep their length; twice the room (at least 512 units) covers nearly all the rest in one
	// pass, and the mapping's own answer sizes the second pass for texts that grow more (U+0390 triples).
	UniChar local[512];
	std::unique_ptr<UniChar[]> heap;
	int32 room = std::max(length * 2, int32(std::size(local)));
	UniChar* buffer = local;
	if (room > int32(std::size(local)))
	{
		heap.reset(new (std::nothrow) UniChar[size_t(room)]);
		buffer = heap.get();
	}
	int32 mapped = room;
	if (buffer == nullptr || !XMacIntlMgr::ToUpperLowerCase(ioText.GetCPointer(), length, buffer, mapped, inUpper))
		return;
	if (mapped > room)
	{
		room = mapped;
		heap.reset(new (std::nothrow) UniChar[size_t(room)]);
		buffer = heap.get();
		if (buffer == nullptr || !XMacIntlMgr::ToUpperLowerCase(ioText.GetCPointer(), length, buffer, mapped, inUpper) || mapped > room)
			return;
	}
	UniChar* dest = ioText.GetCPointerForWrite(mapped);
	if (dest == nullptr)
		return;
	std::memcpy(dest, buffer, size_t(mapped) * sizeof(UniChar));
	ioText.Validate(mapped);
}

}  // namespace velk
