// The DOM wrapper's parser: Xerces's LS parser (the class the "LS" implementation makes) held to the bounds
// of the toolbox's SAX parser: 1,024 open elements, the characters it may deliver, and entity expansions
// (lowered for long internal entities, as attribute values are built whole before anyone sees them). No
// external entity is fetched: each reads as empty. A bound passed or a fatal error pushes ('xmlc', 3) and
// ends the parse with VXMLParseStopped, which the caller catches. Internal to the DOM wrapper.
#pragma once

#include <xercesc/dom/DOMErrorHandler.hpp>
#include <xercesc/parsers/DOMLSParserImpl.hpp>
#include <xercesc/util/SecurityManager.hpp>

#include "kernel/VKernelTypes.h"

namespace velk {

class VString;

class VXercesDOMParser : public xercesc::DOMLSParserImpl, public xercesc::DOMErrorHandler
{
public:
	// Namespaces on, entity references kept, no validation, no external DTD, the document adopted by the
	// caller; bounds for a document of inputSize bytes.
	explicit VXercesDOMParser(uint64 inputSize);

	// Whether an error was reported or a bound stopped the parse: the document must not be used.
	bool Failed() const { return fErrors > 0 || fStopped; }

	// Warnings ignored, errors pushed and counted; a fatal error ends the parse at once.
	bool handleError(const xercesc::DOMError& error) override;

	void docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection) override;
	void startElement(const xercesc::XMLElementDecl& elemDecl, const unsigned int urlId, const XMLCh* const elemPrefix,
		const xercesc::RefVectorOf<xercesc::XMLAttr>& attrList, const XMLSize_t attrCount, const bool isEmpty,
		const bool isRoot) override;
	void endElement(const xercesc::XMLElementDecl& elemDecl, const unsigned int urlId, const bool isRoot,
		const XMLCh* const elemPrefix) override;
	void entityDecl(const xercesc::DTDEntityDecl& decl, const bool isPEDecl, const bool isIgnored) override;
	xercesc::InputSource* resolveEntity(xercesc::XMLResourceIdentifier* resource) override;

private:
	void _Deliver(XMLSize_t units);
	[[noreturn]] void _Stop(const VString& message);

	xercesc::SecurityManager fSecurity;
	uint64 fCharacterLimit;
	uint64 fDelivered = 0;
	XMLSize_t fLongestEntity = 0;
	size_t fOpenElements = 0;
	bool fInEmptyElement = false;
	bool fStopped = false;
	int32 fErrors = 0;
};

}  // namespace velk
