// The DOM wrapper: parsing with the toolbox's bounds, walking, reading and editing. Every entry that calls
// Xerces runs inside Guarded, so that its exceptions become errors on the task.
#include "documents/xml/IXMLDomWrapper.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/Wrapper4InputSource.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "documents/xml/IXMLDomWrapperTools.h"
#include "documents/xml/VXercesDOMParser.h"
#include "documents/xml/IXMLHandler.h"
#include "documents/xml/SAX_Handlers.h"
#include "documents/xml/VXMLBagHandler.h"
#include "documents/xml/VXMLParser.h"
#include "files/VURL.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VBoolean.h"
#include "kernel/values/VDuration.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VReal.h"
#include "kernel/values/VTime.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {

using namespace xercesc;

namespace {

const XMLByte kNoBytes[1] = {0};

// The prefix of "prefix:local" as a namespace URI: the reserved ones for "xml" and "xmlns", else as the
// element sees it (null when unbound); local receives the local part. Null and local empty for a name
// without prefix.
const XMLCh* PrefixNamespace(const DOMElement* element, const VString& name, std::u16string& local)
{
	const UniChar* units = name.GetCPointer();
	const int32 length = name.GetLength();
	int32 colon = 0;
	while (colon < length && units[colon] != u':')
		++colon;
	local.clear();
	if (colon == 0 || colon >= length - 1)
		return nullptr;
	local.assign(units + colon + 1, size_t(length - colon - 1));
	const std::u16string prefix(units, size_t(colon));
	if (prefix == u"xml")
		return XMLUni::fgXMLURIName;
	if (prefix == u"xmlns")
		return XMLUni::fgXMLNSURIName;
	return element != nullptr ? element->lookupNamespaceURI(prefix.c_str()) : nullptr;
}

// Elements above this one, itself included.
size_t Depth(const DOMNode* node)
{
	size_t depth = 0;
	for (; node != nullptr && node->getNodeType() == DOMNode::ELEMENT_NODE; node = node->getParentNode())
		++depth;
	return depth;
}

// Whether the attribute's name, or its local name behind a prefix, is "id".
bool IsIDAttribute(const DOMAttr* attribute)
{
	const XMLCh* local = attribute->getLocalName();
	if (local == nullptr)
	{
		local = attribute->getName();
		const int colon = XMLString::indexOf(local, u':');
		if (colon >= 0)
			local += colon + 1;
	}
	return XMLString::equals(local, u"id");
}

VString TextOf(const XMLCh* text)
{
	return text != nullptr ? VString(text) : VString();
}

// The node after current in document order within top's subtree, or null past its end.
const DOMNode* NextInTree(const DOMNode* top, const DOMNode* current)
{
	if (const DOMNode* child = current->getFirstChild())
		return child;
	while (current != top && current->getNextSibling() == nullptr)
		current = current->getParentNode();
	return current != top ? current->getNextSibling() : nullptr;
}

// Calls use(data, length) for each text and CDATA section below top, in document order: the text content,
// as Xerces's would give it (comments and processing instructions left out, entity references read
// through), walked without recursion, so that any depth of tree reads on any stack.
template <class F>
void ForEachText(const DOMNode* top, F&& use)
{
	for (const DOMNode* node = top->getFirstChild(); node != nullptr; node = NextInTree(top, node))
	{
		const short type = node->getNodeType();
		if (type == DOMNode::TEXT_NODE || type == DOMNode::CDATA_SECTION_NODE)
		{
			const DOMCharacterData* text = static_cast<const DOMCharacterData*>(node);
			use(text->getData(), text->getLength());
		}
	}
}

// The text content of element into value, measured first so that it is copied once; false (velk 107 raised)
// when the text is too long for a string or its buffer cannot be had.
bool TextContent(const DOMElement* element, VString& value)
{
	XMLSize_t length = 0;
	ForEachText(element, [&](const XMLCh*, XMLSize_t units) { length += units; });
	if (length == 0)
		return true;
	UniChar* buffer = length <= XMLSize_t(INT32_MAX - 1) ? value.GetCPointerForWrite(int32(length)) : nullptr;
	if (buffer == nullptr)
	{
		if (length > XMLSize_t(INT32_MAX - 1))
			_ThrowError(VE_STRING_ALLOC_FAILED);
		return false;
	}
	XMLSize_t at = 0;
	ForEachText(element, [&](const XMLCh* data, XMLSize_t units) {
		std::copy(data, data + units, buffer + at);
		at += units;
	});
	return value.Validate(int32(length));
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Documents

VXMLDOMNode_opaque* IXMLDomWrapper::CreateNodeDocumentFromBuffer(const void* bytes, size_t size, const VString* systemID)
{
	if (!VXMLParser::Init())
		return nullptr;
	return Guarded<VXMLDOMNode_opaque*>([&]() -> VXMLDOMNode_opaque* {
		const std::u16string identifier = systemID != nullptr ? Units(*systemID) : std::u16string(u"Blob");
		Wrapper4InputSource input(new (XMLPlatformUtils::fgMemoryManager) MemBufInputSource(
			bytes != nullptr ? static_cast<const XMLByte*>(bytes) : kNoBytes, bytes != nullptr ? size : 0, identifier.c_str()));
		VXercesDOMParser parser(size);
		DOMDocument* document = nullptr;
		try
		{
			document = parser.parse(&input);
		}
		catch (const VXMLParseStopped&)
		{
			// The parser pushed its error; the part it built is its own and goes with it.
		}
		if (document != nullptr && parser.Failed())
		{
			document->release();
			document = nullptr;
		}
		return Node(document);
	}, nullptr);
}

VXMLDOMDocument_opaque* IXMLDomWrapper::GetNodeDocument(VXMLDOMNode_opaque* node)
{
	return Handle(OwnerDocument(AsNode(node)));
}

VXMLDOMNode_opaque* IXMLDomWrapper::GetNodeFromDocument(VXMLDOMDocument_opaque* document)
{
	return Node(AsDocument(document));
}

VXMLDOMNode_opaque* IXMLDomWrapper::CloneNodeDocument(VXMLDOMNode_opaque* node)
{
	return CloneNodeDocument(GetNodeDocument(node));
}

VXMLDOMNode_opaque* IXMLDomWrapper::CloneNodeDocument(VXMLDOMDocument_opaque* document)
{
	DOMDocument* source = AsDocument(document);
	if (source == nullptr || !HasStackForXercesWalk(source))
		return nullptr;
	return Guarded<VXMLDOMNode_opaque*>([&]() { return Node(source->cloneNode(true)); }, nullptr);
}

void IXMLDomWrapper::ReleaseNode(VXMLDOMNode_opaque* node)
{
	DOMNode* domNode = AsNode(node);
	if (domNode == nullptr)
		return;
	Guarded<bool>([&]() {
		// A document frees its nodes all at once, and Xerces refuses a node still in a tree before it
		// looks at its children. An element on its own would be released a level a call: it is taken
		// apart from its leaves up instead.
		if (domNode->getNodeType() == DOMNode::ELEMENT_NODE && domNode->getParentNode() == nullptr)
		{
			DOMNode* current = domNode;
			for (;;)
			{
				while (DOMNode* child = current->getFirstChild())
					current = child;
				if (current == domNode)
					break;
				DOMNode* parent = current->getParentNode();
				parent->removeChild(current);
				current->release();
				current = parent;
			}
		}
		domNode->release();
		return true;
	}, false);
}

bool IXMLDomWrapper::GetDocumentURL(VXMLDOMNode_opaque* node, VURL& url)
{
	const DOMDocument* document = OwnerDocument(AsNode(node));
	const XMLCh* uri = document != nullptr ? document->getDocumentURI() : nullptr;
	if (uri == nullptr || *uri == 0)
		return false;
	url.FromString(VString(uri), !XMLString::startsWith(uri, u"file://"));
	return true;
}

void IXMLDomWrapper::RegisterNodeIDs(VXMLDOMNode_opaque* node)
{
	DOMDocument* document = OwnerDocument(AsNode(node));
	if (document == nullptr)
		return;
	Guarded<bool>([&]() {
		// In document order without recursion: first child, else next sibling, else an ancestor's next sibling.
		DOMNode* current = document->getDocumentElement();
		while (current != nullptr)
		{
			if (current->getNodeType() == DOMNode::ELEMENT_NODE)
			{
				DOMElement* element = static_cast<DOMElement*>(current);
				DOMNamedNodeMap* attributes = element->getAttributes();
				for (XMLSize_t i = 0; attributes != nullptr && i < attributes->getLength(); ++i)
				{
					DOMAttr* attribute = static_cast<DOMAttr*>(attributes->item(i));
					if (IsIDAttribute(attribute))
						element->setIdAttributeNode(attribute, true);
				}
			}
			DOMNode* next = current->getFirstChild();
			while (next == nullptr && current != nullptr)
			{
				next = current->getNextSibling();
				if (next == nullptr)
					current = current->getParentNode();
			}
			current = next;
		}
		return true;
	}, false);
}

VXMLDOMElement_opaque* IXMLDomWrapper::FindNodeElementByID(VXMLDOMNode_opaque* node, const VString& id)
{
	DOMDocument* document = OwnerDocument(AsNode(node));
	if (document == nullptr)
		return nullptr;
	const std::u16string units = Units(id);
	return Guarded<VXMLDOMElement_opaque*>([&]() { return Handle(document->getElementById(units.c_str())); }, nullptr);
}

// ---------------------------------------------------------------------------------------------------------
// Walking and reading

int32 IXMLDomWrapper::GetNumberOfChildrenNodes(VXMLDOMNode_opaque* node)
{
	const DOMNode* domNode = AsNode(node);
	return domNode != nullptr ? int32(domNode->getChildNodes()->getLength()) : 0;
}

VXMLDOMNode_opaque* IXMLDomWrapper::GetChildNode(VXMLDOMNode_opaque* node, int32 index)
{
	const DOMNode* domNode = AsNode(node);
	if (domNode == nullptr || index < 0)
		return nullptr;
	return Node(domNode->getChildNodes()->item(XMLSize_t(index)));
}

VXMLDOMElement_opaque* IXMLDomWrapper::GetNodeElement(VXMLDOMNode_opaque* node)
{
	DOMNode* domNode = AsNode(node);
	if (domNode == nullptr || domNode->getNodeType() != DOMNode::ELEMENT_NODE)
		return nullptr;
	return Handle(static_cast<DOMElement*>(domNode));
}

VXMLDOMNode_opaque* IXMLDomWrapper::GetNodeFromNodeElement(VXMLDOMElement_opaque* element)
{
	return Node(AsElement(element));
}

VXMLDOMElement_opaque* IXMLDomWrapper::GetRootNodeElement(VXMLDOMNode_opaque* node)
{
	const DOMDocument* document = OwnerDocument(AsNode(node));
	return document != nullptr ? Handle(document->getDocumentElement()) : nullptr;
}

void IXMLDomWrapper::GetNodeElementName(VXMLDOMElement_opaque* element, VString& name)
{
	const DOMElement* domElement = AsElement(element);
	const XMLCh* text = domElement != nullptr ? domElement->getTagName() : nullptr;
	if (text == nullptr)
		name.Clear();
	else
		name.FromUniString(text, int32(XMLString::stringLen(text)));
}

bool IXMLDomWrapper::GetNodeElementValueString(VXMLDOMElement_opaque* element, VString& value)
{
	const DOMElement* domElement = AsElement(element);
	value.Clear();
	if (domElement == nullptr)
		return false;
	return Guarded<bool>([&]() { return TextContent(domElement, value); }, false);
}

bool IXMLDomWrapper::GetNodeElementCDATA(VXMLDOMElement_opaque* element, VString& value)
{
	return GetNodeElementValueString(element, value);
}

bool IXMLDomWrapper::GetNodeElementValueBoolean(VXMLDOMElement_opaque* element, bool& value)
{
	VString text;
	if (!GetNodeElementValueString(element, text))
		return false;
	VBoolean parsed;
	parsed.FromXMLString(text);
	value = parsed.GetBoolean();
	return true;
}

bool IXMLDomWrapper::GetNodeElementValueLong(VXMLDOMElement_opaque* element, int32& value)
{
	VString text;
	if (!GetNodeElementValueString(element, text))
		return false;
	VLong parsed;
	parsed.FromString(text);
	value = parsed.GetLong();
	return true;
}

bool IXMLDomWrapper::GetNodeElementValueReal(VXMLDOMElement_opaque* element, double& value)
{
	VString text;
	if (!GetNodeElementValueString(element, text))
		return false;
	VReal parsed;
	parsed.FromString(text);
	value = parsed.GetReal();
	return true;
}

bool IXMLDomWrapper::GetNodeElementValueTime(VXMLDOMElement_opaque* element, VTime& value)
{
	VString text;
	if (!GetNodeElementValueString(element, text))
		return false;
	value.FromXMLString(text);
	return true;
}

bool IXMLDomWrapper::GetNodeElementValueDuration(VXMLDOMElement_opaque* element, VDuration& value)
{
	VString text;
	if (!GetNodeElementValueString(element, text))
		return false;
	value.FromXMLString(text);
	return true;
}

bool IXMLDomWrapper::GetNodeElementAttribute(VXMLDOMElement_opaque* element, const VString& name, VString& value)
{
	const DOMElement* domElement = AsElement(element);
	value.Clear();
	if (domElement == nullptr)
		return false;
	return Guarded<bool>([&]() {
		std::u16string local;
		const XMLCh* uri = PrefixNamespace(domElement, name, local);
		const DOMAttr* attribute = uri != nullptr ? domElement->getAttributeNodeNS(uri, local.c_str())
			: domElement->getAttributeNode(Units(name).c_str());
		if (attribute == nullptr)
			return false;
		value = TextOf(attribute->getValue());
		return true;
	}, false);
}

// ---------------------------------------------------------------------------------------------------------
// Editing

VXMLDOMElement_opaque* IXMLDomWrapper::CreateElement(VXMLDOMDocument_opaque* document, VXMLDOMElement_opaque* parent,
	const UniChar* name)
{
	DOMDocument* domDocument = AsDocument(document);
	DOMElement* domParent = AsElement(parent);
	if (domDocument == nullptr || name == nullptr)
		return nullptr;
	if (Depth(domParent) >= SAX_Handlers::kMaxOpenElements)
	{
		SAX_Handlers::PushError(VE_XML_ERROR, VString("Elements may not nest more than 1024 deep."), nullptr, nullptr, 0, 0);
		return nullptr;
	}
	return Guarded<VXMLDOMElement_opaque*>([&]() {
		const VString qualified(name);
		std::u16string local;
		const XMLCh* uri = PrefixNamespace(domParent, qualified, local);
		if (!local.empty())
			// An unbound prefix has no namespace: Xerces refuses the name (NAMESPACE_ERR).
			return Handle(domDocument->createElementNS(uri, name));
		return Handle(domDocument->createElement(name));
	}, nullptr);
}

namespace {

VXMLDOMElement_opaque* AddElementWithText(VXMLDOMElement_opaque* parent, const VString& name, const VString* text)
{
	DOMElement* domParent = AsElement(parent);
	if (domParent == nullptr)
		return nullptr;
	const std::u16string units = Units(name);
	VXMLDOMElement_opaque* child = IXMLDomWrapper::CreateElement(Handle(domParent->getOwnerDocument()), parent, units.c_str());
	if (child == nullptr)
		return nullptr;
	return Guarded<VXMLDOMElement_opaque*>([&]() {
		DOMElement* element = AsElement(child);
		domParent->appendChild(element);
		if (text != nullptr)
			element->appendChild(domParent->getOwnerDocument()->createTextNode(Units(*text).c_str()));
		return child;
	}, nullptr);
}

VString BooleanText(unsigned char value)
{
	return VString(value != 0 ? "true" : "false");
}

VString RealText(double value)
{
	VString text;
	VReal::RealToXMLString(value, text);
	return text;
}

VString LongText(int value)
{
	VString text;
	text.AppendLong(value);
	return text;
}

template <class T>
VString XMLText(const T& value, uint32 options)
{
	VString text;
	value.GetXMLString(text, options);
	return text;
}

}  // namespace

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name)
{
	return AddElementWithText(parent, name, nullptr);
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name, const VString& value)
{
	return AddElementWithText(parent, name, &value);
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name,
	const VDuration& value, uint32 options)
{
	const VString text = XMLText(value, options);
	return AddElementWithText(parent, name, &text);
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name,
	const VTime& value, uint32 options)
{
	const VString text = XMLText(value, options);
	return AddElementWithText(parent, name, &text);
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name, double value)
{
	const VString text = RealText(value);
	return AddElementWithText(parent, name, &text);
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name, unsigned char value)
{
	const VString text = BooleanText(value);
	return AddElementWithText(parent, name, &text);
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name, int value)
{
	const VString text = LongText(value);
	return AddElementWithText(parent, name, &text);
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name,
	const VValueSingle* value)
{
	if (value == nullptr || value->GetValueInfo() == nullptr)
		return AddNodeElement(parent, name);
	switch (value->GetValueInfo()->GetKind())
	{
		case VK_STRING:
			return AddNodeElement(parent, name, static_cast<const VString&>(*value));
		case VK_DURATION:
			return AddNodeElement(parent, name, static_cast<const VDuration&>(*value));
		case VK_TIME:
			return AddNodeElement(parent, name, static_cast<const VTime&>(*value));
		case VK_REAL:
			return AddNodeElement(parent, name, value->GetReal());
		case VK_BOOLEAN:
			return AddNodeElement(parent, name, static_cast<unsigned char>(value->GetBoolean()));
		case VK_BYTE:
		case VK_WORD:
		case VK_LONG:
			return AddNodeElement(parent, name, int(value->GetLong()));
		default:
		{
			VString text;
			value->GetString(text);
			return AddNodeElement(parent, name, text);
		}
	}
}

namespace {

bool SetText(VXMLDOMElement_opaque* element, const VString& text)
{
	DOMElement* domElement = AsElement(element);
	if (domElement == nullptr)
		return false;
	return Guarded<bool>([&]() {
		domElement->setTextContent(Units(text).c_str());
		return true;
	}, false);
}

}  // namespace

bool IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* element, unsigned char value)
{
	return SetText(element, BooleanText(value));
}

bool IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* element, const VString& value)
{
	return SetText(element, value);
}

bool IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* element, int value)
{
	return SetText(element, LongText(value));
}

bool IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* element, double value)
{
	return SetText(element, RealText(value));
}

bool IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* element, const VTime& value, uint32 options)
{
	return SetText(element, XMLText(value, options));
}

bool IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* element, const VDuration& value, uint32 options)
{
	return SetText(element, XMLText(value, options));
}

bool IXMLDomWrapper::SetNodeElementAttribute(VXMLDOMElement_opaque* element, const VString& name, const VString& value,
	bool replace, bool* outExisted)
{
	if (outExisted != nullptr)
		*outExisted = false;
	DOMElement* domElement = AsElement(element);
	if (domElement == nullptr)
		return false;
	return Guarded<bool>([&]() {
		std::u16string local;
		const XMLCh* uri = PrefixNamespace(domElement, name, local);
		if (!local.empty() && uri == nullptr)
		{
			// Written as is, it would make a document that does not read back.
			SAX_Handlers::PushError(VE_XML_ERROR, VString("The attribute's prefix is not bound to a namespace."), nullptr,
				nullptr, 0, 0);
			return false;
		}
		const std::u16string qualified = Units(name);
		const std::u16string text = Units(value);
		const bool existed = (uri != nullptr ? domElement->getAttributeNodeNS(uri, local.c_str())
			: domElement->getAttributeNode(qualified.c_str())) != nullptr;
		if (outExisted != nullptr)
			*outExisted = existed;
		if (existed && !replace)
			return true;
		DOMAttr* attribute = nullptr;
		if (uri != nullptr)
		{
			domElement->setAttributeNS(uri, qualified.c_str(), text.c_str());
			attribute = domElement->getAttributeNodeNS(uri, local.c_str());
		}
		else
		{
			domElement->setAttribute(qualified.c_str(), text.c_str());
			attribute = domElement->getAttributeNode(qualified.c_str());
		}
		if (attribute != nullptr && IsIDAttribute(attribute))
			domElement->setIdAttributeNode(attribute, true);
		return true;
	}, false);
}

// ---------------------------------------------------------------------------------------------------------
// Element handlers over a tree

namespace {

// One walk feeding handlers: it goes no deeper than its stack bound, taken once when it starts.
struct HandlerWalk
{
	const VJSONStackBound fBound{kDOMMinFreeStack};
	// Set (velk 108 raised once) when the stack ran low; the walk then unwinds.
	bool fStackLow = false;

	bool Element(const DOMElement* element, IXMLHandler* handler);
	bool Children(const DOMNode* node, IXMLHandler* handler);
};

// The element's attributes, in its order. Out of the recursion (and never inlined there), so that its
// frames do not carry these locals.
[[gnu::noinline]] void GiveAttributes(const DOMElement* element, IXMLHandler* handler)
{
	const DOMNamedNodeMap* attributes = element->getAttributes();
	for (XMLSize_t i = 0; attributes != nullptr && i < attributes->getLength(); ++i)
	{
		const DOMNode* attribute = attributes->item(i);
		handler->SetAttribute(TextOf(attribute->getNodeName()), TextOf(attribute->getNodeValue()));
	}
}

// A child other than an element: text and CDATA sections, processing instructions; others skipped. Out of
// the recursion for the same reason.
[[gnu::noinline]] void GiveLeaf(const DOMNode* node, IXMLHandler* handler)
{
	switch (node->getNodeType())
	{
		case DOMNode::TEXT_NODE:
		case DOMNode::CDATA_SECTION_NODE:
			handler->SetText(TextOf(node->getNodeValue()));
			break;
		case DOMNode::PROCESSING_INSTRUCTION_NODE:
		{
			const DOMProcessingInstruction* instruction = static_cast<const DOMProcessingInstruction*>(node);
			if (instruction->getTarget() != nullptr && instruction->getData() != nullptr)
				handler->processingInstruction(TextOf(instruction->getTarget()), TextOf(instruction->getData()));
			break;
		}
		default:
			break;
	}
}

bool HandlerWalk::Element(const DOMElement* element, IXMLHandler* handler)
{
	if (!fBound.HasRoom())
	{
		_ThrowError(VE_STACK_OVERFLOW);
		fStackLow = true;
		return false;
	}
	const VString name(TextOf(element->getTagName()));
	IXMLHandler* child = handler->StartElement(name);
	if (child == nullptr)
		return false;
	GiveAttributes(element, child);
	const bool ok = Children(element, child);
	child->EndElement(name);
	child->Release();
	return ok;
}

bool HandlerWalk::Children(const DOMNode* node, IXMLHandler* handler)
{
	for (DOMNode* child = node->getFirstChild(); child != nullptr && !fStackLow; child = child->getNextSibling())
	{
		// A refused element is skipped, as the SAX reader skips it.
		if (child->getNodeType() == DOMNode::ELEMENT_NODE)
			Element(static_cast<const DOMElement*>(child), handler);
		else
			GiveLeaf(child, handler);
	}
	return !fStackLow;
}

}  // namespace

bool IXMLDomWrapper::Parse(VXMLDOMNode_opaque* node, IXMLHandler* handler)
{
	DOMNode* domNode = AsNode(node);
	if (domNode == nullptr || handler == nullptr)
		return false;
	if (domNode->getNodeType() == DOMNode::ELEMENT_NODE)
		return DOMParseElement(Handle(static_cast<DOMElement*>(domNode)), handler);
	return DOMParseNode(node, handler);
}

bool IXMLDomWrapper::DOMParseElement(VXMLDOMElement_opaque* element, IXMLHandler* handler)
{
	const DOMElement* domElement = AsElement(element);
	if (domElement == nullptr || handler == nullptr)
		return false;
	return HandlerWalk().Element(domElement, handler);
}

bool IXMLDomWrapper::DOMParseNode(VXMLDOMNode_opaque* node, IXMLHandler* handler)
{
	const DOMNode* domNode = AsNode(node);
	if (domNode == nullptr || handler == nullptr)
		return false;
	return HandlerWalk().Children(domNode, handler);
}

// ---------------------------------------------------------------------------------------------------------
// Bags

VError IXMLDomWrapper::ReadBagFromDomXML(VXMLDOMNode_opaque* node, VValueBag& bag)
{
	StErrorContextInstaller scope(true, false);
	DOMNode* domNode = AsNode(node);
	if (domNode != nullptr && domNode->getNodeType() == DOMNode::DOCUMENT_NODE)
		domNode = static_cast<DOMDocument*>(domNode)->getDocumentElement();
	if (domNode == nullptr || domNode->getNodeType() != DOMNode::ELEMENT_NODE)
	{
		_ThrowError(VE_INVALID_PARAMETER);
		return scope.GetLastError();
	}
	DOMElement* element = static_cast<DOMElement*>(domNode);
	VXMLBagHandler_UniqueElement* handler = new (std::nothrow) VXMLBagHandler_UniqueElement(&bag, TextOf(element->getTagName()));
	if (handler == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return scope.GetLastError();
	}
	Parse(Node(element), handler);
	handler->Release();
	return scope.GetLastError();
}

}  // namespace velk
