// Reading an XML document into a value bag through the SAX element handlers.
#include "documents/xml/VXMLBagHandler.h"

#include <new>

#include "containers/StPackedDictionaryKey.h"
#include "containers/VValueBag.h"
#include "runtime/VError.h"

namespace velk {

namespace {

// White space only, with at least one line feed: what an indented or plain document puts before each
// child element and before an end tag.
bool IsLayout(const VString& text)
{
	bool lineFeed = false;
	const UniChar* p = text.GetCPointer();
	const UniChar* const end = p + text.GetLength();
	for (; p < end; ++p)
	{
		if (!IXMLHandler::WCharIsSpace(*p))
			return false;
		if (*p == 0x0A)
			lineFeed = true;
	}
	return lineFeed;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// VXMLBagHandler

VXMLBagHandler::VXMLBagHandler(VValueBag* bag)
{
	fBags.AddTail(bag);
}

IXMLHandler* VXMLBagHandler::StartElement(const VString& name)
{
	_FlushText();
	VValueBag* bag = new (std::nothrow) VValueBag();
	if (bag == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	if (VValueBag* top = fBags._GetNth(fBags.GetCount()))
		top->AddElement(StPackedDictionaryKey(name), bag);
	// Without its bag on the stack the element's end would pop its parent's: it is skipped instead.
	const bool pushed = fBags.AddTail(bag);
	bag->Release();
	if (!pushed)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	Retain();
	return this;
}

void VXMLBagHandler::EndElement(const VString&)
{
	_FlushText();
	fBags.DeleteNth(fBags.GetCount());
}

void VXMLBagHandler::SetAttribute(const VString& name, const VString& value)
{
	if (VValueBag* top = fBags._GetNth(fBags.GetCount()))
		top->SetString(StPackedDictionaryKey(name), value);
}

void VXMLBagHandler::SetText(const VString& text)
{
	fPendingText.AppendUniChars(text.GetCPointer(), text.GetLength());
}

void VXMLBagHandler::_FlushText()
{
	if (fPendingText.GetLength() == 0)
		return;
	VValueBag* top = fBags._GetNth(fBags.GetCount());
	if (top != nullptr && !IsLayout(fPendingText))
		top->AppendToCData(fPendingText);
	fPendingText.Clear();
}

// ---------------------------------------------------------------------------------------------------------
// VXMLBagHandler_UniqueElement

VXMLBagHandler_UniqueElement::VXMLBagHandler_UniqueElement(VValueBag* bag, const VString& rootName)
	: fBag(bag), fRootName(rootName)
{
	if (fBag != nullptr)
		fBag->Retain();
}

VXMLBagHandler_UniqueElement::~VXMLBagHandler_UniqueElement()
{
	if (fBag != nullptr)
		fBag->Release();
}

IXMLHandler* VXMLBagHandler_UniqueElement::StartElement(const VString& name)
{
	++fElementCount;
	if (!fRootName.IsEmpty() && !name.EqualToString(fRootName, false))
		return nullptr;
	if (fElementCount != 1 || fBag == nullptr)
		return nullptr;
	if (fRootName.IsEmpty())
		fRootName = name;
	VXMLBagHandler* handler = new (std::nothrow) VXMLBagHandler(fBag);
	if (handler == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	// Entities inside the document are resolved by the handler on top, which is this one's child.
	else if (fEntityFolder != nullptr)
		handler->SetEntitiesLocalFolder(fEntityBasePath, fEntityFolder);
	return handler;
}

void VXMLBagHandler_UniqueElement::SetText(const VString&)
{
}

}  // namespace velk
