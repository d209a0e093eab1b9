// A 20 MB XLIFF-like document (groups of translation units with attributes, entity and character
// references, CDATA sections and non-ASCII UTF-8 text) parsed from memory into counting handlers: through
// VXMLParser and its element handlers, through a bare Xerces SAX parser (what the bridge costs), and, when
// they are installed, through libxml2's SAX2 interface and Expat. Throughput counts the document's bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/AttributeList.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#if VELK_BENCH_HAVE_LIBXML2
#include <libxml/parser.h>
#endif
#if VELK_BENCH_HAVE_EXPAT
#include <expat.h>
#endif

#include "BenchProcess.h"
#include "documents/xml/IXMLHandler.h"
#include "documents/xml/VXMLParser.h"
#include "kernel/memory/VRefPtr.h"

namespace {

// What every parser reports, so that each does the same work and the figures can be compared.
struct Counts
{
	int64_t fElements = 0;
	int64_t fAttributes = 0;
	int64_t fCharacters = 0;  // UTF-16 units for the UTF-16 parsers, bytes for the UTF-8 ones
};

const std::string& Document()
{
	static const std::string sDocument = []
	{
		std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
			"<xliff version=\"1.2\" xmlns:yr=\"urn:example:yr\">\n"
			"<file original=\"Errors.xlf\" source-language=\"en\" target-language=\"fr\" datatype=\"plaintext\">\n<body>\n";
		int unit = 0;
		for (int group = 0; text.size() < 20u * 1024 * 1024; ++group)
		{
			const std::string g = std::to_string(group);
			text += "<group id=\"g" + g + "\" resname=\"Group_" + g + "\" yr:includeIf=\"mac\">\n";
			for (int i = 0; i < 20; ++i, ++unit)
			{
				const std::string u = std::to_string(unit);
				text += "\t<trans-unit id=\"" + u + "\" resname=\"ERR_velk_" + u + "\" translate=\"yes\" yr:excludeIf=\"win\">\n"
					"\t\t<source>Cannot open the file &quot;{name}&quot; &amp; its copy &lt;" + u + "&gt;.</source>\n"
					"\t\t<target state=\"translated\">Impossible d&apos;ouvrir le fichier \xC2\xAB {name} \xC2\xBB, d\xC3\xA9j\xC3\xA0 "
					"ouvert &#233;&#x20AC; \xE6\x96\x87\xE6\x9B\xB8.</target>\n"
					"\t\t<note><![CDATA[<b>" + u + "</b> & markup kept as text]]></note>\n"
					"\t</trans-unit>\n";
			}
			text += "</group>\n";
		}
		text += "</body>\n</file>\n</xliff>\n";
		return text;
	}();
	return sDocument;
}

// One handler for the whole tree: every element is given to itself.
class VCountingXMLHandler : public velk::VObject, public velk::IXMLHandler
{
public:
	explicit VCountingXMLHandler(Counts& counts) : fCounts(counts) {}
	IXMLHandler* StartElement(const velk::VString& /*name*/) override
	{
		++fCounts.fElements;
		Retain();
		return this;
	}
	void SetAttribute(const velk::VString& /*name*/, const velk::VString& value) override
	{
		++fCounts.fAttributes;
		fCounts.fCharacters += value.GetLength();
	}
	void SetText(const velk::VString& text) override { fCounts.fCharacters += text.GetLength(); }

private:
	Counts& fCounts;
};

void Report(benchmark::State& state, const Counts& counts)
{
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Document().size()));
	state.counters["elements"] = double(counts.fElements);
	state.counters["attributes"] = double(counts.fAttributes);
}

void BM_XML_Velk(benchmark::State& state)
{
	bench::EnsureProcess();
	velk::VXMLParser::Init();
	const std::string& document = Document();
	Counts counts;
	for (auto _ : state)
	{
		counts = Counts();
		velk::VRefPtr<VCountingXMLHandler> root(new VCountingXMLHandler(counts), true);
		velk::VXMLParser parser;
		if (!parser.Parse(document.data(), document.size(), root.Get(), 0))
		{
			state.SkipWithError("VXMLParser refused the document");
			break;
		}
	}
	Report(state, counts);
}
BENCHMARK(BM_XML_Velk)->Unit(benchmark::kMillisecond);

class XercesCountingHandler : public xercesc::HandlerBase
{
public:
	explicit XercesCountingHandler(Counts& counts) : fCounts(counts) {}
	void startElement(const XMLCh* const /*name*/, xercesc::AttributeList& attributes) override
	{
		++fCounts.fElements;
		const XMLSize_t count = attributes.getLength();
		fCounts.fAttributes += int64_t(count);
		for (XMLSize_t i = 0; i < count; ++i)
			fCounts.fCharacters += int64_t(xercesc::XMLString::stringLen(attributes.getValue(i)));
	}
	void characters(const XMLCh* const /*chars*/, const XMLSize_t length) override { fCounts.fCharacters += int64_t(length); }

private:
	Counts& fCounts;
};

void BM_XML_XercesSAX(benchmark::State& state)
{
	bench::EnsureProcess();
	velk::VXMLParser::Init();
	const std::string& document = Document();
	Counts counts;
	for (auto _ : state)
	{
		counts = Counts();
		XercesCountingHandler handler(counts);
		xercesc::SAXParser parser;
		parser.setValidationScheme(xercesc::SAXParser::Val_Never);
		parser.setDoNamespaces(false);
		parser.setLoadExternalDTD(false);
		parser.setDocumentHandler(&handler);
		parser.setErrorHandler(&handler);
		xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(document.data()), document.size(), "bench");
		parser.parse(source);
		if (parser.getErrorCount() != 0)
		{
			state.SkipWithError("Xerces refused the document");
			break;
		}
	}
	Report(state, counts);
}
BENCHMARK(BM_XML_XercesSAX)->Unit(benchmark::kMillisecond);

#if VELK_BENCH_HAVE_LIBXML2
void BM_XML_Libxml2SAX2(benchmark::State& state)
{
	const std::string& document = Document();
	Counts counts;
	xmlSAXHandler handler;
	std::memset(&handler, 0, sizeof(handler));
	handler.initialized = XML_SAX2_MAGIC;
	handler.startElementNs = [](void* context, const xmlChar*, const xmlChar*, const xmlChar*, int, const xmlChar**,
								 int attributeCount, int, const xmlChar** attributes)
	{
		Counts& c = *static_cast<Counts*>(context);
		++c.fElements;
		c.fAttributes += attributeCount;
		// Five pointers per attribute: local name, prefix, URI, value start, value end.
		for (int i = 0; i < attributeCount; ++i)
			c.fCharacters += attributes[i * 5 + 4] - attributes[i * 5 + 3];
	};
	handler.characters = [](void* context, const xmlChar*, int length) { static_cast<Counts*>(context)->fCharacters += length; };
	handler.cdataBlock = handler.characters;
	for (auto _ : state)
	{
		counts = Counts();
		if (xmlSAXUserParseMemory(&handler, &counts, document.data(), int(document.size())) != 0)
		{
			state.SkipWithError("libxml2 refused the document");
			break;
		}
	}
	Report(state, counts);
}
BENCHMARK(BM_XML_Libxml2SAX2)->Unit(benchmark::kMillisecond);
#endif

#if VELK_BENCH_HAVE_EXPAT
void BM_XML_Expat(benchmark::State& state)
{
	const std::string& document = Document();
	Counts counts;
	for (auto _ : state)
	{
		counts = Counts();
		XML_Parser parser = XML_ParserCreate(nullptr);
		XML_SetUserData(parser, &counts);
		XML_SetStartElementHandler(parser, [](void* context, const XML_Char*, const XML_Char** attributes)
			{
				Counts& c = *static_cast<Counts*>(context);
				++c.fElements;
				for (int i = 0; attributes[i] != nullptr; i += 2)
				{
					++c.fAttributes;
					c.fCharacters += int64_t(std::strlen(attributes[i + 1]));
				}
			});
		XML_SetCharacterDataHandler(parser, [](void* context, const XML_Char*, int length)
			{ static_cast<Counts*>(context)->fCharacters += length; });
		const bool ok = XML_Parse(parser, document.data(), int(document.size()), 1) == XML_STATUS_OK;
		XML_ParserFree(parser);
		if (!ok)
		{
			state.SkipWithError("Expat refused the document");
			break;
		}
	}
	Report(state, counts);
}
BENCHMARK(BM_XML_Expat)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
