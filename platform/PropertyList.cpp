#include "platform/PropertyList.h"

#include <plist/plist.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <utility>
#include <vector>

namespace plat {

namespace {

constexpr char kBinarySignature[] = "bplist00";
constexpr size_t kSignatureLength = sizeof(kBinarySignature) - 1;
constexpr size_t kTrailerLength = 32;

uint64_t ReadBigEndian(const uint8_t* bytes, size_t count)
{
	uint64_t value = 0;
	for (size_t i = 0; i < count; ++i)
		value = (value << 8) | bytes[i];
	return value;
}

// The layout a binary property list declares in its trailer, checked against its size.
struct Layout
{
	const uint8_t* bytes = nullptr;
	uint64_t objectCount = 0;
	uint64_t topObject = 0;
	uint64_t tableOffset = 0;  // objects lie between the signature and the offset table
	size_t offsetSize = 0;
	size_t refSize = 0;
};

bool ReadLayout(const uint8_t* bytes, size_t size, Layout& layout)
{
	if (size < kSignatureLength + kTrailerLength)
		return false;
	const uint8_t* trailer = bytes + size - kTrailerLength;
	layout.bytes = bytes;
	layout.offsetSize = trailer[6];
	layout.refSize = trailer[7];
	layout.objectCount = ReadBigEndian(trailer + 8, 8);
	layout.topObject = ReadBigEndian(trailer + 16, 8);
	layout.tableOffset = ReadBigEndian(trailer + 24, 8);
	const uint64_t tableEnd = size - kTrailerLength;
	return layout.offsetSize >= 1 && layout.offsetSize <= 8 && layout.refSize >= 1 && layout.refSize <= 8
		&& layout.tableOffset >= kSignatureLength && layout.tableOffset <= tableEnd
		&& layout.objectCount <= (tableEnd - layout.tableOffset) / layout.offsetSize
		&& layout.topObject < layout.objectCount;
}

// Where object index starts; false when the index or its offset lies outside the objects.
bool ObjectOffset(const Layout& layout, uint64_t index, uint64_t& offset)
{
	if (index >= layout.objectCount)
		return false;
	offset = ReadBigEndian(layout.bytes + layout.tableOffset + index * layout.offsetSize, layout.offsetSize);
	return offset >= kSignatureLength && offset < layout.tableOffset;
}

// The references of the object at offset: their position and count (0 for a value that is no container).
// False when its length is malformed or its references run past the objects.
bool ObjectReferences(const Layout& layout, uint64_t offset, uint64_t& position, uint64_t& count)
{
	const uint8_t marker = layout.bytes[offset];
	const uint8_t type = marker >> 4;
	count = 0;
	if (type != 0xA && type != 0xC && type != 0xD)
		return true;
	count = marker & 0x0F;
	position = offset + 1;
	if (count == 0x0F)
	{
		// The count is an integer object of 1, 2, 4 or 8 bytes.
		if (position >= layout.tableOffset || (layout.bytes[position] >> 4) != 0x1)
			return false;
		const size_t length = size_t(1) << (layout.bytes[position] & 0x0F);
		if (length > 8 || length >= layout.tableOffset - position)
			return false;
		count = ReadBigEndian(layout.bytes + position + 1, length);
		position += 1 + length;
	}
	const uint64_t room = (layout.tableOffset - position) / layout.refSize;
	if (count > room || (type == 0xD && count > room / 2))
		return false;
	if (type == 0xD)
		count *= 2;  // the keys, then the values
	return true;
}

// Walks every value from the top one, each use of a shared value counted again, as the conversion would
// expand them.
bool IsWithinBounds(const Layout& layout)
{
	std::vector<std::pair<uint64_t, size_t>> pending{{layout.topObject, 1}};
	size_t values = 1;
	while (!pending.empty())
	{
		const auto [index, depth] = pending.back();
		pending.pop_back();
		uint64_t offset = 0;
		uint64_t position = 0;
		uint64_t count = 0;
		if (!ObjectOffset(layout, index, offset) || !ObjectReferences(layout, offset, position, count))
			return false;
		if (count == 0)
			continue;
		if (depth >= kMaxPropertyListDepth || count > kMaxPropertyListValues - values)
			return false;
		values += count;
		for (uint64_t i = 0; i < count; ++i)
			pending.emplace_back(ReadBigEndian(layout.bytes + position + i * layout.refSize, layout.refSize), depth + 1);
	}
	return true;
}

}  // namespace

bool IsBinaryPropertyList(const void* bytes, size_t size)
{
	return bytes != nullptr && size >= kSignatureLength && std::memcmp(bytes, kBinarySignature, kSignatureLength) == 0;
}

bool ConvertBinaryPropertyListToXML(const void* bytes, size_t size, std::string& xml)
{
	xml.clear();
	if (!IsBinaryPropertyList(bytes, size) || size > std::numeric_limits<uint32_t>::max())
		return false;
	Layout layout;
	try
	{
		if (!ReadLayout(static_cast<const uint8_t*>(bytes), size, layout) || !IsWithinBounds(layout))
			return false;
	}
	catch (const std::bad_alloc&)
	{
		return false;
	}

	plist_t root = nullptr;
	plist_from_bin(static_cast<const char*>(bytes), uint32_t(size), &root);
	if (root == nullptr)
		return false;
	char* text = nullptr;
	uint32_t length = 0;
	plist_to_xml(root, &text, &length);
	plist_free(root);
	if (text == nullptr)
		return false;
	bool converted = true;
	try
	{
		xml.assign(text, length);
	}
	catch (const std::bad_alloc&)
	{
		converted = false;
	}
	plist_to_xml_free(text);
	return converted;
}

}  // namespace plat
