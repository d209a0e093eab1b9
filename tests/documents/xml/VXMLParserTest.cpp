// The XML parser: the calls handlers receive for each kind of content, the errors of broken documents, the
// three inputs (bytes, text, file), entities resolved only inside the entity folder, and hostile documents
// that must end in an error without reading elsewhere or growing without bound.
#include "documents/xml/VXMLParser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/VTemporaryFolderTest.h"
#include "documents/xml/IXMLHandler.h"
#include "documents/xml/VNullXMLHandler.h"
#include "files/VFile.h"
#include "files/VFolder.h"
#include "kernel/intl/VTextConverters.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "documents/xml/XMLTestTexts.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace velk {
namespace {

using test::U8;

// This Xerces leaks the declaration it makes for an external DTD subset (its way out of a use-after-free),
// once for each document that loads one, resolved or not.
class StXercesDTDLeak
{
public:
	explicit StXercesDTDLeak(bool loadsSubset) : fLoadsSubset(loadsSubset)
	{
#if defined(__SANITIZE_ADDRESS__)
		if (fLoadsSubset)
			__lsan_disable();
#endif
	}
	~StXercesDTDLeak()
	{
#if defined(__SANITIZE_ADDRESS__)
		if (fLoadsSubset)
			__lsan_enable();
#endif
	}
	StXercesDTDLeak(const StXercesDTDLeak&) = delete;
	StXercesDTDLeak& operator=(const StXercesDTDLeak&) = delete;

private:
	bool fLoadsSubset;
};

// Writes every call it receives into a shared log ("<a" start, "@x=1" attribute, "'t" text, "/a" end, "ss"
// style-sheet calls); the children of an element named in skip are skipped. Values are cut at 64 bytes and the
// log at 4096 entries, so that hostile documents cannot fill it.
class VRecordingHandler : public VObject, public IXMLHandler
{
public:
	VRecordingHandler(std::vector<std::string>* log, std::set<std::string> skip) : fLog(log), fSkip(std::move(skip)) {}

	IXMLHandler* StartElement(const VString& name) override
	{
		_Log("<" + U8(name));
		if (fSkip.count(U8(name)) != 0)
			return nullptr;
		VRecordingHandler* child = new VRecordingHandler(fLog, fSkip);
		child->SetEntitiesLocalFolder(fEntityBasePath, fEntityFolder);
		return child;
	}
	void EndElement(const VString& name) override { _Log("/" + U8(name)); }
	void SetAttribute(const VString& name, const VString& value) override
	{
		_Log("@" + U8(name) + "=" + U8(value).substr(0, 64));
	}
	void SetText(const VString& text) override { _Log("'" + U8(text).substr(0, 64)); }
	void StartStyleSheet() override { _Log("ss"); }
	void SetStyleSheetAttribute(const VString& name, const VString& value) override
	{
		_Log("ss@" + U8(name) + "=" + U8(value));
	}
	void EndStyleSheet() override { _Log("/ss"); }

private:
	void _Log(const std::string& entry)
	{
		if (fLog->size() < 4096)
			fLog->push_back(entry);
	}

	std::vector<std::string>* fLog;
	std::set<std::string> fSkip;
};

std::string Join(const std::vector<std::string>& log)
{
	std::string joined;
	for (const std::string& entry : log)
		joined += (joined.empty() ? "" : " ") + entry;
	return joined;
}

std::vector<VRefPtr<VErrorBase>> Errors(const StErrorContextInstaller& scope)
{
	return scope.GetContext() != nullptr ? scope.GetContext()->GetErrors() : std::vector<VRefPtr<VErrorBase>>();
}

int64 Number(const VErrorBase* error, const char* name)
{
	int64 value = -1;
	error->GetLong8(VString(name), value);
	return value;
}

class VXMLParserTest : public test::VTemporaryFolderTest
{
protected:
	// Parses the UTF-8 bytes into a recording root handler; the log joined.
	std::string ParseBytes(const std::string& document, uint32 flags, const std::set<std::string>& skip, bool& ok,
		VXMLParser* parser = nullptr)
	{
		std::vector<std::string> log;
		VRefPtr<VRecordingHandler> root(new VRecordingHandler(&log, skip), true);
		VXMLParser local;
		ok = (parser != nullptr ? parser : &local)->Parse(document.data(), document.size(), root.Get(), flags);
		return Join(log);
	}
};

TEST_F(VXMLParserTest, EventsReachTheHandlers)
{
	struct Row
	{
		const char* what;
		std::string document;
		uint32 flags;
		std::set<std::string> skip;
		std::string expected;
	};
	const std::vector<Row> rows = {
		{"an empty element: start, attribute, end", "<a x=\"1\"/>", 0, {}, "<a @x=1 /a"},
		{"nested elements with text", "<r a='1' b='2'><c>t</c><d/></r>", 0, {}, "<r @a=1 @b=2 <c 't /c <d /d /r"},
		{"a null handler skips the subtree, not the siblings", "<r><s k='v'><x/>text</s><y/></r>", 0, {"s"},
			"<r <s <y /y /r"},
		{"a null handler for the document element", "<r a='1'><x/>text<?xml-stylesheet href='a'?></r>", 0, {"r"},
			"<r"},
		{"prefixed attribute names arrive whole", "<r yr:includeIf='mac' xml:lang='fr'/>", 0, {},
			"<r @yr:includeIf=mac @xml:lang=fr /r"},
		{"namespace processing gives the local names", "<r xmlns:yr='urn:y' yr:includeIf='mac'/>", eXML_Namespaces, {},
			"<r @yr=urn:y @includeIf=mac /r"},
		{"defaulted attributes are left out", "<!DOCTYPE r [<!ATTLIST r d CDATA 'dv'>]><r a='1'/>", eXML_ValidateNever, {},
			"<r @a=1 /r"},
		{"defaulted attributes with 0x10", "<!DOCTYPE r [<!ATTLIST r d CDATA 'dv'>]><r a='1'/>",
			eXML_ValidateNever | eXML_DefaultedAttributes, {}, "<r @a=1 @d=dv /r"},
		{"text splits at entity references", "<!DOCTYPE r [<!ENTITY e 'EE'>]><r>a&e;b</r>", eXML_ValidateNever, {},
			"<r 'a 'EE 'b /r"},
		{"character references and CDATA", "<r>&#233;<![CDATA[<x>]]></r>", 0, {}, "<r 'é '<x> /r"},
		{"style-sheet pseudo-attributes; an unquoted value gives no call",
			"<?xml-stylesheet href=\"a.css\" type='text/css' media=screen title=\" x y \"?><r/>", 0, {},
			"ss ss@href=a.css ss@type=text/css ss@title=x y /ss <r /r"},
		{"another instruction is not a style sheet", "<?other href='a'?><r/>", 0, {}, "<r /r"},
		{"comments and the declaration give nothing", "<?xml version='1.0'?><!-- c --><r><!-- d --></r>", 0, {},
			"<r /r"},
		{"non-ASCII UTF-8", "<r n='\xC3\xA9t\xC3\xA9'>\xE6\x96\x87\xF0\x9F\x98\x80</r>", 0, {},
			"<r @n=\xC3\xA9t\xC3\xA9 '\xE6\x96\x87\xF0\x9F\x98\x80 /r"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.what);
		StErrorContextInstaller scope(false, true);
		bool ok = false;
		EXPECT_EQ(ParseBytes(row.document, row.flags, row.skip, ok), row.expected);
		EXPECT_TRUE(ok);
		EXPECT_TRUE(Errors(scope).empty());
	}
}

TEST_F(VXMLParserTest, ValidationIsAutomaticWithoutEitherFlag)
{
	const std::string dtd = "<!DOCTYPE r [<!ELEMENT r (a)><!ELEMENT a EMPTY>]>";
	struct Row
	{
		const char* what;
		std::string document;
		uint32 flags;
		bool valid;
	};
	const std::vector<Row> rows = {
		{"a DOCTYPE: validated", dtd + "<r><a/></r>", 0, true},
		{"an element the DOCTYPE does not allow", dtd + "<r><b/></r>", 0, false},
		{"no DOCTYPE: not validated", "<r><b/></r>", 0, true},
		{"never", dtd + "<r><b/></r>", eXML_ValidateNever, true},
		{"always, without a DOCTYPE", "<r/>", eXML_ValidateAlways, false},
		// A DTD whose external subset is not loaded is not at hand: nothing to validate against.
		{"an external subset not loaded", "<!DOCTYPE r SYSTEM 'http://127.0.0.1:9/r.dtd'><r><b/></r>", 0, true},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.what);
		StErrorContextInstaller scope(false, true);
		bool ok = false;
		ParseBytes(row.document, row.flags, {}, ok);
		EXPECT_EQ(ok, row.valid);
		const std::vector<VRefPtr<VErrorBase>> errors = Errors(scope);
		if (row.valid)
		{
			EXPECT_TRUE(errors.empty());
		}
		else
		{
			ASSERT_FALSE(errors.empty());
			EXPECT_EQ(errors.front()->GetCode(), VE_XML_ERROR);
		}
	}
}

TEST_F(VXMLParserTest, BrokenDocumentsLeaveOneFatalErrorWhereTheyBreak)
{
	struct Row
	{
		const char* what;
		std::string document;
		int64 line;
		int64 column;
	};
	const std::vector<Row> rows = {
		{"an unclosed element", "<r>\n  <a>\n</r>", 3, 3},
		{"a document that ends inside an element", "<r>\n<a>", 2, 4},
		{"an undeclared entity", "<r>\n  &nope;</r>", 2, 9},
		{"nothing at all", "", 1, 1},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.what);
		StErrorContextInstaller scope(false, true);
		bool ok = true;
		ParseBytes(row.document, 0, {}, ok);
		EXPECT_FALSE(ok);
		const auto errors = Errors(scope);
		ASSERT_EQ(errors.size(), 1u);
		EXPECT_EQ(errors[0]->GetCode(), VE_XML_FATAL_ERROR);
		EXPECT_EQ(Number(errors[0].Get(), "line"), row.line);
		EXPECT_EQ(Number(errors[0].Get(), "column"), row.column);
		VString text;
		EXPECT_TRUE(errors[0]->GetString(VString("message"), text) && !text.IsEmpty());
		EXPECT_TRUE(errors[0]->GetString(VString("systemID"), text) && text.EqualToUSASCIICString("frommem"));
	}
}

TEST_F(VXMLParserTest, TextAndFilesAreReadAsTheySay)
{
	// A string is UTF-16 whatever its declaration says.
	{
		StErrorContextInstaller scope(false, true);
		std::vector<std::string> log;
		VRefPtr<VRecordingHandler> root(new VRecordingHandler(&log, {}), true);
		VXMLParser parser;
		const VString text(u"<?xml version='1.0' encoding='ISO-8859-1'?><r a='\u00E9'>\u20AC\u6587</r>");
		EXPECT_TRUE(parser.Parse(text, root.Get(), 0));
		EXPECT_EQ(Join(log), "<r @a=\xC3\xA9 '\xE2\x82\xAC\xE6\x96\x87 /r");
		EXPECT_TRUE(Errors(scope).empty());
	}
	// A file whose name is not ASCII, read through the file layer.
	{
		StErrorContextInstaller scope(false, true);
		VRefPtr<VFile> file = Write("d\xC3\xB6n\xC3\xBC\xC5\x9F \xE6\x96\x87.xml", "<r>\xC3\xA9</r>");
		std::vector<std::string> log;
		VRefPtr<VRecordingHandler> root(new VRecordingHandler(&log, {}), true);
		VXMLParser parser;
		EXPECT_TRUE(parser.Parse(file.Get(), root.Get(), 0));
		EXPECT_EQ(Join(log), "<r '\xC3\xA9 /r");
		EXPECT_TRUE(Errors(scope).empty());
	}
	// A missing file: false with the file layer's error, nothing parsed.
	{
		StErrorContextInstaller scope(false, true);
		std::vector<std::string> log;
		VRefPtr<VRecordingHandler> root(new VRecordingHandler(&log, {}), true);
		VXMLParser parser;
		EXPECT_FALSE(parser.Parse(File("missing.xml").Get(), root.Get(), 0));
		EXPECT_TRUE(log.empty());
		const auto errors = Errors(scope);
		ASSERT_FALSE(errors.empty());
		EXPECT_NE(ERRCODE_SIGNATURE(errors.back()->GetCode()), kXML_SIGNATURE);
	}
}

TEST_F(VXMLParserTest, EntitiesResolveOnlyInsideTheEntityFolder)
{
	std::filesystem::create_directories(fRoot + "ents/sub");
	Write("secret.txt", "SECRET");
	Write("secret.dtd", "<!ATTLIST r leak CDATA 'SECRET'>");
	Write("ents/ok.ent", "INSIDE");
	Write("ents/sub/deep.ent", "DEEP");
	Write("ents/ok.dtd", "<!ATTLIST r leak CDATA 'INSIDE'>");
	VRefPtr<VFolder> folder(new VFolder(VString((fRoot + "ents/").c_str()), FPS_POSIX), true);
	const VString base("http://example.com/ents/");

	// The resolution rule itself.
	const struct
	{
		const char* systemID;
		bool found;
	} names[] = {
		{"http://example.com/ents/ok.ent", true},
		{"http://example.com/ents/sub/deep.ent", true},
		{"http://example.com/ents/", false},
		{"http://example.com/ents/missing.ent", false},
		{"http://example.com/ents/sub", false},
		{"http://example.com/ents/sub//deep.ent", false},
		{"http://example.com/ents/sub///secret.txt", false},
		{"http://example.com/ents/../secret.txt", false},
		{"http://example.com/ents/sub/../../secret.txt", false},
		{"http://example.com/ents/:secret.txt", false},
		{"http://example.com/ents/sub/", false},
		{"http://example.com/other/ok.ent", false},
		{"ok.ent", false},
	};
	for (const auto& name : names)
	{
		SCOPED_TRACE(name.systemID);
		VRefPtr<VFile> file(VXMLParser::ResolveEntityFromFolder(base, folder.Get(), VString(name.systemID)), true);
		EXPECT_EQ(file.Get() != nullptr, name.found);
		EXPECT_EQ(VXMLParser::ResolveEntityFromFolder(base, nullptr, VString(name.systemID)), nullptr);
	}

	// Documents: what a handler may see. The parser's folder serves every handler; "file:" and "http:" are
	// never fetched, and the external DTD is read only with 0x08.
	const std::string secretPath = "file://" + fRoot + "secret";
	struct Row
	{
		const char* what;
		std::string document;
		uint32 flags;
		std::string expected;
	};
	const std::vector<Row> rows = {
		{"an entity in the folder", "<!DOCTYPE r [<!ENTITY e SYSTEM 'http://example.com/ents/ok.ent'>]><r>&e;</r>", 0,
			"<r 'INSIDE /r"},
		{"an entity in a subfolder", "<!DOCTYPE r [<!ENTITY e SYSTEM 'http://example.com/ents/sub/deep.ent'>]><r>&e;</r>",
			0, "<r 'DEEP /r"},
		{"a file URL", "<!DOCTYPE r [<!ENTITY e SYSTEM '" + secretPath + ".txt'>]><r>&e;</r>", 0, "<r /r"},
		{"a plain path", "<!DOCTYPE r [<!ENTITY e SYSTEM '" + fRoot + "secret.txt'>]><r>&e;</r>", 0, "<r /r"},
		{"a network URL", "<!DOCTYPE r [<!ENTITY e SYSTEM 'http://127.0.0.1:9/x'>]><r>&e;</r>", 0, "<r /r"},
		{"a parent step", "<!DOCTYPE r [<!ENTITY e SYSTEM 'http://example.com/ents/../secret.txt'>]><r>&e;</r>", 0,
			"<r /r"},
		{"an empty step", "<!DOCTYPE r [<!ENTITY e SYSTEM 'http://example.com/ents/sub///secret.txt'>]><r>&e;</r>", 0,
			"<r /r"},
		{"an outside DTD with 0x08", "<!DOCTYPE r SYSTEM '" + secretPath + ".dtd'><r/>",
			eXML_LoadExternalDTD | eXML_DefaultedAttributes, "<r /r"},
		{"a network DTD with 0x08", "<!DOCTYPE r SYSTEM 'http://127.0.0.1:9/r.dtd'><r/>",
			eXML_LoadExternalDTD | eXML_DefaultedAttributes, "<r /r"},
		{"a DTD in the folder with 0x08", "<!DOCTYPE r SYSTEM 'http://example.com/ents/ok.dtd'><r/>",
			eXML_LoadExternalDTD | eXML_DefaultedAttributes | eXML_ValidateNever, "<r @leak=INSIDE /r"},
		{"a DTD in the folder, automatic validation, no 0x08", "<!DOCTYPE r SYSTEM 'http://example.com/ents/ok.dtd'><r/>",
			eXML_DefaultedAttributes, "<r /r"},
		{"a DTD in the folder, validation always, no 0x08", "<!DOCTYPE r SYSTEM 'http://example.com/ents/ok.dtd'><r/>",
			eXML_ValidateAlways | eXML_DefaultedAttributes, "<r /r"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.what);
		StErrorContextInstaller scope(false, true);
		VXMLParser parser;
		parser.SetEntitiesLocalFolder(base, folder.Get());
		const StXercesDTDLeak leak((row.flags & (eXML_LoadExternalDTD | eXML_ValidateAlways)) != 0
			&& row.document.find("<!DOCTYPE r SYSTEM") == 0);
		bool ok = false;
		EXPECT_EQ(ParseBytes(row.document, row.flags, {}, ok, &parser), row.expected);
	}

	// A handler's own folder serves its own content.
	{
		StErrorContextInstaller scope(false, true);
		std::vector<std::string> log;
		VRefPtr<VRecordingHandler> root(new VRecordingHandler(&log, {}), true);
		root->SetEntitiesLocalFolder(base, folder.Get());
		VXMLParser parser;
		const std::string document = "<!DOCTYPE r [<!ENTITY e SYSTEM 'http://example.com/ents/ok.ent'>]><r>&e;</r>";
		EXPECT_TRUE(parser.Parse(document.data(), document.size(), root.Get(), eXML_ValidateNever));
		EXPECT_EQ(Join(log), "<r 'INSIDE /r");
	}
}

TEST_F(VXMLParserTest, HostileDocumentsEndInAnError)
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
	for (int i = 0; i < 40000; ++i)
		quadratic += "&big;";
	quadratic += "</r>";
	std::string quadraticAttribute = "<!DOCTYPE r [<!ENTITY big '" + std::string(100000, 'x') + "'>]><r a='";
	for (int i = 0; i < 40000; ++i)
		quadraticAttribute += "&big;";
	quadraticAttribute += "'/>";
	std::string defaulted = "<!DOCTYPE r [<!ATTLIST a d CDATA '" + std::string(100000, 'x') + "'>]><r>";
	for (int i = 0; i < 100000; ++i)
		defaulted += "<a/>";
	defaulted += "</r>";
	std::string deep;
	for (int i = 0; i < 100000; ++i)
		deep += "<a>";
	std::string deepAllowed;
	for (int i = 0; i < 1024; ++i)
		deepAllowed += "<a>";
	for (int i = 0; i < 1024; ++i)
		deepAllowed += "</a>";

	struct Row
	{
		const char* what;
		const std::string* document;
		std::set<std::string> skip;
		uint32 flags;
		bool ok;
		const char* message;  // part of the message of the last error, when the parse fails
	};
	const std::vector<Row> rows = {
		{"billion laughs", &laughs, {}, eXML_ValidateNever, false, "entity expansions"},
		{"quadratic blow-up", &quadratic, {}, eXML_ValidateNever, false, "entity expansions"},
		{"quadratic blow-up in a skipped element", &quadratic, {"r"}, eXML_ValidateNever, false, "entity expansions"},
		{"quadratic blow-up in an attribute value", &quadraticAttribute, {}, eXML_ValidateNever, false, "entity expansions"},
		{"a long defaulted attribute on many elements", &defaulted, {}, eXML_ValidateNever | eXML_DefaultedAttributes, false,
			"characters"},
		{"the same without defaulted attributes", &defaulted, {}, eXML_ValidateNever, true, ""},
		{"100,000 open elements", &deep, {}, 0, false, "1024"},
		{"100,000 open elements skipped", &deep, {"a"}, 0, false, "1024"},
		{"1,024 open elements", &deepAllowed, {}, 0, true, ""},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.what);
		StErrorContextInstaller scope(false, true);
		bool ok = !row.ok;
		ParseBytes(*row.document, row.flags, row.skip, ok);
		EXPECT_EQ(ok, row.ok);
		const auto errors = Errors(scope);
		if (row.ok)
		{
			EXPECT_TRUE(errors.empty());
			continue;
		}
		ASSERT_FALSE(errors.empty());
		EXPECT_EQ(errors.back()->GetCode(), VE_XML_FATAL_ERROR);
		VString message;
		errors.back()->GetString(VString("message"), message);
		EXPECT_NE(U8(message).find(row.message), std::string::npos) << U8(message);
		EXPECT_GT(Number(errors.back().Get(), "line"), 0);
		EXPECT_GT(Number(errors.back().Get(), "column"), 0);
	}

	// Every truncation of a small sample fails cleanly.
	const std::string sample = "<?xml version='1.0' encoding='UTF-8'?><!DOCTYPE r [<!ENTITY e 'v'>]>"
		"<r a='1' yr:b=\"&e;\"><c>t&e;&amp;\xC3\xA9</c><![CDATA[x]]><?pi d?><!-- c --><d/></r>";
	for (size_t size = 0; size < sample.size(); ++size)
	{
		SCOPED_TRACE(size);
		StErrorContextInstaller scope(false, true);
		VRefPtr<VNullXMLHandler> root(new VNullXMLHandler, true);
		VXMLParser parser;
		EXPECT_FALSE(parser.Parse(sample.data(), size, root.Get(), 0));
		const auto errors = Errors(scope);
		ASSERT_FALSE(errors.empty());
		EXPECT_EQ(errors.back()->GetCode(), VE_XML_FATAL_ERROR);
	}
}

}  // namespace
}  // namespace velk
