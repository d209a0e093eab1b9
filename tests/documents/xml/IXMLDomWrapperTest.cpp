// The DOM wrapper: hostile and broken documents give null, trees read back through element handlers and
// bags, serialised line ends become carriage returns in every unit width, and files are replaced whole.
#include "documents/xml/IXMLDomWrapper.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include <xercesc/framework/MemBufFormatTarget.hpp>

#include "common/VTemporaryFolderTest.h"
#include "containers/VBagArray.h"
#include "containers/VValueBag.h"
#include "documents/xml/IXMLHandler.h"
#include "documents/xml/VXMLBagFunctions.h"
#include "documents/xml/VXMLParser.h"
#include "files/VFile.h"
#include "files/VFileStream.h"
#include "files/VURL.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/values/VBlob.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "documents/xml/XMLTestTexts.h"

namespace velk {
namespace {

using test::U8;
using test::Load;
using test::Serialize;

// Records the calls an element handler receives; refuses the names in skip.
class VRecordingHandler : public VObject, public IXMLHandler
{
public:
	VRecordingHandler(std::vector<std::string>* log, std::set<std::string> skip) : fLog(log), fSkip(std::move(skip)) {}
	IXMLHandler* StartElement(const VString& name) override
	{
		fLog->push_back("<" + U8(name));
		return fSkip.count(U8(name)) != 0 ? nullptr : new VRecordingHandler(fLog, fSkip);
	}
	void EndElement(const VString& name) override { fLog->push_back("/" + U8(name)); }
	void SetAttribute(const VString& name, const VString& value) override { fLog->push_back("@" + U8(name) + "=" + U8(value)); }
	void SetText(const VString& text) override { fLog->push_back("'" + U8(text)); }
	void processingInstruction(const VString& target, const VString& data) override
	{
		fLog->push_back("?" + U8(target) + " " + U8(data));
	}

private:
	std::vector<std::string>* fLog;
	std::set<std::string> fSkip;
};

class IXMLDomWrapperTest : public test::VTemporaryFolderTest
{
};

TEST_F(IXMLDomWrapperTest, BrokenAndHostileDocumentsGiveNull)
{
	std::string laughs = "<!DOCTYPE r [<!ENTITY l0 'ha'>";
	for (int i = 1; i <= 10; ++i)
	{
		laughs += "<!ENTITY l" + std::to_string(i) + " '";
		for (int j = 0; j < 10; ++j)
			laughs += "&l" + std::to_string(i - 1) + ";";
		laughs += "'>";
	}
	laughs += "]><r>&l10;</r>";
	std::string quadratic = "<!DOCTYPE r [<!ENTITY big '" + std::string(100000, 'x') + "'>]><r>";
	std::string quadraticAttribute = "<!DOCTYPE r [<!ENTITY big '" + std::string(100000, 'x') + "'>]><r a='";
	for (int i = 0; i < 40000; ++i)
	{
		quadratic += "&big;";
		quadraticAttribute += "&big;";
	}
	quadratic += "</r>";
	quadraticAttribute += "'/>";
	auto nested = [](int levels) {
		std::string xml;
		for (int i = 0; i < levels; ++i)
			xml += "<a>";
		for (int i = 0; i < levels; ++i)
			xml += "</a>";
		return xml;
	};
	// The root element, with references entities deep inside it, each entity referring to the next.
	auto references = [](int entities) {
		std::string xml = "<!DOCTYPE r [<!ENTITY e0 'x'>";
		for (int i = 1; i < entities; ++i)
			xml += "<!ENTITY e" + std::to_string(i) + " '&e" + std::to_string(i - 1) + ";'>";
		return xml + "]><r>&e" + std::to_string(entities - 1) + ";</r>";
	};
	// Elements around an entity whose content nests elements again.
	auto mixed = [&](int outside, int inside) {
		const std::string inner = nested(inside);
		std::string xml = "<!DOCTYPE a [<!ENTITY e '" + inner + "'>]>";
		for (int i = 0; i < outside; ++i)
			xml += "<a>";
		xml += "&e;";
		for (int i = 0; i < outside; ++i)
			xml += "</a>";
		return xml;
	};

	const struct
	{
		const char* what;
		std::string xml;
		bool parses;
		const char* message;  // a part of the last error's message
	} rows[] = {
		{"plain", "<r a='1'>text<c/></r>", true, ""},
		{"unclosed element", "<r><c></r>", false, ""},
		{"no document element", "", false, ""},
		{"garbage", "\x01\x02<<", false, ""},
		{"unbound prefix", "<p:r/>", false, ""},
		{"billion laughs", laughs, false, "entity expansions"},
		{"quadratic blow-up", quadratic, false, "entity expansions"},
		{"quadratic blow-up in an attribute", quadraticAttribute, false, "entity expansions"},
		{"1,024 levels", nested(1024), true, ""},
		{"1,025 levels", nested(1025), false, "1024"},
		{"1,023 entity references inside the root", references(1023), true, ""},
		{"1,024 entity references inside the root", references(1024), false, "entity references"},
		{"elements around and inside an entity, 1,024 levels", mixed(500, 523), true, ""},
		{"elements around and inside an entity, 1,025 levels", mixed(500, 524), false, "entity references"},
	};
	for (const auto& row : rows)
	{
		SCOPED_TRACE(row.what);
		StErrorContextInstaller scope(false, true);
		VXMLDOMNode_opaque* document = Load(row.xml);
		EXPECT_EQ(document != nullptr, row.parses);
		const std::vector<VRefPtr<VErrorBase>> errors = scope.GetContext() != nullptr ? scope.GetContext()->GetErrors()
			: std::vector<VRefPtr<VErrorBase>>();
		EXPECT_EQ(errors.empty(), row.parses);
		if (!errors.empty())
		{
			EXPECT_EQ(errors.back()->GetCode(), VE_XML_FATAL_ERROR);
			VString message;
			errors.back()->GetString(VString("message"), message);
			EXPECT_NE(U8(message).find(row.message), std::string::npos) << U8(message);
		}
		IXMLDomWrapper::ReleaseNode(document);
	}
	VTask::FlushErrors();
}

TEST_F(IXMLDomWrapperTest, ExternalEntitiesAreNeverRead)
{
	Write("secret.txt", "SECRET");
	for (const std::string& reference : {"<!ENTITY e SYSTEM 'file://" + fRoot + "secret.txt'>]><r>&e;</r>",
			 "<!ENTITY % p SYSTEM 'file://" + fRoot + "secret.txt'> %p;]><r/>"})
	{
		VXMLDOMNode_opaque* document = Load("<!DOCTYPE r [" + reference);
		if (document != nullptr)
		{
			EXPECT_EQ(Serialize(document).find("SECRET"), std::string::npos) << reference;
		}
		IXMLDomWrapper::ReleaseNode(document);
	}
	VTask::FlushErrors();
}

TEST_F(IXMLDomWrapperTest, WalksReadsAndFeedsHandlers)
{
	VXMLDOMNode_opaque* document = Load(
		"<r xmlns:n='urn:n' xml:lang='fr' id='top'><?pi data?><b>true</b><l>-42</l><d>2.5</d><n:x n:id='nx'/>"
		"<s a='1'>t<![CDATA[c]]><in/></s></r>");
	ASSERT_NE(document, nullptr);
	VXMLDOMElement_opaque* root = IXMLDomWrapper::GetRootNodeElement(document);
	ASSERT_NE(root, nullptr);
	VXMLDOMNode_opaque* rootNode = IXMLDomWrapper::GetNodeFromNodeElement(root);
	EXPECT_EQ(IXMLDomWrapper::GetNumberOfChildrenNodes(rootNode), 6);
	EXPECT_EQ(IXMLDomWrapper::GetChildNode(rootNode, 6), nullptr);
	EXPECT_EQ(IXMLDomWrapper::GetChildNode(rootNode, -1), nullptr);
	EXPECT_EQ(IXMLDomWrapper::GetNodeElement(IXMLDomWrapper::GetChildNode(rootNode, 0)), nullptr);

	bool flag = false;
	int32 number = 0;
	double real = 0;
	EXPECT_TRUE(IXMLDomWrapper::GetNodeElementValueBoolean(IXMLDomWrapper::GetNodeElement(IXMLDomWrapper::GetChildNode(rootNode, 1)), flag));
	EXPECT_TRUE(flag);
	EXPECT_TRUE(IXMLDomWrapper::GetNodeElementValueLong(IXMLDomWrapper::GetNodeElement(IXMLDomWrapper::GetChildNode(rootNode, 2)), number));
	EXPECT_EQ(number, -42);
	EXPECT_TRUE(IXMLDomWrapper::GetNodeElementValueReal(IXMLDomWrapper::GetNodeElement(IXMLDomWrapper::GetChildNode(rootNode, 3)), real));
	EXPECT_EQ(real, 2.5);

	// Attributes by plain name, by a bound prefix, and by the reserved "xml" prefix.
	const struct
	{
		const char* name;
		bool found;
		const char* value;
	} attributes[] = {{"id", true, "top"}, {"xml:lang", true, "fr"}, {"lang", false, ""}, {"xmlns:n", true, "urn:n"}, {"q:lang", false, ""}};
	for (const auto& row : attributes)
	{
		VString value("stale");
		EXPECT_EQ(IXMLDomWrapper::GetNodeElementAttribute(root, VString(row.name), value), row.found) << row.name;
		EXPECT_EQ(U8(value), row.value) << row.name;
	}

	// IDs: plain and behind a prefix, once registered.
	EXPECT_EQ(IXMLDomWrapper::FindNodeElementByID(document, VString("nx")), nullptr);
	IXMLDomWrapper::RegisterNodeIDs(document);
	EXPECT_EQ(IXMLDomWrapper::FindNodeElementByID(document, VString("top")), root);
	EXPECT_EQ(IXMLDomWrapper::FindNodeElementByID(document, VString("nx")),
		IXMLDomWrapper::GetNodeElement(IXMLDomWrapper::GetChildNode(rootNode, 4)));

	// Handlers see what the SAX reader would deliver; a refused element is not entered.
	const struct
	{
		std::set<std::string> skip;
		bool result;
		std::vector<std::string> log;
	} walks[] = {
		{{"r"}, false, {"<r"}},
		{{"s", "b", "l", "d", "n:x"}, true,
			{"<r", "@xmlns:n=urn:n", "@xml:lang=fr", "@id=top", "?pi data", "<b", "<l", "<d", "<n:x", "<s", "/r"}},
		{{"b", "l", "d", "n:x"}, true,
			{"<r", "@xmlns:n=urn:n", "@xml:lang=fr", "@id=top", "?pi data", "<b", "<l", "<d", "<n:x", "<s", "@a=1", "'t", "'c",
				"<in", "/in", "/s", "/r"}},
	};
	for (const auto& walk : walks)
	{
		std::vector<std::string> log;
		VRecordingHandler* handler = new VRecordingHandler(&log, walk.skip);
		EXPECT_EQ(IXMLDomWrapper::Parse(rootNode, handler), walk.result);
		handler->Release();
		// Xerces keeps attributes in its own order: compare them as a set within the element.
		std::vector<std::string> expected = walk.log;
		std::sort(log.begin() + 1, log.begin() + std::min<size_t>(log.size(), 4));
		std::sort(expected.begin() + 1, expected.begin() + std::min<size_t>(expected.size(), 4));
		EXPECT_EQ(log, expected);
	}

	// The system identifier given becomes the document's URL.
	const std::string bytes = "<r/>";
	const VString identifier("file:///tmp/some%20doc.xml");
	VXMLDOMNode_opaque* named = IXMLDomWrapper::CreateNodeDocumentFromBuffer(bytes.data(), bytes.size(), &identifier);
	ASSERT_NE(named, nullptr);
	VURL url;
	EXPECT_TRUE(IXMLDomWrapper::GetDocumentURL(named, url));
	VString urlText;
	url.GetLastPathComponent(urlText, false);
	EXPECT_EQ(U8(urlText), "some%20doc.xml");
	IXMLDomWrapper::ReleaseNode(named);

	VXMLDOMNode_opaque* copy = IXMLDomWrapper::CloneNodeDocument(rootNode);
	ASSERT_NE(copy, nullptr);
	EXPECT_NE(copy, document);
	EXPECT_EQ(Serialize(copy), Serialize(document));
	IXMLDomWrapper::ReleaseNode(copy);
	IXMLDomWrapper::ReleaseNode(document);
}

TEST_F(IXMLDomWrapperTest, TextContentIsEveryTextBelowTheElement)
{
	const struct
	{
		const char* what;
		std::string xml;
		std::string text;
	} rows[] = {
		{"empty", "<r/>", ""},
		{"only elements", "<r><e/><e></e></r>", ""},
		{"text at every level, in document order", "<r>a<b>b<c>c</c>d</b>e<f>f</f></r>", "abcdef"},
		{"comments and processing instructions left out", "<r><!--c-->a<?p d?>b<e><!--c--></e></r>", "ab"},
		{"CDATA sections and character references", "<r><![CDATA[<x>]]>&amp;&#x263A;</r>", "<x>&\xE2\x98\xBA"},
		{"entity references read through", "<!DOCTYPE r [<!ENTITY e '<i>in</i>side'>]><r>a&e;b</r>", "ainsideb"},
		{"beyond the basic plane", "<r>caf\xC3\xA9 \xF0\x9F\x98\x80</r>", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
		{"a long text", "<r>" + std::string(100000, 'y') + "<e>z</e></r>", std::string(100000, 'y') + "z"},
	};
	for (const auto& row : rows)
	{
		SCOPED_TRACE(row.what);
		VXMLDOMNode_opaque* document = Load(row.xml);
		ASSERT_NE(document, nullptr);
		VString text("stale");
		EXPECT_TRUE(IXMLDomWrapper::GetNodeElementValueString(IXMLDomWrapper::GetRootNodeElement(document), text));
		EXPECT_EQ(U8(text), row.text);
		EXPECT_FALSE(text.IsNull());
		IXMLDomWrapper::ReleaseNode(document);
	}
	VString text("stale");
	EXPECT_FALSE(IXMLDomWrapper::GetNodeElementValueString(nullptr, text));
	EXPECT_EQ(text.GetLength(), 0);
}

TEST_F(IXMLDomWrapperTest, ReleaseTakesOnlyNodesOutsideTheTree)
{
	VXMLDOMNode_opaque* document = Load("<r><c>t</c></r>");
	ASSERT_NE(document, nullptr);
	const std::string before = Serialize(document);

	// An element made apart, with elements, text and attributes below it.
	VXMLDOMElement_opaque* apart = IXMLDomWrapper::CreateElement(IXMLDomWrapper::GetNodeDocument(document), nullptr, u"x");
	ASSERT_NE(apart, nullptr);
	VXMLDOMElement_opaque* below = IXMLDomWrapper::AddNodeElement(apart, VString("y"), VString("text"));
	ASSERT_NE(below, nullptr);
	EXPECT_TRUE(IXMLDomWrapper::SetNodeElementAttribute(below, VString("k"), VString("v")));
	EXPECT_NE(IXMLDomWrapper::AddNodeElement(below, VString("z")), nullptr);
	{
		StErrorContextInstaller scope(false, true);
		IXMLDomWrapper::ReleaseNode(IXMLDomWrapper::GetNodeFromNodeElement(apart));
		EXPECT_EQ(scope.GetLastError(), VE_OK);
	}

	// A node still in the tree is refused and stays.
	VXMLDOMNode_opaque* child = IXMLDomWrapper::GetChildNode(IXMLDomWrapper::GetNodeFromNodeElement(IXMLDomWrapper::GetRootNodeElement(document)), 0);
	ASSERT_NE(child, nullptr);
	{
		StErrorContextInstaller scope(false, true);
		IXMLDomWrapper::ReleaseNode(child);
		EXPECT_EQ(scope.GetLastError(), VE_XML_ERROR);
	}
	EXPECT_EQ(Serialize(document), before);
	IXMLDomWrapper::ReleaseNode(document);
}

TEST_F(IXMLDomWrapperTest, EditsAndBagsRoundTrip)
{
	VXMLDOMNode_opaque* document = Load("<?xml version='1.0' encoding='UTF-8'?><root xmlns:n='urn:n'/>");
	ASSERT_NE(document, nullptr);
	VXMLDOMElement_opaque* root = IXMLDomWrapper::GetRootNodeElement(document);

	VValueBag* bag = new VValueBag();
	bag->SetString(StPackedDictionaryKey("name"), VString("a & <b>"));
	bag->SetLong8(StPackedDictionaryKey("count"), 3);
	bag->SetBool(StPackedDictionaryKey("on"), true);
	bag->SetString(StPackedDictionaryKey("none"), VString(true));
	bag->AppendToCData(VString("text\nline"));
	for (int i = 0; i < 2; ++i)
	{
		VValueBag* child = new VValueBag();
		child->SetLong8(StPackedDictionaryKey("i"), i);
		VValueBag* grandChild = new VValueBag();
		grandChild->SetString(StPackedDictionaryKey("deep"), VString("yes"));
		child->AddElement(StPackedDictionaryKey("g"), grandChild);
		grandChild->Release();
		bag->AddElement(StPackedDictionaryKey("item"), child);
		child->Release();
	}
	std::vector<VXMLDOMNode_opaque*> created;
	ASSERT_EQ(IXMLDomWrapper::WriteBagToDomXML(*bag, IXMLDomWrapper::GetNodeFromNodeElement(root), &created), VE_OK);
	EXPECT_EQ(created.size(), 4u);
	EXPECT_NE(IXMLDomWrapper::WriteBagToDomXML(*bag, document, nullptr), VE_OK);

	VValueBag* back = new VValueBag();
	ASSERT_EQ(IXMLDomWrapper::ReadBagFromDomXML(document, *back), VE_OK);
	VString text;
	EXPECT_TRUE(back->GetString(StPackedDictionaryKey("name"), text));
	EXPECT_EQ(U8(text), "a & <b>");
	EXPECT_TRUE(back->GetString(StPackedDictionaryKey("count"), text));
	EXPECT_EQ(U8(text), "3");
	EXPECT_TRUE(back->GetString(StPackedDictionaryKey("on"), text));
	EXPECT_EQ(U8(text), "true");
	EXPECT_FALSE(back->GetString(StPackedDictionaryKey("none"), text)) << "a null is no attribute";
	EXPECT_TRUE(back->GetString(StPackedDictionaryKey("<>"), text));
	EXPECT_EQ(U8(text), "text\nline");
	ASSERT_NE(back->GetElements(StPackedDictionaryKey("item")), nullptr);
	EXPECT_EQ(back->GetElements(StPackedDictionaryKey("item"))->GetCount(), 2);
	VValueBag* second = back->GetElements(StPackedDictionaryKey("item"))->_GetNth(2);
	ASSERT_NE(second, nullptr);
	EXPECT_TRUE(second->GetString(StPackedDictionaryKey("i"), text));
	EXPECT_EQ(U8(text), "1");
	ASSERT_NE(second->GetElements(StPackedDictionaryKey("g")), nullptr);
	back->Release();
	bag->Release();

	// Attributes: namespaced by prefix, kept or replaced, "id" declared as ID.
	bool existed = true;
	EXPECT_TRUE(IXMLDomWrapper::SetNodeElementAttribute(root, VString("xml:lang"), VString("de"), true, &existed));
	EXPECT_FALSE(existed);
	EXPECT_TRUE(IXMLDomWrapper::SetNodeElementAttribute(root, VString("xml:lang"), VString("it"), false, &existed));
	EXPECT_TRUE(existed);
	EXPECT_TRUE(IXMLDomWrapper::SetNodeElementAttribute(root, VString("n:id"), VString("key")));
	EXPECT_FALSE(IXMLDomWrapper::SetNodeElementAttribute(root, VString("bad name"), VString("x")));
	EXPECT_FALSE(IXMLDomWrapper::SetNodeElementAttribute(root, VString("u:x"), VString("x")));
	EXPECT_EQ(IXMLDomWrapper::FindNodeElementByID(document, VString("key")), root);
	VString lang;
	EXPECT_TRUE(IXMLDomWrapper::GetNodeElementAttribute(root, VString("xml:lang"), lang));
	EXPECT_EQ(U8(lang), "de");

	// Values in their XML forms; an unbound prefix and nesting past 1,024 are refused.
	VXMLDOMElement_opaque* values = IXMLDomWrapper::AddNodeElement(root, VString("values"));
	ASSERT_NE(values, nullptr);
	IXMLDomWrapper::AddNodeElement(values, VString("b"), static_cast<unsigned char>(1));
	IXMLDomWrapper::AddNodeElement(values, VString("i"), -7);
	IXMLDomWrapper::AddNodeElement(values, VString("r"), 0.5);
	IXMLDomWrapper::AddNodeElement(values, VString("n:e"));
	EXPECT_EQ(IXMLDomWrapper::AddNodeElement(values, VString("u:e")), nullptr);
	VString all;
	IXMLDomWrapper::GetNodeElementValueString(values, all);
	EXPECT_EQ(U8(all), "true-70.5");
	VXMLDOMElement_opaque* parent = values;
	int depth = 2;
	for (; depth <= 1100 && parent != nullptr; ++depth)
		parent = IXMLDomWrapper::AddNodeElement(parent, VString("d"));
	// The last element added sits 1,024 deep.
	EXPECT_EQ(depth, 1025);

	// The edited document reads back the same after serialising.
	const std::string serialised = Serialize(document);
	VXMLDOMNode_opaque* again = Load(serialised);
	ASSERT_NE(again, nullptr);
	EXPECT_EQ(Serialize(again), serialised);
	IXMLDomWrapper::ReleaseNode(again);
	IXMLDomWrapper::ReleaseNode(document);
	VTask::FlushErrors();
}

TEST_F(IXMLDomWrapperTest, LineEndsBecomeCarriageReturnsInEachEncoding)
{
	// A document's own serialisation: no line feed anywhere, one CR for each line end.
	VXMLDOMNode_opaque* document = Load("<r>a\nb\r\nc</r>");
	ASSERT_NE(document, nullptr);
	for (const bool pretty : {false, true})
	{
		const std::string out = Serialize(document, pretty);
		EXPECT_EQ(out.find('\n'), std::string::npos) << out;
		EXPECT_NE(out.find("a\rb\rc"), std::string::npos) << out;
	}
	IXMLDomWrapper::ReleaseNode(document);

	const std::string utf16le("a\0\r\0\n\0\n\0", 8);
	const std::string utf16be("\0a\0\r\0\n\0\n", 8);
	const std::string utf32be("\0\0\0\r\0\0\0\n\0\0\0\n\0\0\0a", 16);
	const std::string ebcdic("\xC1\x0D\x25", 3);
	const struct
	{
		const char* encoding;
		bool convert;
		std::string in;
		std::string out;
	} rows[] = {
		{"UTF-8", true, "a\r\nb\nc\rd", "a\rb\rc\rd"},
		{"utf-8", false, "a\r\nb", "a\r\nb"},
		{"UTF-8", true, std::string(65535, 'a') + "\r\nb\n", std::string(65535, 'a') + "\rb\r"},
		{"UTF-16LE", true, std::string(65534, 'a') + utf16le, std::string(65534, 'a') + std::string("a\0\r\0\r\0", 6)},
		{"ISO-8859-1", true, "\xE9\n", "\xE9\r"},
		{"UTF-16LE", true, utf16le, std::string("a\0\r\0\r\0", 6)},
		{"utf-16be", true, utf16be, std::string("\0a\0\r\0\r", 6)},
		{"UTF-16", true, utf16le, std::string("a\0\r\0\r\0", 6)},
		{"UTF-32BE", true, utf32be, std::string("\0\0\0\r\0\0\0\r\0\0\0a", 12)},
		{"ucs-4", true, std::string("\n\0\0\0", 4), std::string("\r\0\0\0", 4)},
		{"IBM037", true, ebcdic, ebcdic},
		{"no-such-encoding", true, "a\n", "a\n"},
	};
	for (const auto& row : rows)
	{
		xercesc::MemBufFormatTarget target;
		target.writeChars(reinterpret_cast<const XMLByte*>(row.in.data()), row.in.size(), nullptr);
		VBlobWithPtr blob;
		blob.PutData("xx", 2, 0);
		size_t size = 99;
		ASSERT_TRUE(IXMLDomWrapper::CopyMemBufFormatTargetToBlob(&blob, 2, size,
			reinterpret_cast<VXMLMemBufFormatTarget_opaque*>(&target), VString(row.encoding), row.convert))
			<< row.encoding;
		EXPECT_EQ(size, row.out.size()) << row.encoding;
		EXPECT_EQ(std::string(reinterpret_cast<const char*>(blob.GetDataPtr()), blob.GetSize()), "xx" + row.out) << row.encoding;
	}
	VTask::FlushErrors();
}

TEST_F(IXMLDomWrapperTest, WriteToFileReplacesTheWholeFile)
{
	VXMLDOMNode_opaque* document = Load("<r a='1'/>");
	ASSERT_NE(document, nullptr);
	const std::string expected = Serialize(document);
	const struct
	{
		const char* name;
		std::string before;  // empty: no file yet
	} rows[] = {{"new.xml", ""}, {"longer.xml", std::string(5000, 'z')}, {"shorter.xml", "<"}};
	for (const auto& row : rows)
	{
		VRefPtr<VFile> file = row.before.empty() ? File(row.name) : Write(row.name, row.before);
		EXPECT_TRUE(IXMLDomWrapper::WriteToFile(document, *file, false)) << row.name;
		EXPECT_EQ(Read(row.name), expected) << row.name;
	}

	// Into a stream the caller opened, after what it already wrote.
	VFileStream stream(File("stream.xml").Get(), FO_FOLLOW_LINK | FO_CREATE_IF_NOT_FOUND);
	ASSERT_EQ(stream.OpenWriting(), VE_OK);
	ASSERT_EQ(stream.PutData("<!-- -->", 8), VE_OK);
	size_t size = 0;
	EXPECT_TRUE(IXMLDomWrapper::SerializeToFile(document, stream, size, false));
	EXPECT_EQ(size, expected.size());
	ASSERT_EQ(stream.CloseWriting(), VE_OK);
	EXPECT_EQ(Read("stream.xml"), "<!-- -->" + expected);
	IXMLDomWrapper::ReleaseNode(document);
}

}  // namespace
}  // namespace velk
