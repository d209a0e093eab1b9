// The DOM wrapper's bounded parser.
#include "documents/xml/VXercesDOMParser.h"

#include <algorithm>

#include <xercesc/dom/DOMConfiguration.hpp>
#include <xercesc/dom/DOMError.hpp>
#include <xercesc/dom/DOMLocator.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLElementDecl.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLResourceIdentifier.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/validators/DTD/DTDEntityDecl.hpp>

#include "documents/xml/IXMLDomWrapperTools.h"
#include "documents/xml/SAX_Handlers.h"
#include "documents/xml/VXMLParser.h"
#include "kernel/strings/VString.h"

namespace velk {

using namespace xercesc;

namespace {

const XMLByte kNoBytes[1] = {0};

}  // namespace

VXercesDOMParser::VXercesDOMParser(uint64 inputSize)
: DOMLSParserImpl(nullptr, XMLPlatformUtils::fgMemoryManager), fCharacterLimit(VXMLParser::GetCharacterLimit(inputSize))
{
	fSecurity.setEntityExpansionLimit(XMLSize_t(VXMLParser::GetEntityExpansionLimit(inputSize)));
	DOMConfiguration* config = getDomConfig();
	config->setParameter(XMLUni::fgDOMEntities, true);
	config->setParameter(XMLUni::fgDOMNamespaces, true);
	config->setParameter(XMLUni::fgXercesValidationErrorAsFatal, true);
	config->setParameter(XMLUni::fgXercesContinueAfterFatalError, false);
	config->setParameter(XMLUni::fgDOMValidate, false);
	config->setParameter(XMLUni::fgXercesLoadExternalDTD, false);
	config->setParameter(XMLUni::fgXercesUserAdoptsDOMDocument, true);
	config->setParameter(XMLUni::fgXercesDisableDefaultEntityResolution, true);
	config->setParameter(XMLUni::fgXercesSecurityManager, static_cast<const void*>(&fSecurity));
	config->setParameter(XMLUni::fgDOMErrorHandler, static_cast<const void*>(static_cast<DOMErrorHandler*>(this)));
}

bool VXercesDOMParser::handleError(const DOMError& error)
{
	if (error.getSeverity() == DOMError::DOM_SEVERITY_WARNING)
		return true;
	++fErrors;
	const DOMLocator* where = error.getLocation();
	const bool fatal = error.getSeverity() == DOMError::DOM_SEVERITY_FATAL_ERROR;
	SAX_Handlers::PushError(fatal ? VE_XML_FATAL_ERROR : VE_XML_ERROR,
		VString(error.getMessage() != nullptr ? error.getMessage() : u""), where != nullptr ? where->getURI() : nullptr,
		nullptr, where != nullptr ? int64(where->getLineNumber()) : 0, where != nullptr ? int64(where->getColumnNumber()) : 0);
	if (!fatal)
		return true;
	// Xerces goes on after some of its fatal errors (past the entity expansion limit it only restarts its
	// count), which would let a billion laughs run to the character bound.
	fStopped = true;
	throw VXMLParseStopped();
}

void VXercesDOMParser::docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool cdataSection)
{
	_Deliver(length);
	DOMLSParserImpl::docCharacters(chars, length, cdataSection);
}

void VXercesDOMParser::startElement(const XMLElementDecl& elemDecl, const unsigned int urlId,
	const XMLCh* const elemPrefix, const RefVectorOf<XMLAttr>& attrList, const XMLSize_t attrCount, const bool isEmpty,
	const bool isRoot)
{
	// The clone and the serializer of Xerces recurse on the depth this bounds.
	_Open(!isEmpty);
	for (XMLSize_t i = 0; i < attrCount; ++i)
		_Deliver(XMLString::stringLen(attrList.elementAt(i)->getValue()));
	// The base ends an empty element itself, through endElement.
	fInEmptyElement = isEmpty;
	DOMLSParserImpl::startElement(elemDecl, urlId, elemPrefix, attrList, attrCount, isEmpty, isRoot);
	fInEmptyElement = false;
	if (!isEmpty)
		++fOpenElements;
}

void VXercesDOMParser::endElement(const XMLElementDecl& elemDecl, const unsigned int urlId, const bool isRoot,
	const XMLCh* const elemPrefix)
{
	DOMLSParserImpl::endElement(elemDecl, urlId, isRoot, elemPrefix);
	if (!fInEmptyElement && fOpenElements > 0)
		--fOpenElements;
}

void VXercesDOMParser::startEntityReference(const XMLEntityDecl& entDecl)
{
	_Open(true);
	const size_t start = fOpenElements + fOpenReferences.size();
	fOpenReferences.push_back(OpenReference{start, start + 1});
	DOMLSParserImpl::startEntityReference(entDecl);
}

void VXercesDOMParser::endEntityReference(const XMLEntityDecl& entDecl)
{
	if (!fOpenReferences.empty())
	{
		const OpenReference closed = fOpenReferences.back();
		fOpenReferences.pop_back();
		// The reference's content is made read-only level by level, down to the text below its deepest element.
		const size_t levels = closed.fDeepest - closed.fStart + 1;
		fDeepestReference = std::max(fDeepestReference, levels);
		if (!fOpenReferences.empty())
			fOpenReferences.back().fDeepest = std::max(fOpenReferences.back().fDeepest, closed.fDeepest);
		_CheckStack(levels);
	}
	DOMLSParserImpl::endEntityReference(entDecl);
}

void VXercesDOMParser::endDocument()
{
	// The declared entities are made read-only too, each with a copy of its last reference's content.
	_CheckStack(fDeepestReference);
	DOMLSParserImpl::endDocument();
}

void VXercesDOMParser::entityDecl(const DTDEntityDecl& decl, const bool isPEDecl, const bool isIgnored)
{
	DOMLSParserImpl::entityDecl(decl, isPEDecl, isIgnored);
	if (decl.isExternal() || decl.getValueLen() <= fLongestEntity)
		return;
	fLongestEntity = decl.getValueLen();
	const XMLSize_t limit = XMLSize_t(VXMLParser::GetEntityExpansionLimit(fCharacterLimit, fLongestEntity));
	if (limit >= fSecurity.getEntityExpansionLimit())
		return;
	fSecurity.setEntityExpansionLimit(limit);
	// The scanner reads the limit when the manager is installed.
	getScanner()->setSecurityManager(&fSecurity);
}

InputSource* VXercesDOMParser::resolveEntity(XMLResourceIdentifier* resource)
{
	const XMLCh* systemID = resource != nullptr && resource->getSystemId() != nullptr ? resource->getSystemId() : u"";
	return new (XMLPlatformUtils::fgMemoryManager) MemBufInputSource(kNoBytes, 0, systemID);
}

void VXercesDOMParser::_Deliver(XMLSize_t units)
{
	fDelivered += units;
	if (fDelivered > fCharacterLimit)
	{
		_Stop(SAX_Handlers::CharacterLimitMessage(fCharacterLimit));
	}
}

void VXercesDOMParser::_Open(bool counted)
{
	const size_t open = fOpenElements + fOpenReferences.size();
	if (counted && open >= SAX_Handlers::kMaxOpenElements)
	{
		_Stop(VString(fOpenReferences.empty() ? "The document opens more than 1024 elements inside one another."
			: "The document nests more than 1024 elements and entity references inside one another."));
	}
	if (!fOpenReferences.empty())
		fOpenReferences.back().fDeepest = std::max(fOpenReferences.back().fDeepest, open + 1);
}

void VXercesDOMParser::_CheckStack(size_t levels)
{
	if (levels <= XercesLevelsOnStack())
		return;
	_ThrowError(VE_STACK_OVERFLOW);
	fStopped = true;
	throw VXMLParseStopped();
}

void VXercesDOMParser::_Stop(const VString& message)
{
	const Locator* locator = getScanner()->getLocator();
	SAX_Handlers::PushError(VE_XML_FATAL_ERROR, message, locator != nullptr ? locator->getSystemId() : nullptr,
		locator != nullptr ? locator->getPublicId() : nullptr, locator != nullptr ? int64(locator->getLineNumber()) : 0,
		locator != nullptr ? int64(locator->getColumnNumber()) : 0);
	fStopped = true;
	throw VXMLParseStopped();
}

}  // namespace velk
