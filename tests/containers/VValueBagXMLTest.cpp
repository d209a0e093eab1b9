// The bag's XML text: the exact text of elements, attributes and character data, indented and plain, the
// choice of CDATA sections, and hostile attribute and character data read back by an XML parser.
#include "containers/VValueBag.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include "containers/VBagTestHelpers.h"
#include "kernel/strings/VString.h"

namespace velk {
namespace {

using test::Text;
using test::StBag;
using test::AddChild;

void SetCData(VValueBag& bag, const std::u16string& text)
{
	bag.SetString(VValueBag::CDataAttributeName(), VString(text.data(), int32(text.size())));
}

TEST(VValueBagXMLTest, BagsAreWrittenAsTheirExactText)
{
	struct Row
	{
		const char* fName;
		std::function<void(VValueBag&)> fFill;
		std::u16string fIndented;
		std::u16string fPlain;
	};
	const Row rows[] = {
		{"empty", [](VValueBag&) {}, u"<a/>", u"<a/>"},
		{"attribute and empty child", [](VValueBag& b) { b.SetLong8("x", 1); AddChild(b, "b"); }, u"<a x=\"1\">\n\t<b/>\n</a>", u"<a x=\"1\">\n<b/></a>"},
		{"grandchild", [](VValueBag& b) { AddChild(*AddChild(b, "b"), "c"); }, u"<a>\n\t<b>\n\t\t<c/>\n\t</b>\n</a>", u"<a>\n<b>\n<c/></b></a>"},
		{"markers are not attributes", [](VValueBag& b) { b.SetBool("____objectunic", true); b.SetBool("____property_name_in_jsarray", true); b.SetBool("f", false); },
			u"<a f=\"false\"/>", u"<a f=\"false\"/>"},
		{"markup in character data", [](VValueBag& b) { SetCData(b, u"x<y"); }, u"<a><![CDATA[x<y]]></a>", u"<a><![CDATA[x<y]]></a>"},
		{"section end in character data", [](VValueBag& b) { SetCData(b, u"a]]>b"); }, u"<a><![CDATA[a]]>]]<![CDATA[>b]]></a>", u"<a><![CDATA[a]]>]]<![CDATA[>b]]></a>"},
		{"line ends among text", [](VValueBag& b) { SetCData(b, u"l1\nl2"); }, u"<a><![CDATA[l1\nl2]]></a>", u"<a><![CDATA[l1\nl2]]></a>"},
		{"plain character data", [](VValueBag& b) { SetCData(b, u"plain text"); AddChild(b, "b"); }, u"<a>\n\t<b/>plain text</a>", u"<a>\n<b/>plain text</a>"},
		{"blank character data keeps its blanks", [](VValueBag& b) { SetCData(b, u" \t\n "); }, u"<a>  </a>", u"<a>  </a>"},
		{"white character data without a blank", [](VValueBag& b) { SetCData(b, u"\t\n"); }, u"<a>\n</a>", u"<a></a>"},
		{"number as character data", [](VValueBag& b) { b.SetLong8(VValueBag::CDataAttributeName(), 7); }, u"<a>7</a>", u"<a>7</a>"},
		{"escaped attribute", [](VValueBag& b) { b.SetString("q", VString("a&b<c>\"'")); }, u"<a q=\"a&amp;b&lt;c&gt;&quot;&apos;\"/>", u"<a q=\"a&amp;b&lt;c&gt;&quot;&apos;\"/>"},
		{"line spaces and forbidden characters in an attribute",
			[](VValueBag& b) {
				const UniChar units[] = {u'1', 0x09, u'2', 0x0A, u'3', 0x0D, u'4', 0x01, 0xD800, u'5', 0xFFFE, 0xD83D, 0xDE00};
				b.SetString("v", VString(units, int32(std::size(units))));
			},
			u"<a v=\"1&#x9;2&#xA;3&#xD;45\U0001F600\"/>", u"<a v=\"1&#x9;2&#xA;3&#xD;45\U0001F600\"/>"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.fName);
		StBag bag;
		row.fFill(*bag);
		VString indented("<?xml?>");
		bag->DumpXML(indented, VString("a"), true);
		EXPECT_EQ(Text(indented), u"<?xml?>" + row.fIndented);
		VString plain;
		bag->DumpXML(plain, VString("a"), false);
		EXPECT_EQ(Text(plain), row.fPlain);
	}
}

std::u16string FromXerces(const XMLCh* text)
{
	return text != nullptr ? std::u16string(reinterpret_cast<const char16_t*>(text)) : std::u16string();
}

TEST(VValueBagXMLTest, HostileTextReadsBackThroughAnXMLParser)
{
	struct Row
	{
		std::u16string fValue;
		// What a reader finds in the attribute, and in the character data (where readers make every line
		// end a LF).
		std::u16string fRead;
		std::u16string fReadText;
	};
	const Row rows[] = {
		{u"tab\there", u"tab\there", u"tab\there"},
		{u"line\nfeed\rreturn", u"line\nfeed\rreturn", u"line\nfeed\nreturn"},
		{u"control\x01gone", u"controlgone", u"controlgone"},
		{std::u16string(u"lone") + char16_t(0xDC00) + u"surrogate" + char16_t(0xD800), u"lonesurrogate", u"lonesurrogate"},
		{u"a]]>b", u"a]]>b", u"a]]>b"},
		{u"]]]]>>&<\"'", u"]]]]>>&<\"'", u"]]]]>>&<\"'"},
	};
	xercesc::XMLPlatformUtils::Initialize();
	{
		StBag bag;
		for (size_t i = 0; i < std::size(rows); ++i)
		{
			VValueBag* child = AddChild(*bag, "item");
			child->SetString("value", VString(rows[i].fValue.data(), int32(rows[i].fValue.size())));
			SetCData(*child, rows[i].fValue);
		}
		VString xml;
		bag->DumpXML(xml, VString("items"), true);
		std::string bytes(size_t(xml.GetLength()) * 3 + 1, '\0');
		bytes.resize(xml.ToBlock(bytes.data(), bytes.size(), 7, false, false));

		xercesc::XercesDOMParser parser;
		xercesc::HandlerBase errors;
		parser.setErrorHandler(&errors);
		xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(bytes.data()), bytes.size(), "bag");
		ASSERT_NO_THROW(parser.parse(source)) << bytes;
		ASSERT_EQ(parser.getErrorCount(), 0u) << bytes;
		const xercesc::DOMElement* root = parser.getDocument()->getDocumentElement();
		ASSERT_NE(root, nullptr);
		const xercesc::DOMNodeList* items = root->getChildNodes();
		std::vector<const xercesc::DOMElement*> elements;
		for (XMLSize_t n = 0; n < items->getLength(); ++n)
		{
			if (items->item(n)->getNodeType() == xercesc::DOMNode::ELEMENT_NODE)
				elements.push_back(static_cast<const xercesc::DOMElement*>(items->item(n)));
		}
		ASSERT_EQ(elements.size(), std::size(rows));
		for (size_t i = 0; i < elements.size(); ++i)
		{
			SCOPED_TRACE(i);
			const std::u16string valueName = u"value";
			EXPECT_EQ(FromXerces(elements[i]->getAttribute(reinterpret_cast<const XMLCh*>(valueName.c_str()))), rows[i].fRead);
			EXPECT_EQ(FromXerces(elements[i]->getTextContent()), rows[i].fReadText);
		}
	}
	xercesc::XMLPlatformUtils::Terminate();
}

}  // namespace
}  // namespace velk
