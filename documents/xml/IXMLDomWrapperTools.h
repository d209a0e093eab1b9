// What the DOM wrapper's sources share: the handles as Xerces types and back, the guard that turns Xerces's
// exceptions into errors on the task, and the free-stack tests of the recursive walks. Internal.
#pragma once

#include <new>
#include <string>

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/dom/DOMException.hpp>
#include <xercesc/dom/DOMLSException.hpp>
#include <xercesc/dom/DOMNode.hpp>
#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>

#include "documents/xml/IXMLDomWrapper.h"
#include "documents/xml/SAX_Handlers.h"
#include "documents/xml/VXMLParser.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "runtime/VTaskMgr.h"

namespace velk {

// A DOMDocument is a DOMNode through several bases: a handle converts through the Xerces type it stands for.
inline xercesc::DOMNode* AsNode(VXMLDOMNode_opaque* node)
{
	return reinterpret_cast<xercesc::DOMNode*>(node);
}
inline xercesc::DOMElement* AsElement(VXMLDOMElement_opaque* element)
{
	return reinterpret_cast<xercesc::DOMElement*>(element);
}
inline xercesc::DOMDocument* AsDocument(VXMLDOMDocument_opaque* document)
{
	return reinterpret_cast<xercesc::DOMDocument*>(document);
}
inline xercesc::MemBufFormatTarget* AsTarget(VXMLMemBufFormatTarget_opaque* target)
{
	return reinterpret_cast<xercesc::MemBufFormatTarget*>(target);
}
inline VXMLDOMNode_opaque* Node(xercesc::DOMNode* node)
{
	return reinterpret_cast<VXMLDOMNode_opaque*>(node);
}
inline VXMLDOMElement_opaque* Handle(xercesc::DOMElement* element)
{
	return reinterpret_cast<VXMLDOMElement_opaque*>(element);
}
inline VXMLDOMDocument_opaque* Handle(xercesc::DOMDocument* document)
{
	return reinterpret_cast<VXMLDOMDocument_opaque*>(document);
}
inline VXMLMemBufFormatTarget_opaque* Handle(xercesc::MemBufFormatTarget* target)
{
	return reinterpret_cast<VXMLMemBufFormatTarget_opaque*>(target);
}

// The node itself when it is a document, else its owner document; null for null.
inline xercesc::DOMDocument* OwnerDocument(xercesc::DOMNode* node)
{
	if (node == nullptr)
		return nullptr;
	if (node->getNodeType() == xercesc::DOMNode::DOCUMENT_NODE)
		return static_cast<xercesc::DOMDocument*>(node);
	return node->getOwnerDocument();
}

inline std::u16string Units(const VString& text)
{
	return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

// Free stack left under the deepest level of a walk: for the handlers' and Xerces's calls made there.
constexpr size_t kDOMMinFreeStack = 16384;
// The stack one level of a tree costs Xerces's recursive walks (its clone, its serializer, its parser's pass
// over the content of entities): 110 to 200 bytes in an optimised build; about twice that leaves room for
// builds with larger frames.
constexpr size_t kXercesStackPerLevel = 384;

// How many levels of one of Xerces's recursive walks the free stack holds.
inline size_t XercesLevelsOnStack()
{
	const size_t free = VTaskMgr::Get()->GetCurrentFreeStackSize();
	return free > kDOMMinFreeStack ? (free - kDOMMinFreeStack) / kXercesStackPerLevel : 0;
}

// The deepest tree the wrapper makes: the document, 1,024 elements and entity references inside one another
// (the parser's bound, which editing keeps), and a text.
constexpr size_t kDOMMaxTreeLevels = SAX_Handlers::kMaxOpenElements + 2;

// Whether the free stack holds one of Xerces's recursive walks over the tree below node, one frame a level;
// velk 108 raised when it does not. Where the stack could not hold the deepest tree, the tree is measured
// without recursion, up to the depth the stack allows; elsewhere that measure, a fifth of the time of a
// serialisation, is spared.
inline bool HasStackForXercesWalk(const xercesc::DOMNode* node)
{
	const size_t levels = XercesLevelsOnStack();
	if (levels >= kDOMMaxTreeLevels)
		return true;
	size_t depth = 1;
	for (const xercesc::DOMNode* current = node; current != nullptr && depth <= levels;)
	{
		if (const xercesc::DOMNode* child = current->getFirstChild())
		{
			current = child;
			++depth;
			continue;
		}
		while (current != node && current->getNextSibling() == nullptr)
		{
			current = current->getParentNode();
			--depth;
		}
		current = current != node ? current->getNextSibling() : nullptr;
	}
	if (depth <= levels)
		return true;
	_ThrowError(VE_STACK_OVERFLOW);
	return false;
}

// Runs work; a Xerces or memory exception becomes an error on the task and the answer failure.
template <class R, class F>
R Guarded(F&& work, R failure)
{
	try
	{
		return work();
	}
	catch (const xercesc::OutOfMemoryException&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
	catch (const xercesc::DOMException& exception)
	{
		SAX_Handlers::PushError(VE_XML_ERROR, VString(exception.getMessage() != nullptr ? exception.getMessage() : u""),
			nullptr, nullptr, 0, 0);
	}
	catch (const xercesc::XMLException& exception)
	{
		SAX_Handlers::PushError(VE_XML_ERROR, VString(exception.getMessage() != nullptr ? exception.getMessage() : u""),
			nullptr, nullptr, 0, 0);
	}
	catch (...)
	{
		_ThrowError(VE_XML_FATAL_ERROR);
	}
	return failure;
}

}  // namespace velk
