// The DOM wrapper's parser: Xerces's LS parser (the class the "LS" implementation makes) held to the bounds
// of the toolbox's SAX parser: 1,024 open elements, the characters it may deliver, and entity expansions
// (lowered for long internal entities, as attribute values are built whole before anyone sees them). Entity
// references count as open elements, since each is a level of the tree. No external entity is fetched: each
// reads as empty. A bound passed or a fatal error pushes ('xmlc', 3) and ends the parse with
// VXMLParseStopped, which the caller catches; so does velk 108, pushed when the free stack cannot hold
// Xerces's recursive pass over the content of an entity reference. Internal to the DOM wrapper.
#pragma once

#include <xercesc/dom/DOMErrorHandler.hpp>
#include <xercesc/parsers/DOMLSParserImpl.hpp>
#include <xercesc/util/SecurityManager.hpp>

#include <vector>

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
	void startEntityReference(const xercesc::XMLEntityDecl& entDecl) override;
	void endEntityReference(const xercesc::XMLEntityDecl& entDecl) override;
	void endDocument() override;
	void entityDecl(const xercesc::DTDEntityDecl& decl, const bool isPEDecl, const bool isIgnored) override;
	xercesc::InputSource* resolveEntity(xercesc::XMLResourceIdentifier* resource) override;

private:
	// An entity reference open in the content: the levels of the tree above it and the deepest level
	// reached inside it.
	struct OpenReference
	{
		size_t fStart;
		size_t fDeepest;
	};

	void _Deliver(XMLSize_t units);
	// Refuses one more level past the bound; notes the level opened in the references open around it.
	void _Open(bool counted);
	// Stops with velk 108 unless the free stack holds a walk of Xerces's over levels levels.
	void _CheckStack(size_t levels);
	[[noreturn]] void _Stop(const VString& message);

	xercesc::SecurityManager fSecurity;
	uint64 fCharacterLimit;
	uint64 fDelivered = 0;
	XMLSize_t fLongestEntity = 0;
	size_t fOpenElements = 0;
	std::vector<OpenReference> fOpenReferences;
	// The most levels of the content of an entity reference: Xerces walks them again, recursively, at the
	// end of the document.
	size_t fDeepestReference = 0;
	bool fInEmptyElement = false;
	bool fStopped = false;
	int32 fErrors = 0;
};

}  // namespace velk
