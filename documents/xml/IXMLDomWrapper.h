// Static functions over a Xerces-C DOM: documents parsed from memory, walked, queried and edited through
// opaque handles, fed to element handlers as if they were being read, serialised, and converted to and from
// value bags. Callers never see Xerces types, and no Xerces exception leaves these functions: a failure is
// a null handle or false, with the error on the calling task when the toolbox raises one. No walk of a tree
// exhausts the calling task's stack: those that recurse, here or in Xerces, stop first with velk 108.
#pragma once

#include "kernel/VExport.h"

#include <cstddef>
#include <vector>

#include "kernel/VKernelTypes.h"
#include "runtime/VError.h"

// The handles stand for Xerces's DOMNode, DOMElement, DOMDocument and MemBufFormatTarget.
struct VXMLDOMNode_opaque;
struct VXMLDOMElement_opaque;
struct VXMLDOMDocument_opaque;
struct VXMLMemBufFormatTarget_opaque;

namespace velk {

class IXMLHandler;
class VBlob;
class VDuration;
class VFile;
class VFileStream;
class VString;
class VTime;
class VURL;
class VValueBag;
class VValueSingle;

class VELK_API IXMLDomWrapper
{
public:
	// ---- Documents ----

	// The document node of the bytes, owned by the caller (ReleaseNode), or null for a document that is
	// malformed or passes a bound of the toolbox's XML parser (1,024 open elements, entity references
	// counting as elements, the characters and entity expansions it may deliver); its error is then on the
	// task ('xmlc', 2 or 3). Null with velk 108 when the free stack cannot hold Xerces's recursive pass
	// over the content of an entity reference as deep as the document's. Namespaces on, no validation, no
	// external DTD, and no external entity is ever fetched (each reads as empty). The system identifier is
	// "Blob" unless one is given. Starts Xerces when nobody did.
	static VXMLDOMNode_opaque* CreateNodeDocumentFromBuffer(const void* bytes, size_t size, const VString* systemID = nullptr);
	// The node itself when it is a document, else its owner document; null for null.
	static VXMLDOMDocument_opaque* GetNodeDocument(VXMLDOMNode_opaque* node);
	static VXMLDOMNode_opaque* GetNodeFromDocument(VXMLDOMDocument_opaque* document);
	// A deep copy of the node's document (or of the document), owned by the caller; null on failure, with
	// velk 108 when the free stack cannot hold Xerces's recursive copy of a tree that deep.
	static VXMLDOMNode_opaque* CloneNodeDocument(VXMLDOMNode_opaque* node);
	static VXMLDOMNode_opaque* CloneNodeDocument(VXMLDOMDocument_opaque* document);
	// Releases a node the caller owns: a document with its whole tree, an element made by CreateElement
	// with what was added below it, taken apart without recursion. A node still in a tree is refused
	// ('xmlc', 2) and left as it is.
	static void ReleaseNode(VXMLDOMNode_opaque* node);
	// The document's URI ("file://" ones read as not encoded); false when it has none.
	static bool GetDocumentURL(VXMLDOMNode_opaque* node, VURL& url);
	// Declares every attribute named "id", or with the local name "id" behind a prefix, as an ID attribute
	// of its element, in the whole document.
	static void RegisterNodeIDs(VXMLDOMNode_opaque* node);
	// The document's element of that ID (after RegisterNodeIDs or SetNodeElementAttribute), or null.
	static VXMLDOMElement_opaque* FindNodeElementByID(VXMLDOMNode_opaque* node, const VString& id);

	// ---- Walking and reading ----

	static int32 GetNumberOfChildrenNodes(VXMLDOMNode_opaque* node);
	// 0-based; null past the last child.
	static VXMLDOMNode_opaque* GetChildNode(VXMLDOMNode_opaque* node, int32 index);
	// The node as an element, or null when it is not one.
	static VXMLDOMElement_opaque* GetNodeElement(VXMLDOMNode_opaque* node);
	static VXMLDOMNode_opaque* GetNodeFromNodeElement(VXMLDOMElement_opaque* element);
	// The document element of the node's document.
	static VXMLDOMElement_opaque* GetRootNodeElement(VXMLDOMNode_opaque* node);
	// The name as written (prefix included); cleared when there is none.
	static void GetNodeElementName(VXMLDOMElement_opaque* element, VString& name);
	// The text content of the element and all its descendants (comments and processing instructions left
	// out), read without recursion; each false (value cleared) for null, or with velk 107 when the text
	// cannot be had.
	static bool GetNodeElementValueString(VXMLDOMElement_opaque* element, VString& value);
	static bool GetNodeElementCDATA(VXMLDOMElement_opaque* element, VString& value);
	// The text content read in each kind's XML form; false (value unchanged) for null.
	static bool GetNodeElementValueBoolean(VXMLDOMElement_opaque* element, bool& value);
	static bool GetNodeElementValueLong(VXMLDOMElement_opaque* element, int32& value);
	static bool GetNodeElementValueReal(VXMLDOMElement_opaque* element, double& value);
	static bool GetNodeElementValueTime(VXMLDOMElement_opaque* element, VTime& value);
	static bool GetNodeElementValueDuration(VXMLDOMElement_opaque* element, VDuration& value);
	// A name "prefix:local" is looked up by namespace and local name ("xml" and "xmlns" have their reserved
	// namespaces, other prefixes are resolved from the element; an unbound prefix is looked up as written);
	// a name without prefix as it is. False (value cleared) when the element has no such attribute.
	static bool GetNodeElementAttribute(VXMLDOMElement_opaque* element, const VString& name, VString& value);

	// ---- Editing ----
	// Elements nest at most 1,024 deep, as in parsed documents: deeper ones are refused ('xmlc', 2).

	// A new element of the document, not yet in the tree. A prefixed name takes the prefix's namespace as
	// seen from the parent; an unbound prefix or an invalid name gives null.
	static VXMLDOMElement_opaque* CreateElement(VXMLDOMDocument_opaque* document, VXMLDOMElement_opaque* parent,
		const UniChar* name);
	// Appends a new element to parent, with a text node of the value's XML form; null on failure.
	static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name);
	static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name, const VString& value);
	static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name,
		const VDuration& value, uint32 options = 0);
	static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name,
		const VTime& value, uint32 options = 0);
	static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name, double value);
	// "true" or "false".
	static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name, unsigned char value);
	static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name, int value);
	// By the value's kind; kinds without an overload through their text; null value: an empty element.
	static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name,
		const VValueSingle* value);

	// Replaces the element's content by the value's text; false for null or on failure.
	static bool SetNodeElementValue(VXMLDOMElement_opaque* element, unsigned char value);
	static bool SetNodeElementValue(VXMLDOMElement_opaque* element, const VString& value);
	static bool SetNodeElementValue(VXMLDOMElement_opaque* element, int value);
	static bool SetNodeElementValue(VXMLDOMElement_opaque* element, double value);
	static bool SetNodeElementValue(VXMLDOMElement_opaque* element, const VTime& value, uint32 options = 0);
	static bool SetNodeElementValue(VXMLDOMElement_opaque* element, const VDuration& value, uint32 options = 0);

	// Sets the attribute, namespaced as GetNodeElementAttribute reads it; an "id" attribute (or local name
	// "id") is declared as ID. With replace false an existing attribute is left as it is. outExisted, when
	// given, tells whether the attribute was there. False for null, an invalid name or an unbound prefix.
	static bool SetNodeElementAttribute(VXMLDOMElement_opaque* element, const VString& name, const VString& value,
		bool replace = true, bool* outExisted = nullptr);

	// ---- Element handlers over a tree ----
	// Each false when a handler refused an element (null from StartElement), and with velk 108 raised when
	// the free stack runs low.

	// DOMParseElement for an element, DOMParseNode for any other node.
	static bool Parse(VXMLDOMNode_opaque* node, IXMLHandler* handler);
	// StartElement, the attributes in the element's order, the children, EndElement.
	static bool DOMParseElement(VXMLDOMElement_opaque* element, IXMLHandler* handler);
	// The children: elements, text and CDATA sections (SetText), processing instructions; others skipped.
	static bool DOMParseNode(VXMLDOMNode_opaque* node, IXMLHandler* handler);

	// ---- Bags ----

	// Reads the element (or a document's element) into bag, as a document of that root read by the bag
	// handlers; the error of the reading scope.
	static VError ReadBagFromDomXML(VXMLDOMNode_opaque* node, VValueBag& bag);
	// Writes the bag into the element: its attributes as attributes, its character data as text, its
	// element lists as child elements, recursively; an attribute holding a null is left out. nodes, when
	// given, receives each element created, in order. velk 3 for a node that is not an element; velk 108
	// (raised) when the free stack runs low, the elements written until then staying in the tree.
	static VError WriteBagToDomXML(const VValueBag& bag, VXMLDOMNode_opaque* node, std::vector<VXMLDOMNode_opaque*>* nodes);
	static VError WriteBagToDomXMLElement(const VValueBag& bag, VXMLDOMElement_opaque* element,
		std::vector<VXMLDOMNode_opaque*>* nodes);

	// ---- Serialisation ----

	// The node's document in its declared (else input, else UTF-8) encoding, without byte-order mark, every
	// line end written as one carriage return, at offset in blob; size receives the bytes written. False,
	// with nothing written, and velk 108 raised, when the free stack cannot hold Xerces's recursive
	// serializer for a tree that deep; so for SerializeToFile and WriteToFile, the file left as it was.
	static bool SerializeToBlob(VXMLDOMNode_opaque* node, VBlob* blob, int offset, size_t& size, bool pretty);
	// Copies the target's bytes into blob at offset. With convertLineEnds, LF and CR LF become one CR, in
	// units of the encoding: bytes for ASCII-compatible ones, 16-bit for "UTF-16", "UTF-16LE", "UTF-16BE",
	// 32-bit for "UTF-32", "UTF-32LE", "UTF-32BE", "UCS4", "UCS-4", "UCS_4" (names in any case); other
	// encodings are copied unconverted. velk 5 (size 0) when the conversion buffer cannot be had.
	static bool CopyMemBufFormatTargetToBlob(VBlob* blob, int offset, size_t& size, VXMLMemBufFormatTarget_opaque* target,
		const VString& encoding, bool convertLineEnds);
	// Writes the serialised document to a stream open for writing.
	static bool SerializeToFile(VXMLDOMNode_opaque* node, VFileStream& stream, size_t& size, bool pretty);
	// Replaces the file's content (creating the file) by the serialised document; true when it was
	// written and closed without error.
	static bool WriteToFile(VXMLDOMNode_opaque* node, const VFile& file, bool pretty);
};

}  // namespace velk
