// A generated 5 MB document (records with attributes, text over several lines, entity references, CDATA
// and non-ASCII UTF-8) parsed into a DOM and serialised back: through IXMLDomWrapper, through a bare
// Xerces LS parser and serializer set up the same way (what the wrapper costs), and through libxml2 when it
// is installed. Throughput counts the document's bytes.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/Wrapper4InputSource.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLUni.hpp>

#if VELK_BENCH_HAVE_LIBXML2
#include <libxml/parser.h>
#include <libxml/tree.h>
#endif

#include "BenchProcess.h"
#include "documents/xml/IXMLDomWrapper.h"
#include "documents/xml/VXMLParser.h"
#include "kernel/values/VBlob.h"

namespace {

using namespace xercesc;

const std::string& Document()
{
	static const std::string sDocument = []
	{
		std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<catalog xmlns:x=\"urn:example:x\">\n";
		for (int record = 0; text.size() < 5u * 1000 * 1000; ++record)
		{
			const std::string r = std::to_string(record);
			text += "  <record id=\"r" + r + "\" x:kind=\"entry\" version=\"" + std::to_string(record % 7) + "\">\n"
				"    <name>Record &quot;" + r + "&quot; &amp; its caf\xC3\xA9</name>\n"
				"    <text>First line of " + r + "\nsecond line\r\nthird line</text>\n"
				"    <data><![CDATA[<raw " + r + "/> & kept]]></data>\n"
				"    <empty flag=\"true\"/>\n"
				"  </record>\n";
		}
		text += "</catalog>\n";
		return text;
	}();
	return sDocument;
}

// The bare parser with the wrapper's settings.
DOMDocument* XercesParse(const std::string& document)
{
	DOMImplementation* implementation = DOMImplementationRegistry::getDOMImplementation(u"LS");
	DOMLSParser* parser = static_cast<DOMImplementationLS*>(implementation)->createLSParser(DOMImplementationLS::MODE_SYNCHRONOUS, nullptr);
	DOMConfiguration* config = parser->getDomConfig();
	config->setParameter(XMLUni::fgDOMEntities, true);
	config->setParameter(XMLUni::fgDOMNamespaces, true);
	config->setParameter(XMLUni::fgDOMValidate, false);
	config->setParameter(XMLUni::fgXercesLoadExternalDTD, false);
	config->setParameter(XMLUni::fgXercesUserAdoptsDOMDocument, true);
	Wrapper4InputSource input(new MemBufInputSource(reinterpret_cast<const XMLByte*>(document.data()), document.size(), u"Blob"));
	DOMDocument* result = parser->parse(&input);
	parser->release();
	return result;
}

void BM_XMLDom_Parse_Velk(benchmark::State& state)
{
	bench::EnsureProcess();
	const std::string& document = Document();
	for (auto _ : state)
	{
		VXMLDOMNode_opaque* node = velk::IXMLDomWrapper::CreateNodeDocumentFromBuffer(document.data(), document.size());
		if (node == nullptr)
			state.SkipWithError("the wrapper did not parse the document");
		velk::IXMLDomWrapper::ReleaseNode(node);
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(document.size()));
}
BENCHMARK(BM_XMLDom_Parse_Velk)->Unit(benchmark::kMillisecond);

void BM_XMLDom_Parse_Xerces(benchmark::State& state)
{
	bench::EnsureProcess();
	velk::VXMLParser::Init();
	const std::string& document = Document();
	for (auto _ : state)
	{
		DOMDocument* result = XercesParse(document);
		if (result == nullptr)
			state.SkipWithError("Xerces did not parse the document");
		else
			result->release();
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(document.size()));
}
BENCHMARK(BM_XMLDom_Parse_Xerces)->Unit(benchmark::kMillisecond);

void BM_XMLDom_Serialize_Velk(benchmark::State& state)
{
	bench::EnsureProcess();
	const std::string& document = Document();
	VXMLDOMNode_opaque* node = velk::IXMLDomWrapper::CreateNodeDocumentFromBuffer(document.data(), document.size());
	for (auto _ : state)
	{
		velk::VBlobWithPtr blob;
		size_t size = 0;
		if (!velk::IXMLDomWrapper::SerializeToBlob(node, &blob, 0, size, false))
			state.SkipWithError("the wrapper did not serialise the document");
		benchmark::DoNotOptimize(blob.GetDataPtr());
	}
	velk::IXMLDomWrapper::ReleaseNode(node);
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(document.size()));
}
BENCHMARK(BM_XMLDom_Serialize_Velk)->Unit(benchmark::kMillisecond);

void BM_XMLDom_Serialize_Xerces(benchmark::State& state)
{
	bench::EnsureProcess();
	velk::VXMLParser::Init();
	const std::string& document = Document();
	DOMDocument* parsed = XercesParse(document);
	DOMImplementation* implementation = DOMImplementationRegistry::getDOMImplementation(u"LS");
	for (auto _ : state)
	{
		MemBufFormatTarget target(1023);
		DOMLSSerializer* serializer = static_cast<DOMImplementationLS*>(implementation)->createLSSerializer();
		DOMLSOutput* output = static_cast<DOMImplementationLS*>(implementation)->createLSOutput();
		serializer->getDomConfig()->setParameter(XMLUni::fgDOMWRTFormatPrettyPrint, false);
		serializer->setNewLine(u"\n");
		output->setByteStream(&target);
		output->setEncoding(u"UTF-8");
		if (!serializer->write(parsed, output))
			state.SkipWithError("Xerces did not serialise the document");
		benchmark::DoNotOptimize(target.getRawBuffer());
		output->release();
		serializer->release();
	}
	parsed->release();
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(document.size()));
}
BENCHMARK(BM_XMLDom_Serialize_Xerces)->Unit(benchmark::kMillisecond);

#if VELK_BENCH_HAVE_LIBXML2
void BM_XMLDom_Parse_Libxml2(benchmark::State& state)
{
	const std::string& document = Document();
	for (auto _ : state)
	{
		xmlDocPtr result = xmlReadMemory(document.data(), int(document.size()), "Blob", nullptr, XML_PARSE_NONET);
		if (result == nullptr)
			state.SkipWithError("libxml2 did not parse the document");
		xmlFreeDoc(result);
	}
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(document.size()));
}
BENCHMARK(BM_XMLDom_Parse_Libxml2)->Unit(benchmark::kMillisecond);

void BM_XMLDom_Serialize_Libxml2(benchmark::State& state)
{
	const std::string& document = Document();
	xmlDocPtr parsed = xmlReadMemory(document.data(), int(document.size()), "Blob", nullptr, XML_PARSE_NONET);
	for (auto _ : state)
	{
		xmlChar* text = nullptr;
		int size = 0;
		xmlDocDumpMemoryEnc(parsed, &text, &size, "UTF-8");
		benchmark::DoNotOptimize(text);
		xmlFree(text);
	}
	xmlFreeDoc(parsed);
	state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(document.size()));
}
BENCHMARK(BM_XMLDom_Serialize_Libxml2)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
