// Binary property lists become XML that reads back as the same list; malformed lists and lists made to
// crash or swamp the converter (deep nesting, loops, shared values multiplied on expansion) are refused
// before they are expanded.
#include <gtest/gtest.h>

#include <plist/plist.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/PropertyList.h"

namespace {

// The bytes of a binary list whose objects are given already encoded (4-byte references), the first one
// at the top.
std::string BinaryList(const std::vector<std::string>& objects)
{
	auto bigEndian = [](uint64_t value, size_t count)
	{
		std::string bytes;
		for (size_t i = count; i > 0; --i)
			bytes.push_back(char((value >> (8 * (i - 1))) & 0xFF));
		return bytes;
	};
	std::string list = "bplist00";
	std::string table;
	for (const std::string& object : objects)
	{
		table += bigEndian(list.size(), 4);
		list += object;
	}
	const uint64_t tableOffset = list.size();
	list += table;
	list += std::string(6, '\0') + char(4) + char(4) + bigEndian(objects.size(), 8) + bigEndian(0, 8)
		+ bigEndian(tableOffset, 8);
	return list;
}

// An array of references (fewer than 15) to the objects of those indexes.
std::string Array(const std::vector<uint32_t>& references)
{
	std::string object(1, char(0xA0 | references.size()));
	for (uint32_t reference : references)
	{
		for (int shift = 24; shift >= 0; shift -= 8)
			object.push_back(char((reference >> shift) & 0xFF));
	}
	return object;
}

const std::string kTrue(1, char(0x09));

// depth arrays, each holding the next, the last holding true.
std::string NestedArrays(size_t depth)
{
	std::vector<std::string> objects;
	for (uint32_t i = 0; i < depth; ++i)
		objects.push_back(Array({i + 1}));
	objects.push_back(kTrue);
	return BinaryList(objects);
}

// levels arrays, each holding the next one twice: 2^levels values once expanded.
std::string DoublingArrays(size_t levels)
{
	std::vector<std::string> objects;
	for (uint32_t i = 0; i < levels; ++i)
		objects.push_back(Array({i + 1, i + 1}));
	objects.push_back(kTrue);
	return BinaryList(objects);
}

// The XML libplist writes for the list in bytes (binary or XML), as a reference.
std::string ReferenceXML(const std::string& bytes)
{
	plist_t root = nullptr;
	plist_from_memory(bytes.data(), uint32_t(bytes.size()), &root);
	if (root == nullptr)
		return std::string();
	char* text = nullptr;
	uint32_t length = 0;
	plist_to_xml(root, &text, &length);
	plist_free(root);
	std::string xml(text, length);
	plist_to_xml_free(text);
	return xml;
}

std::string ToBinary(const std::string& xml)
{
	plist_t root = nullptr;
	plist_from_memory(xml.data(), uint32_t(xml.size()), &root);
	char* bytes = nullptr;
	uint32_t length = 0;
	plist_to_bin(root, &bytes, &length);
	plist_free(root);
	std::string binary(bytes, length);
	plist_to_bin_free(bytes);
	return binary;
}

TEST(PropertyListTest, ConvertsBinaryListsAndRefusesHostileOnes)
{
	const std::string declarations = ToBinary(
		"<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
		"<key>CFBundleName</key><string>Caf\xC3\xA9</string>"
		"<key>UTExportedTypeDeclarations</key><array><dict>"
		"<key>UTTypeIdentifier</key><string>com.example.doc</string>"
		"<key>UTTypeTagSpecification</key><dict><key>public.filename-extension</key>"
		"<array><string>exd</string></array></dict></dict></array></dict></plist>");
	ASSERT_FALSE(declarations.empty());

	std::string cycle = NestedArrays(1);
	cycle[9 + 3] = 0;  // the array now holds itself

	struct Row
	{
		const char* name;
		std::string bytes;
		bool converted;
	};
	const Row rows[] = {
		{"declarations", declarations, true},
		{"deepest allowed", NestedArrays(plat::kMaxPropertyListDepth - 1), true},
		{"one level too deep", NestedArrays(plat::kMaxPropertyListDepth), false},
		{"deep enough to exhaust the stack", NestedArrays(200000), false},
		{"array holding itself", cycle, false},
		{"shared values within bounds", DoublingArrays(12), true},
		{"shared values doubling 40 times", DoublingArrays(40), false},
		{"XML form", "<?xml version=\"1.0\"?><plist><true/></plist>", false},
		{"signature only", "bplist00", false},
		{"truncated", declarations.substr(0, declarations.size() - 1), false},
		{"count past the objects", BinaryList({std::string(1, char(0xAF)) + char(0x13) + std::string(8, char(0x7F))}), false},
		{"reference past the objects", BinaryList({Array({7})}), false},
	};
	for (const Row& row : rows)
	{
		std::string xml = "left over";
		EXPECT_EQ(plat::ConvertBinaryPropertyListToXML(row.bytes.data(), row.bytes.size(), xml), row.converted)
			<< row.name;
		if (row.converted)
			EXPECT_EQ(xml, ReferenceXML(row.bytes)) << row.name;
		else
			EXPECT_TRUE(xml.empty()) << row.name;
	}
	EXPECT_NE(ReferenceXML(declarations).find("<string>com.example.doc</string>"), std::string::npos);
	EXPECT_TRUE(plat::IsBinaryPropertyList(declarations.data(), declarations.size()));
	EXPECT_FALSE(plat::IsBinaryPropertyList("bplist0", 7));
}

}  // namespace
