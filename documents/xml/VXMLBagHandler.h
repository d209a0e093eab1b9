// The element handlers that read an XML document into a value bag: the document element fills the bag
// itself (its attributes as text values, its character data as the CDATA "<>"), and each child element
// becomes a child bag under its name, recursively.
#pragma once

#include "kernel/VExport.h"

#include "containers/VBagArray.h"
#include "documents/xml/IXMLHandler.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"

namespace velk {

class VValueBag;

// Reads a whole subtree: every child element is given to itself, with the bag of the element being read
// on top of its stack of bags.
class VELK_API VXMLBagHandler : public VObject, public IXMLHandler
{
public:
	// bag (retained) receives the element this handler is given for.
	explicit VXMLBagHandler(VValueBag* bag);
	VXMLBagHandler(const VXMLBagHandler&) = delete;
	VXMLBagHandler& operator=(const VXMLBagHandler&) = delete;

	// A new empty bag, added under name to the bag on top and pushed; itself, retained. Null (the element
	// is skipped) when memory is short, velk 100 raised.
	IXMLHandler* StartElement(const VString& name) override;
	// Pops the top bag.
	void EndElement(const VString& name) override;
	// The attribute of the top bag, as text (replacing one of that name).
	void SetAttribute(const VString& name, const VString& value) override;
	// Appended to the CDATA of the top bag when the next tag comes: the text between two tags is one run,
	// and a run of white space holding a line feed is left out, since it is only the layout of an
	// indented or plain document (a line and tabs before each child element).
	void SetText(const VString& text) override;

private:
	// Gives the pending run of text to the top bag, or drops it when it is layout.
	void _FlushText();

	VBagArray fBags;  // the stack: the bag of the current element last
	VString fPendingText;
};

// The root handler of a bag parse: hands the document element, when its name is the expected one, to a
// VXMLBagHandler on the target bag. Any other element is skipped.
class VELK_API VXMLBagHandler_UniqueElement : public VObject, public IXMLHandler
{
public:
	// bag is retained; an empty rootName accepts any document element (and is then set to its name).
	VXMLBagHandler_UniqueElement(VValueBag* bag, const VString& rootName);
	~VXMLBagHandler_UniqueElement() override;
	VXMLBagHandler_UniqueElement(const VXMLBagHandler_UniqueElement&) = delete;
	VXMLBagHandler_UniqueElement& operator=(const VXMLBagHandler_UniqueElement&) = delete;

	// A new VXMLBagHandler on the target bag, retained, with this handler's entity folder, for the first
	// element offered when its name equals the root name (without regard to case or diacritics); null
	// otherwise.
	IXMLHandler* StartElement(const VString& name) override;
	// Text outside the document element is not the bag's.
	void SetText(const VString& text) override;

private:
	VValueBag* fBag;  // retained
	VString fRootName;
	int32 fElementCount = 0;
};

}  // namespace velk
