// The bridge from Xerces's SAX events to the stack of element handlers of one parse.
#include "documents/xml/SAX_Handlers.h"

#include <algorithm>
#include <new>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLAttr.hpp>
#include <xercesc/framework/XMLElementDecl.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/validators/DTD/DTDEntityDecl.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include "documents/xml/IXMLHandler.h"
#include "documents/xml/VXMLFileInputSource.h"
#include "documents/xml/VXMLParser.h"
#include "files/VFile.h"
#include "kernel/strings/VString.h"
#include "runtime/VErrorBase.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

// What an entity nobody may resolve reads as.
const XMLByte kNoBytes[1] = {0};

// Xerces's texts, NUL-terminated, as toolbox strings; null gives an empty string.
VString Text(const XMLCh* text)
{
	return text != nullptr ? VString(text) : VString();
}

}  // namespace

VXercesSAXParser::VXercesSAXParser()
	: xercesc::SAXParser(nullptr, xercesc::XMLPlatformUtils::fgMemoryManager)
{
}

const xercesc::Locator* VXercesSAXParser::GetLocator() const
{
	return getScanner().getLocator();
}

void VXercesSAXParser::SetBounds(xercesc::SecurityManager* security, uint64 characterLimit)
{
	fSecurity = security;
	fCharacterLimit = characterLimit;
	fLongestEntity = 0;
	setSecurityManager(security);
	setDTDHandler(&fNoDTDHandler);
}

void VXercesSAXParser::entityDecl(const xercesc::DTDEntityDecl& entityDecl, const bool isPEDecl, const bool isIgnored)
{
	xercesc::SAXParser::entityDecl(entityDecl, isPEDecl, isIgnored);
	if (fSecurity == nullptr || entityDecl.isExternal() || entityDecl.getValueLen() <= fLongestEntity)
		return;
	fLongestEntity = entityDecl.getValueLen();
	const XMLSize_t limit = XMLSize_t(VXMLParser::GetEntityExpansionLimit(fCharacterLimit, fLongestEntity));
	if (limit >= fSecurity->getEntityExpansionLimit())
		return;
	fSecurity->setEntityExpansionLimit(limit);
	// The scanner reads the limit when the manager is installed. Installing it again also restarts the count,
	// which only matters inside the DTD: content comes after every internal declaration.
	const_cast<xercesc::XMLScanner&>(getScanner()).setSecurityManager(fSecurity);
}

void VXercesSAXParser::doctypeDecl(const xercesc::DTDElementDecl& elemDecl, const XMLCh* const publicId,
	const XMLCh* const systemId, const bool hasIntSubset, const bool hasExtSubset)
{
	xercesc::SAXParser::doctypeDecl(elemDecl, publicId, systemId, hasIntSubset, hasExtSubset);
	if (hasExtSubset && getValidationScheme() == Val_Auto && !getLoadExternalDTD())
		const_cast<xercesc::XMLScanner&>(getScanner()).setValidationScheme(xercesc::XMLScanner::Val_Never);
}

SAX_Handlers::SAX_Handlers(IXMLHandler* root, VXercesSAXParser* parser, VXMLParser* xmlParser, uint64 characterLimit,
	bool loadExternalDTD, bool schema)
	: fParser(parser), fXMLParser(xmlParser), fCharacterLimit(characterLimit), fLoadExternalDTD(loadExternalDTD),
	  fSchema(schema), fNamespaces(parser->getDoNamespaces()), fDefaultedAttributes(xmlParser->GetDefaultedAttributes())
{
	fHandlers.emplace_back(root);
}

SAX_Handlers::~SAX_Handlers() = default;

void SAX_Handlers::docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool /*cdataSection*/)
{
	// Counted even inside a skipped element: expanding entities there costs as much.
	_Deliver(length);
	IXMLHandler* top = fHandlers.back().Get();
	if (top == nullptr || length == 0)
		return;
	VStr<255> text(chars, int32(length));
	top->SetText(text);
}

void SAX_Handlers::docComment(const XMLCh* const /*comment*/)
{
}

void SAX_Handlers::docPI(const XMLCh* const target, const XMLCh* const data)
{
	IXMLHandler* top = fHandlers.back().Get();
	if (target != nullptr && data != nullptr && top != nullptr)
		top->processingInstruction(VString(target), VString(data));
}

void SAX_Handlers::endDocument()
{
}

void SAX_Handlers::endElement(const xercesc::XMLElementDecl& elemDecl, const unsigned int /*uriId*/,
	const bool /*isRoot*/, const XMLCh* const /*prefixName*/)
{
	// The root handler stays: Xerces never ends more elements than it started.
	if (fHandlers.size() < 2)
		return;
	IXMLHandler* top = fHandlers.back().Get();
	if (top != nullptr)
		top->EndElement(VStr<63>(elemDecl.getBaseName()));
	fHandlers.pop_back();
}

void SAX_Handlers::endEntityReference(const xercesc::XMLEntityDecl& /*entDecl*/)
{
}

void SAX_Handlers::ignorableWhitespace(const XMLCh* const /*chars*/, const XMLSize_t /*length*/,
	const bool /*cdataSection*/)
{
}

void SAX_Handlers::resetDocument()
{
}

void SAX_Handlers::startDocument()
{
}

void SAX_Handlers::startElement(const xercesc::XMLElementDecl& elemDecl, const unsigned int /*uriId*/,
	const XMLCh* const /*prefixName*/, const xercesc::RefVectorOf<xercesc::XMLAttr>& attrList,
	const XMLSize_t attrCount, const bool isEmpty, const bool /*isRoot*/)
{
	fDocumentElementSeen = true;
	// The root handler's entry is not an open element.
	if (!isEmpty && fHandlers.size() > kMaxOpenElements)
		_Stop(VString("The document opens more than 1024 elements inside one another."));

	IXMLHandler* top = fHandlers.back().Get();
	if (top == nullptr)
	{
		if (!isEmpty)
			fHandlers.emplace_back();
		return;
	}

	const VStr<63> name(elemDecl.getBaseName());
	VRefPtr<IXMLHandler> handler(top->StartElement(name), true);
	if (!isEmpty)
		fHandlers.push_back(handler);
	if (!handler)
		return;

	for (XMLSize_t i = 0; i < attrCount; ++i)
	{
		const xercesc::XMLAttr* attribute = attrList.elementAt(i);
		if (!attribute->getSpecified() && !fDefaultedAttributes)
			continue;
		// Namespaces off: the name as written, prefix included ("yr:includeIf").
		const VStr<63> attributeName(fNamespaces ? attribute->getName() : attribute->getQName());
		const VStr<255> value(attribute->getValue());
		_Deliver(XMLSize_t(value.GetLength()));
		handler->SetAttribute(attributeName, value);
	}
	if (isEmpty)
		handler->EndElement(name);
}

void SAX_Handlers::startEntityReference(const xercesc::XMLEntityDecl& /*entDecl*/)
{
}

void SAX_Handlers::XMLDecl(const XMLCh* const /*versionStr*/, const XMLCh* const /*encodingStr*/,
	const XMLCh* const /*standaloneStr*/, const XMLCh* const /*autoEncodingStr*/)
{
}

void SAX_Handlers::warning(const xercesc::SAXParseException& /*exc*/)
{
}

void SAX_Handlers::error(const xercesc::SAXParseException& exc)
{
	PushError(VE_XML_ERROR, Text(exc.getMessage()), exc.getSystemId(), exc.getPublicId(), int64(exc.getLineNumber()),
		int64(exc.getColumnNumber()));
}

void SAX_Handlers::fatalError(const xercesc::SAXParseException& exc)
{
	PushError(VE_XML_FATAL_ERROR, Text(exc.getMessage()), exc.getSystemId(), exc.getPublicId(),
		int64(exc.getLineNumber()), int64(exc.getColumnNumber()));
	// Xerces goes on after some of its fatal errors (past the entity expansion limit it only restarts its
	// count), which would let a billion laughs run to the character limit.
	fStopped = true;
	throw VXMLParseStopped();
}

void SAX_Handlers::resetErrors()
{
}

xercesc::InputSource* SAX_Handlers::resolveEntity(const XMLCh* const /*publicId*/, const XMLCh* const systemId)
{
	VFile* file = nullptr;
	// Before the document element only the DTD's parts (and schemas) are resolved.
	const bool allowed = fLoadExternalDTD || fDocumentElementSeen || fSchema;
	if (allowed && systemId != nullptr)
	{
		const VString identifier(systemId);
		IXMLHandler* top = fHandlers.back().Get();
		if (top != nullptr)
			file = top->ResolveEntity(identifier);
		if (file == nullptr)
			file = fXMLParser->ResolveEntity(identifier);
	}
	if (file != nullptr)
	{
		xercesc::InputSource* source = new (xercesc::XMLPlatformUtils::fgMemoryManager) VXMLFileInputSource(file);
		file->Release();
		return source;
	}
	// Empty rather than null: with null, Xerces would fetch the identifier itself.
	return new (xercesc::XMLPlatformUtils::fgMemoryManager)
		xercesc::MemBufInputSource(kNoBytes, 0, systemId != nullptr ? systemId : u"");
}

void SAX_Handlers::PushError(VError code, const VString& message, const XMLCh* systemID, const XMLCh* publicID,
	int64 line, int64 column)
{
	VErrorBase* error = new (std::nothrow) VErrorBase(code);
	if (error == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return;
	}
	error->SetString(VString("message"), message);
	error->SetString(VString("systemID"), Text(systemID));
	error->SetString(VString("publicID"), Text(publicID));
	error->SetLong8(VString("line"), line);
	error->SetLong8(VString("column"), column);
	VTask::PushRetainedError(error);
}

VString SAX_Handlers::CharacterLimitMessage(uint64 limit)
{
	VString message;
	message.Printf("The document delivers more than %lld characters of text and attribute values.", (long long) limit);
	return message;
}

void SAX_Handlers::_Deliver(XMLSize_t units)
{
	fDelivered += units;
	if (fDelivered > fCharacterLimit)
	{
		_Stop(CharacterLimitMessage(fCharacterLimit));
	}
}

void SAX_Handlers::_Stop(const VString& message)
{
	const xercesc::Locator* locator = fParser->GetLocator();
	PushError(VE_XML_FATAL_ERROR, message, locator != nullptr ? locator->getSystemId() : nullptr,
		locator != nullptr ? locator->getPublicId() : nullptr, locator != nullptr ? int64(locator->getLineNumber()) : 0,
		locator != nullptr ? int64(locator->getColumnNumber()) : 0);
	fStopped = true;
	throw VXMLParseStopped();
}

}  // namespace velk
