// The bridge between Xerces's SAX parser and a tree of element handlers, built for one parse: it keeps the
// stack of handlers of the open elements, turns Xerces's errors into toolbox errors, resolves entities only
// through the handlers and the parser's entity folder, and stops a document that opens too many elements
// or delivers too many characters.
#pragma once

#include <deque>

#include <xercesc/framework/XMLDocumentHandler.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax/EntityResolver.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/HandlerBase.hpp>

#include "kernel/memory/VRefPtr.h"
#include "runtime/VError.h"

namespace velk {

class IXMLHandler;
class VString;
class VXMLParser;

// Xerces's SAX parser, with the position of the scanner readable so that the bridge's own errors say
// where they happened.
class VXercesSAXParser : public xercesc::SAXParser
{
public:
	VXercesSAXParser();
	const xercesc::Locator* GetLocator() const;

	// Installs security (not owned) and keeps its entity expansion limit low enough that the expansions of
	// the longest internal entity declared cannot deliver more than characterLimit units: Xerces builds an
	// attribute value whole before handing it over, so only this bounds "&big;" repeated in one.
	void SetBounds(xercesc::SecurityManager* security, uint64 characterLimit);
	void entityDecl(const xercesc::DTDEntityDecl& entityDecl, const bool isPEDecl, const bool isIgnored) override;
	// Under "auto" validation, a document whose DTD has an external subset that is not loaded is not
	// validated: the DTD is not at hand (and Xerces would read that subset anyway to validate).
	void doctypeDecl(const xercesc::DTDElementDecl& elemDecl, const XMLCh* const publicId, const XMLCh* const systemId,
		const bool hasIntSubset, const bool hasExtSubset) override;

private:
	// Xerces reports declarations to entityDecl only while a DTD handler is installed.
	xercesc::HandlerBase fNoDTDHandler;
	xercesc::SecurityManager* fSecurity = nullptr;
	uint64 fCharacterLimit = 0;
	XMLSize_t fLongestEntity = 0;
};

// Thrown by the bridge, after it pushed its fatal error, to end a parse that passed a bound; the parse
// catches it.
struct VXMLParseStopped
{
};

class SAX_Handlers : public xercesc::XMLDocumentHandler, public xercesc::ErrorHandler, public xercesc::EntityResolver
{
public:
	// Open elements a document may nest.
	static constexpr size_t kMaxOpenElements = 1024;

	// root is pushed, retained (it may be null: the document is then read and dropped). characterLimit
	// bounds the UTF-16 units of text and attribute values delivered. Without loadExternalDTD nothing is
	// resolved before the document element begins (unless schemas are processed), so the external DTD
	// stays unread even when validation asks for it.
	SAX_Handlers(IXMLHandler* root, VXercesSAXParser* parser, VXMLParser* xmlParser, uint64 characterLimit,
		bool loadExternalDTD, bool schema);
	~SAX_Handlers() override;

	SAX_Handlers(const SAX_Handlers&) = delete;
	SAX_Handlers& operator=(const SAX_Handlers&) = delete;

	// Whether a fatal error or a bound stopped the parse (its error is pushed).
	bool HasStopped() const { return fStopped; }

	// XMLDocumentHandler
	void docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection) override;
	void docComment(const XMLCh* const comment) override;
	void docPI(const XMLCh* const target, const XMLCh* const data) override;
	void endDocument() override;
	void endElement(const xercesc::XMLElementDecl& elemDecl, const unsigned int uriId, const bool isRoot,
		const XMLCh* const prefixName) override;
	void endEntityReference(const xercesc::XMLEntityDecl& entDecl) override;
	void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection) override;
	void resetDocument() override;
	void startDocument() override;
	void startElement(const xercesc::XMLElementDecl& elemDecl, const unsigned int uriId, const XMLCh* const prefixName,
		const xercesc::RefVectorOf<xercesc::XMLAttr>& attrList, const XMLSize_t attrCount, const bool isEmpty,
		const bool isRoot) override;
	void startEntityReference(const xercesc::XMLEntityDecl& entDecl) override;
	void XMLDecl(const XMLCh* const versionStr, const XMLCh* const encodingStr, const XMLCh* const standaloneStr,
		const XMLCh* const autoEncodingStr) override;

	// ErrorHandler: errors ('xmlc', 2) and fatal errors ('xmlc', 3) pushed; warnings ignored. A fatal error
	// ends the parse (VXMLParseStopped).
	void warning(const xercesc::SAXParseException& exc) override;
	void error(const xercesc::SAXParseException& exc) override;
	void fatalError(const xercesc::SAXParseException& exc) override;
	void resetErrors() override;

	// EntityResolver: the current handler's ResolveEntity, then the parser's; anything else an empty source,
	// so that Xerces never opens a file or a URL by itself.
	xercesc::InputSource* resolveEntity(const XMLCh* const publicId, const XMLCh* const systemId) override;

	// Pushes ('xmlc', 2) or ('xmlc', 3) with its "message", "systemID", "publicID", "line" and "column".
	// The fatal error's text when a document delivers more than limit characters.
	static VString CharacterLimitMessage(uint64 limit);
	static void PushError(VError code, const VString& message, const XMLCh* systemID, const XMLCh* publicID,
		int64 line, int64 column);

private:
	// Counts units towards the limit; past it, stops the parse.
	void _Deliver(XMLSize_t units);
	// Pushes a fatal error at the scanner's position and throws VXMLParseStopped.
	[[noreturn]] void _Stop(const VString& message);

	std::deque<VRefPtr<IXMLHandler>> fHandlers;  // an entry is null inside a skipped element
	VXercesSAXParser* fParser;
	VXMLParser* fXMLParser;
	uint64 fCharacterLimit;
	uint64 fDelivered = 0;
	bool fLoadExternalDTD;
	bool fSchema;
	bool fNamespaces;
	bool fDefaultedAttributes;
	bool fDocumentElementSeen = false;
	bool fStopped = false;
};

}  // namespace velk
