// What reads one element of an XML document: the parser hands it the element's attributes, text and child
// elements, and it answers, for each child, the handler of that child's content. Bags, localization files
// and property lists are read through such handlers (VXMLParser).
#pragma once

#include "kernel/VExport.h"

#include "kernel/memory/IRefCountable.h"
#include "kernel/strings/VString.h"

namespace velk {

class VFile;
class VFolder;

class VELK_API IXMLHandler : public IRefCountable
{
public:
	IXMLHandler() = default;
	IXMLHandler(const IXMLHandler&) = delete;
	IXMLHandler& operator=(const IXMLHandler&) = delete;
	~IXMLHandler() override;

	// The handler of the new element's content, retained for the caller; null skips the element and
	// everything inside it.
	virtual IXMLHandler* StartElement(const VString& name);
	virtual void EndElement(const VString& name);
	virtual void SetAttribute(const VString& name, const VString& value);
	// Character data; one run of text may come in several pieces.
	virtual void SetText(const VString& text);
	// The file an external entity or DTD names, retained; null when this handler does not know it. By
	// default through the entity folder (VXMLParser::ResolveEntityFromFolder).
	virtual VFile* ResolveEntity(const VString& systemID);
	// By default reads "xml-stylesheet" pseudo-attributes into the three style-sheet calls.
	virtual void processingInstruction(const VString& target, const VString& data);
	virtual void StartStyleSheet();
	virtual void SetStyleSheetAttribute(const VString& name, const VString& value);
	virtual void EndStyleSheet();

	// U+0020, U+0009, U+000A, U+000C and U+000D.
	static bool WCharIsSpace(UniChar c);
	// A character XML 1.0 allows in a document.
	static bool IsXMLChar(UniChar c);
	// Retains folder (releasing the previous one): system identifiers beginning with basePath resolve
	// inside it.
	void SetEntitiesLocalFolder(const VString& basePath, VFolder* folder);

protected:
	VString fEntityBasePath;
	VFolder* fEntityFolder = nullptr;
};

}  // namespace velk
