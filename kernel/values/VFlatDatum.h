// Reading and writing one plain datum in flat memory, which inside packed stores need not be aligned.
#pragma once

#include <cstring>
#include <type_traits>

#include "kernel/VKernelTypes.h"

namespace velk {

template <class D>
D ReadFlatDatum(const void* data)
{
	static_assert(std::is_trivially_copyable_v<D>, "a flat datum is plain bytes");
	D value;
	std::memcpy(&value, data, sizeof(D));
	return value;
}

// The bounded read for stored data that may be cut short: false, value untouched, when the available
// bytes at data do not hold a whole D.
template <class D>
bool ReadFlatDatum(const void* data, uint64 available, D& value)
{
	static_assert(std::is_trivially_copyable_v<D>, "a flat datum is plain bytes");
	if (available < sizeof(D))
		return false;
	std::memcpy(&value, data, sizeof(D));
	return true;
}

// Writes value at data and returns the address behind it; a non-zero limit too small for the datum writes
// nothing and returns data unchanged.
template <class D>
void* WriteFlatDatum(void* data, const D& value, uint64 limit)
{
	static_assert(std::is_trivially_copyable_v<D>, "a flat datum is plain bytes");
	if (limit != 0 && limit < sizeof(D))
		return data;
	std::memcpy(data, &value, sizeof(D));
	return static_cast<uint8*>(data) + sizeof(D);
}

}  // namespace velk
