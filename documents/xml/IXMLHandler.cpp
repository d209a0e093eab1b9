// Default behaviour of an element handler: it skips what it is given, resolves entities through its own
// entity folder and reads "xml-stylesheet" instructions into the three style-sheet calls.
#include "documents/xml/IXMLHandler.h"

#include <xercesc/util/XMLChar.hpp>

#include "documents/xml/VXMLParser.h"
#include "files/VFile.h"
#include "files/VFolder.h"
#include "kernel/intl/VIntlMgr.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

bool IsBlank(UniChar c)
{
	return c <= 0x20;
}

bool IsQuote(UniChar c)
{
	return c == u'"' || c == u'\'';
}

}  // namespace

IXMLHandler::~IXMLHandler()
{
	if (fEntityFolder != nullptr)
		fEntityFolder->Release();
}

IXMLHandler* IXMLHandler::StartElement(const VString& /*name*/)
{
	return nullptr;
}

void IXMLHandler::EndElement(const VString& /*name*/)
{
}

void IXMLHandler::SetAttribute(const VString& /*name*/, const VString& /*value*/)
{
}

void IXMLHandler::SetText(const VString& /*text*/)
{
}

VFile* IXMLHandler::ResolveEntity(const VString& systemID)
{
	return VXMLParser::ResolveEntityFromFolder(fEntityBasePath, fEntityFolder, systemID);
}

void IXMLHandler::processingInstruction(const VString& target, const VString& data)
{
	if (target.IsEmpty() || data.IsEmpty() || !target.EqualToUSASCIICString("xml-stylesheet"))
		return;

	StartStyleSheet();
	// Pseudo-attributes name=value between blanks. A quoted value runs to its closing quote, blanks
	// included (title="Print view"); a value without quotes counts for nothing.
	const UniChar* units = data.GetCPointer();
	const int32 length = data.GetLength();
	int32 pos = 0;
	while (pos < length)
	{
		while (pos < length && IsBlank(units[pos]))
			++pos;
		const int32 nameStart = pos;
		while (pos < length && units[pos] != u'=' && !IsBlank(units[pos]))
			++pos;
		const int32 nameEnd = pos;
		if (pos >= length || units[pos] != u'=')
			continue;  // a name alone, or a name followed by a blank: no value
		++pos;
		if (pos < length && IsQuote(units[pos]))
		{
			const UniChar quote = units[pos];
			const int32 valueStart = ++pos;
			while (pos < length && units[pos] != quote)
				++pos;
			if (pos >= length)
				break;  // unclosed: no value
			const int32 valueEnd = pos++;
			if (nameEnd > nameStart)
			{
				VString value(units + valueStart, valueEnd - valueStart);
				value.RemoveWhiteSpaces(true, true, nullptr, nullptr, VTask::GetCurrentIntlManager());
				SetStyleSheetAttribute(VString(units + nameStart, nameEnd - nameStart), value);
			}
		}
		else
		{
			while (pos < length && !IsBlank(units[pos]))
				++pos;
		}
	}
	EndStyleSheet();
}

void IXMLHandler::StartStyleSheet()
{
}

void IXMLHandler::SetStyleSheetAttribute(const VString& /*name*/, const VString& /*value*/)
{
}

void IXMLHandler::EndStyleSheet()
{
}

bool IXMLHandler::WCharIsSpace(UniChar c)
{
	return c == 0x20 || c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D;
}

bool IXMLHandler::IsXMLChar(UniChar c)
{
	return xercesc::XMLChar1_0::isXMLChar(c);
}

void IXMLHandler::SetEntitiesLocalFolder(const VString& basePath, VFolder* folder)
{
	if (folder != nullptr)
		folder->Retain();
	if (fEntityFolder != nullptr)
		fEntityFolder->Release();
	fEntityFolder = folder;
	fEntityBasePath = basePath;
}

}  // namespace velk
