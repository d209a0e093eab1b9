// Room for a container's contents in the same block as the container: a reader that knows how many
// elements or properties a new container will hold allocates the container and that room at once, and the
// container's list takes its first storage from the room instead of a block of its own. A list that grows
// past the room, or a second list, takes ordinary blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

namespace velk {

// The room behind a container: where it starts (bytes from this record), how many bytes it holds, and
// whether a list uses it.
struct VJSONTrailingRoom
{
	uint32_t fOffset = 0;
	uint32_t fBytes : 31 = 0;
	uint32_t fInUse : 1 = 0;

	void* GetArea() { return reinterpret_cast<char*>(this) + fOffset; }
	// The room starts at area, in the block that holds this record.
	void Set(void* area, size_t bytes)
	{
		fOffset = uint32_t(static_cast<char*>(area) - reinterpret_cast<char*>(this));
		fBytes = uint32_t(bytes);
	}
};

// A standard allocator that hands out the room once (while it is free and large enough) and ordinary blocks
// otherwise. Lists that exchange their storage exchange their allocators with it, so that the room always
// goes back to the room.
template <class T>
class VJSONRoomAllocator
{
public:
	using value_type = T;
	using propagate_on_container_swap = std::true_type;
	using propagate_on_container_move_assignment = std::true_type;
	using propagate_on_container_copy_assignment = std::false_type;
	using is_always_equal = std::false_type;

	VJSONRoomAllocator() noexcept = default;
	explicit VJSONRoomAllocator(VJSONTrailingRoom* room) noexcept : fRoom(room) {}
	template <class U>
	VJSONRoomAllocator(const VJSONRoomAllocator<U>& other) noexcept : fRoom(other.fRoom)
	{
	}

	T* allocate(size_t count)
	{
		if (fRoom != nullptr && !fRoom->fInUse && count * sizeof(T) <= fRoom->fBytes)
		{
			fRoom->fInUse = 1;
			return static_cast<T*>(fRoom->GetArea());
		}
		return static_cast<T*>(::operator new(count * sizeof(T)));
	}

	void deallocate(T* block, size_t) noexcept
	{
		if (fRoom != nullptr && fRoom->fBytes != 0 && static_cast<void*>(block) == fRoom->GetArea())
		{
			fRoom->fInUse = 0;
			return;
		}
		::operator delete(block);
	}

	// A copy made for a new list (a copy of the container's list) takes ordinary blocks.
	VJSONRoomAllocator select_on_container_copy_construction() const noexcept { return VJSONRoomAllocator(); }

	friend bool operator==(const VJSONRoomAllocator& a, const VJSONRoomAllocator& b) noexcept { return a.fRoom == b.fRoom; }

	VJSONTrailingRoom* fRoom = nullptr;
};

// The allocation functions of the containers that may be made with room: the global operator new, alone or
// with the room, and the whole block given back at once.
class VJSONRoomAllocated
{
public:
	// A block for a container of size bytes followed by room for count items of itemSize; count becomes 0
	// when that room's size would not fit its record (the list then takes a block of its own). Null when
	// memory is short.
	static void* AllocateWithRoom(size_t size, size_t itemSize, size_t& count) noexcept
	{
		if (count > (size_t(1) << 30) / itemSize)
			count = 0;
		return ::operator new(size + count * itemSize, std::nothrow);
	}
	static void* operator new(size_t size) { return ::operator new(size); }
	static void* operator new(size_t size, const std::nothrow_t& tag) noexcept { return ::operator new(size, tag); }
	static void* operator new(size_t, void* place) noexcept { return place; }
	static void operator delete(void* block) noexcept { ::operator delete(block); }
	static void operator delete(void* block, const std::nothrow_t&) noexcept { ::operator delete(block); }
	static void operator delete(void*, void*) noexcept {}
};

}  // namespace velk
