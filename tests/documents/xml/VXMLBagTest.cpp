// Bags as XML documents: the exact bytes of a file, a file that cannot be written, documents read into a
// bag, random bags through their text and back (indented and plain), the stream form in both byte orders,
// and parse errors.
#include "documents/xml/VXMLBagFunctions.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>

#include "common/VTaskWithStack.h"
#include "common/VTemporaryFolderTest.h"
#include "containers/VBagTestHelpers.h"
#include "containers/VBagArray.h"
#include "containers/VValueBag.h"
#include "documents/xml/IXMLHandler.h"
#include "documents/xml/VXMLParser.h"
#include "files/VFolder.h"
#include "kernel/values/VPtrStream.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

using test::AddChild;
using test::StBag;
using test::Text;

bool IsLineSpace(char16_t c)
{
	return c == 0x09 || c == 0x0A || c == 0x0D;
}

// The characters an XML text can carry: line spaces only when asked, whole surrogate pairs, nothing XML
// forbids.
std::u16string Kept(const std::u16string& s, bool lineSpaces)
{
	std::u16string out;
	for (size_t i = 0; i < s.size(); ++i)
	{
		const char16_t c = s[i];
		if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF)
			out.append(s, i++, 2);
		else if ((c >= 0x20 && c < 0xD800) || (c >= 0xE000 && c <= 0xFFFD) || (lineSpaces && IsLineSpace(c)))
			out += c;
	}
	return out;
}

// The character data a reader gets back for the CDATA text: a CDATA section (line ends read as LF) when it
// holds markup or line spaces among other text, else the text without its line spaces; nothing when that
// is empty or only layout (white space with a line feed).
std::u16string CDataReadBack(const std::u16string& s, bool& present)
{
	const bool lineSpace = s.find_first_of(u"\t\n\r") != std::u16string::npos;
	const bool section = s.find_first_of(u"&<>\"'") != std::u16string::npos || (lineSpace && s.find_first_not_of(u"\t\n\r ") != std::u16string::npos);
	const std::u16string kept = Kept(s, section);
	std::u16string out;
	for (size_t i = 0; i < kept.size(); ++i)
	{
		if (kept[i] != 0x0D || i + 1 == kept.size() || kept[i + 1] != 0x0A)
			out += kept[i] == 0x0D ? u'\n' : kept[i];
	}
	bool layout = out.find(u'\n') != std::u16string::npos;
	for (char16_t c : out)
		layout = layout && IXMLHandler::WCharIsSpace(c);
	present = !out.empty() && !layout;
	return out;
}

// "{name=value;#cdata;element:[{...}{...}]}". With asWritten, the values are those a reader of the bag's
// XML text gets back; otherwise the bag's own, every attribute required to be text.
std::u16string Describe(const VValueBag& bag, bool asWritten)
{
	std::u16string out = u"{", cdata;
	bool hasCData = false;
	const VValueBag::VPackedAttributes& attributes = bag.GetAttributes();
	for (auto slot = attributes.begin(); slot != attributes.end(); ++slot)
	{
		size_t length = 0;
		const char* key = attributes._GetKeyBytes(*slot, length);
		const VValueSingle* value = attributes.GetValuePtr(slot);
		const bool isText = value->GetValueInfo()->GetKind() == VK_STRING;
		VString text;
		const bool isCData = std::string(key, length) == "<>";
		if (isText)
			text.FromString(static_cast<const VString&>(*value));
		else if (asWritten && !isCData)
			value->GetXMLString(text);
		else
			value->GetString(text);
		std::u16string units = Text(text);
		if (!asWritten && !isText)
			units += u"!not text";
		if (isCData)
		{
			cdata = asWritten ? CDataReadBack(units, hasCData) : units;
			hasCData = hasCData || !asWritten;
			continue;
		}
		out += Text(VString(std::string(key, length).c_str())) + u"=" + (asWritten ? Kept(units, true) : units) + u";";
	}
	if (hasCData)
		out += u"#" + cdata + u";";
	VString name;
	for (int32 n = 1; n <= bag.GetElementNamesCount(); ++n)
	{
		const VBagArray* list = bag.GetNthElementName(n, &name);
		out += Text(name) + u":[";
		for (int32 pos = 1; pos <= list->GetCount(); ++pos)
			out += Describe(*list->_GetNth(pos), asWritten);
		out += u"]";
	}
	return out + u"}";
}

class VXMLBagTest : public test::VTemporaryFolderTest
{
};

TEST_F(VXMLBagTest, FilesHoldTheDeclarationAndTheBagTextInUTF8)
{
	EXPECT_EQ(WriteBagToFileInXML(*StBag(), VString("r"), nullptr, false), VE_OK);
	EXPECT_TRUE(std::filesystem::is_empty(fRoot));

	const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
	struct Row
	{
		const char* fRoot;
		bool fIndented;
		std::function<void(VValueBag&)> fFill;
		std::string fText;
	};
	const Row rows[] = {
		{"database_shortcut", false, [](VValueBag&) {}, "<database_shortcut/>"},
		{"r", true, [](VValueBag& b) { b.SetString("v", VString(u"\u00E9\r\n", 3)); AddChild(b, "c"); },
			"<r v=\"\xC3\xA9&#xD;&#xA;\">\n\t<c/>\n</r>"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fRoot);
		StBag bag;
		row.fFill(*bag);
		EXPECT_EQ(WriteBagToFileInXML(*bag, VString(row.fRoot), File("bag.xml").Get(), row.fIndented), VE_OK);
		EXPECT_EQ(Read("bag.xml"), declaration + row.fText);
	}
}

TEST_F(VXMLBagTest, AFileThatCannotBeWrittenIsDeleted)
{
	for (const plat::WriteStep step : {plat::WriteStep::kCreate, plat::WriteStep::kWrite, plat::WriteStep::kRename})
	{
		SCOPED_TRACE(int(step));
		Write("bag.xml", "former content");
		plat::SetWriteFaultForTesting(step, ENOSPC);
		EXPECT_NE(WriteBagToFileInXML(*StBag(), VString("r"), File("bag.xml").Get(), true), VE_OK);
		plat::SetWriteFaultForTesting(plat::WriteStep::kNone, 0);
		// Neither the file nor the copy written beside it is left.
		EXPECT_TRUE(std::filesystem::is_empty(fRoot));
		VTask::FlushErrors();
	}
}

TEST_F(VXMLBagTest, ABagTooDeepForTheStackIsWrittenNowhere)
{
	// Built without recursion, far deeper than a 1 MiB stack lets the text be made.
	StBag bag;
	VValueBag* level = bag.fBag;
	for (int32 i = 0; i < 20000; ++i)
		level = AddChild(*level, "e");
	Write("bag.xml", "former content");
	test::RunOnTaskWithStack(size_t(1) << 20, [&] {
		EXPECT_EQ(WriteBagToFileInXML(*bag, VString("r"), File("bag.xml").Get(), false), VE_STACK_OVERFLOW);
		VPtrStream stream;
		ASSERT_EQ(stream.OpenWriting(), VE_OK);
		EXPECT_EQ(WriteBagToStreamInXML(*bag, &stream), VE_STACK_OVERFLOW);
		stream.CloseWriting();
		EXPECT_EQ(stream.GetUnderlyingData().fSize, 0u);
	});
	// As for any file that cannot be written, the former content does not pass for the bag.
	EXPECT_TRUE(std::filesystem::is_empty(fRoot));
}

TEST_F(VXMLBagTest, TheDocumentElementFillsTheBag)
{
	struct Row
	{
		const char* fDocument;
		const char* fRoot;
		bool fPrefilled;  // a="0", k="keep" and one bag c
		std::u16string fBag;
	};
	const Row rows[] = {
		{"<r a=\"1\"><c/><c/>x</r>", "r", false, u"{a=1;#x;c:[{}{}]}"},
		{"<r a=\"1\"><c/><c/>x</r>", "s", true, u"{a=0;k=keep;c:[{}]}"},
		{"<r a=\"1\"><c/><c/>x</r>", "R", true, u"{a=1;k=keep;#x;c:[{}{}{}]}"},
		{"<r><c b='2'><d>y</d></c></r>", "", false, u"{c:[{b=2;d:[{#y;}]}]}"},
		// Layout between tags is not text; a run is judged whole, however it arrives.
		{"<r>\n\t<c/>\n\t<c/>\n</r>", "r", false, u"{c:[{}{}]}"},
		{"<r> <c/> </r>", "r", false, u"{#  ;c:[{}]}"},
		{"<r>\n<c/>a&amp;\n<![CDATA[<b>]]></r>", "r", false, u"{#a&\n<b>;c:[{}]}"},
		{"<r>\n&#x20;<![CDATA[\n]]>\n<c/></r>", "r", false, u"{c:[{}]}"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fDocument);
		StBag bag;
		if (row.fPrefilled)
		{
			bag->SetString("a", VString("0"));
			bag->SetString("k", VString("keep"));
			AddChild(*bag, "c");
		}
		EXPECT_EQ(LoadBagFromXML(VString(row.fDocument), VString(row.fRoot), *bag, 0), VE_OK);
		EXPECT_EQ(Describe(*bag, false), row.fBag);
	}
}

// A random bag: text attributes of any characters, numbers and booleans, character data, children.
void FillRandomBag(VValueBag& bag, std::mt19937& random, int depth)
{
	static const std::u16string kPieces[] = {u"a", u"Z", u" ", u"\t", u"\n", u"\r", u"\x01", u"\x0C", u"&", u"<", u">", u"\"", u"'",
		u"]", u"]]>", u"\u00E9", u"\xD800", u"\xDC00", u"\xFFFE", u"\U0001F600"};
	auto text = [&random]() {
		std::u16string s;
		for (int n = int(random() % 8); n > 0; --n)
			s += kPieces[random() % std::size(kPieces)];
		return VString(s.data(), int32(s.size()));
	};
	for (int n = int(random() % 4); n > 0; --n)
	{
		const std::string key = "a" + std::to_string(n);
		const uint32 kind = random() % 4;
		if (kind == 0)
			bag.SetLong8(key.c_str(), int64(random()) - 0x7FFFFFFF);
		else if (kind == 1)
			bag.SetBool(key.c_str(), random() % 2 == 0);
		else
			bag.SetString(key.c_str(), text());
	}
	if (random() % 2 == 0)
		bag.SetString(VValueBag::CDataAttributeName(), text());
	for (const char* name : {"c", "d"})
	{
		for (int n = depth < 3 ? int(random() % 3) : 0; n > 0; --n)
			FillRandomBag(*AddChild(bag, name), random, depth + 1);
	}
}

TEST_F(VXMLBagTest, RandomBagsComeBackThroughTheirText)
{
	// What comes back: attributes as the text written (no other kind), the structure, and the character
	// data a reader sees (characters XML cannot carry left out, line ends as LF).
	std::mt19937 random(20261209);
	for (int round = 0; round < 200; ++round)
	{
		StBag bag;
		FillRandomBag(*bag, random, 0);
		for (const bool indented : {true, false})
		{
			VString text;
			bag->DumpXML(text, VString("bag"), indented);
			SCOPED_TRACE(std::to_string(round) + (indented ? " indented" : " plain"));
			StBag read;
			ASSERT_EQ(LoadBagFromXML(text, VString("bag"), *read, 0), VE_OK);
			ASSERT_EQ(Describe(*read, false), Describe(*bag, true));
		}
	}
}

TEST_F(VXMLBagTest, StreamsCarryTheBagInTheirByteOrder)
{
	StBag bag;
	std::mt19937 random(7);
	FillRandomBag(*bag, random, 1);
	// Plain text puts a line before each child: the character data after them comes back alone.
	AddChild(*bag, "e");
	bag->SetString(VValueBag::CDataAttributeName(), VString("text"));
	for (const bool bigEndian : {true, false})
	{
		SCOPED_TRACE(bigEndian ? "big endian" : "little endian");
		VPtrStream stream;
		bigEndian ? stream.SetBigEndian() : stream.SetLittleEndian();
		ASSERT_EQ(stream.OpenWriting(), VE_OK);
		EXPECT_EQ(WriteBagToStreamInXML(*bag, &stream), VE_OK);
		stream.CloseWriting();
		const uint8 marker[4] = {uint8(bigEndian ? 0 : 1), 0, 0, uint8(bigEndian ? 1 : 0)};
		EXPECT_EQ(std::memcmp(stream.GetUnderlyingData().fData, marker, 4), 0);

		// An error the task held before does not make the read fail.
		_ThrowError(VE_UNKNOWN_ERROR);
		StBag read;
		ASSERT_EQ(stream.OpenReading(), VE_OK);
		EXPECT_EQ(ReadBagFromStreamInXML(*read, &stream), VE_OK);
		EXPECT_EQ(Describe(*read, false), Describe(*bag, true));
		stream.CloseReading();

		// Read in the other order the first word is not 1: nothing is read.
		StBag other;
		stream.SetNeedSwap(!bigEndian);
		ASSERT_EQ(stream.OpenReading(), VE_OK);
		EXPECT_EQ(ReadBagFromStreamInXML(*other, &stream), VE_OK);
		EXPECT_EQ(stream.GetPos(), 4);
		EXPECT_TRUE(other->IsEmpty());
		stream.CloseReading();
		VTask::FlushErrors();
	}
}

TEST_F(VXMLBagTest, ParseErrorsComeBackAndStayOnTheTask)
{
	auto fromStream = [](const char* document) {
		VPtrStream stream;
		stream.OpenWriting();
		stream.Put(uint32(1));
		VString(document).WriteToStream(&stream);
		stream.CloseWriting();
		stream.OpenReading();
		return ReadBagFromStreamInXML(*StBag(), &stream);
	};
	struct Row
	{
		const char* fName;
		std::function<VError()> fRead;
		VError fError;  // 0: the file layer's error
	};
	const Row rows[] = {
		{"unclosed text", [] { return LoadBagFromXML(VString("<r><c></r>"), VString("r"), *StBag(), 0); }, VE_XML_FATAL_ERROR},
		{"not XML in a stream", [&] { return fromStream("not XML"); }, VE_XML_FATAL_ERROR},
		{"missing file", [this] { return LoadBagFromXML(File("none.xml").Get(), VString("r"), *StBag(), 0); }, VE_OK},
		{"null file", [] { return LoadBagFromXML(static_cast<IFile*>(nullptr), VString("r"), *StBag(), 0); }, VE_INVALID_PARAMETER},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		VTask::FlushErrors();
		const VError error = row.fRead();
		EXPECT_NE(error, VE_OK);
		EXPECT_TRUE(row.fError == VE_OK || error == row.fError) << std::hex << error;
		EXPECT_EQ(VTask::GetLastError(), error);
	}
	VTask::FlushErrors();
}

TEST_F(VXMLBagTest, FilesReadTheirEntitiesFromTheEntityFolder)
{
	Write("e.ent", "expanded");
	const VRefPtr<VFile> file = Write("bag.xml", "<!DOCTYPE r [<!ENTITY e SYSTEM \"velk://entities/e.ent\">]><r>&e;</r>");
	VFolder folder(VString(fRoot.c_str()), FPS_POSIX);
	VFolder missing(VString((fRoot + "missing/").c_str()), FPS_POSIX);
	const VString base("velk://entities/");
	StBag bag;
	EXPECT_EQ(LoadBagFromXML(file.Get(), VString("r"), *bag, eXML_ValidateNever, &base, &folder), VE_OK);
	StBag without;
	EXPECT_EQ(LoadBagFromXML(file.Get(), VString("r"), *without, eXML_ValidateNever, &base, &missing), VE_OK);
	EXPECT_EQ(Describe(*bag, false) + Describe(*without, false), u"{#expanded;}{}");
}

}  // namespace
}  // namespace velk
