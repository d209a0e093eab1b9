#include "files/VUTIXMLHandlers.h"

#include <new>

#include "files/VUTI.h"
#include "files/VUTIManager.h"
#include "runtime/VError.h"

namespace velk {

namespace {

// Property-list keys and element names are compared exactly.
bool Is(const VString& text, const char* literal)
{
	return text.EqualToUSASCIICString(literal);
}

IXMLHandler* RetainHandler(IXMLHandler* handler)
{
	handler->Retain();
	return handler;
}

// A new handler for the caller, or null (velk 100 raised) when memory is short: the element is then
// skipped.
template <class HANDLER, class... Args>
IXMLHandler* NewHandler(Args&&... args)
{
	IXMLHandler* handler = new (std::nothrow) HANDLER(std::forward<Args>(args)...);
	if (handler == nullptr)
		_ThrowError(VE_MEMORY_FULL);
	return handler;
}

}  // namespace

IXMLHandler* VUTIManagerXMLHandler::StartElement(const VString& name)
{
	if (Is(name, "key"))
	{
		fLastKey.Clear();
		fInKey = true;
		return RetainHandler(this);
	}
	const bool declarations = Is(name, "array")
		&& (Is(fLastKey, "UTExportedTypeDeclarations") || Is(fLastKey, "UTImportedTypeDeclarations"));
	fLastKey.Clear();
	if (declarations)
		return NewHandler<VUTIDeclarationsXMLHandler>(fManager);
	return RetainHandler(this);
}

void VUTIManagerXMLHandler::EndElement(const VString& name)
{
	if (Is(name, "key"))
		fInKey = false;
}

void VUTIManagerXMLHandler::SetText(const VString& text)
{
	if (fInKey)
		fLastKey.AppendUniChars(text.GetCPointer(), text.GetLength());
}

void VUTIManagerXMLHandler::Reset()
{
	fLastKey.Clear();
	fInKey = false;
}

IXMLHandler* VUTIPropertyListXMLHandler::StartElement(const VString& name)
{
	// Neither a key nor a string holds elements.
	if (fOpen != eNone)
		return nullptr;
	if (Is(name, "key") || Is(name, "string"))
	{
		fOpen = Is(name, "key") ? eKey : eString;
		fText.Clear();
		return RetainHandler(this);
	}
	return DoStartValue(name);
}

void VUTIPropertyListXMLHandler::EndElement(const VString&)
{
	const EOpen closed = fOpen;
	fOpen = eNone;
	if (closed == eKey)
		fLastKey = fText;
	else if (closed == eString)
		DoString(fText);
	else
		DoEnd();
}

void VUTIPropertyListXMLHandler::SetText(const VString& text)
{
	if (fOpen != eNone)
		fText.AppendUniChars(text.GetCPointer(), text.GetLength());
}

IXMLHandler* VUTIPropertyListXMLHandler::DoStartValue(const VString&)
{
	return nullptr;
}

void VUTIPropertyListXMLHandler::DoString(const VString&)
{
}

void VUTIPropertyListXMLHandler::DoEnd()
{
}

IXMLHandler* VUTIDeclarationsXMLHandler::DoStartValue(const VString& name)
{
	if (!Is(name, "dict"))
		return nullptr;
	VUTI* uti = new (std::nothrow) VUTI;
	if (uti == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	IXMLHandler* handler = NewHandler<VUTITypeXMLHandler>(fManager, uti);
	if (handler == nullptr)
		uti->Release();
	return handler;
}

VUTITypeXMLHandler::~VUTITypeXMLHandler()
{
	fUTI->Release();
}

IXMLHandler* VUTITypeXMLHandler::DoStartValue(const VString& name)
{
	if (Is(name, "array") && Is(fLastKey, "UTTypeConformsTo"))
		return NewHandler<VUTIStringArrayXMLHandler>(fUTI, eUTIParents);
	if (Is(name, "dict") && Is(fLastKey, "UTTypeTagSpecification"))
		return NewHandler<VUTITagXMLHandler>(fUTI);
	return nullptr;
}

void VUTITypeXMLHandler::DoString(const VString& text)
{
	if (Is(fLastKey, "UTTypeIdentifier"))
		fUTI->SetIdentifier(text);
	else if (Is(fLastKey, "UTTypeDescription"))
		fUTI->SetDescription(text);
}

void VUTITypeXMLHandler::DoEnd()
{
	fManager->AddNewUTI(fUTI);
}

VUTITagXMLHandler::VUTITagXMLHandler(VUTI* uti) : fUTI(uti)
{
	fUTI->Retain();
}

VUTITagXMLHandler::~VUTITagXMLHandler()
{
	fUTI->Release();
}

IXMLHandler* VUTITagXMLHandler::DoStartValue(const VString& name)
{
	const EUTIStringTarget target = VUTIStringArrayXMLHandler::TargetOfTagClass(fLastKey);
	if (!Is(name, "array") || target == eUTIIgnored)
		return nullptr;
	return NewHandler<VUTIStringArrayXMLHandler>(fUTI, target);
}

void VUTITagXMLHandler::DoString(const VString& text)
{
	VUTIStringArrayXMLHandler::AddString(fUTI, VUTIStringArrayXMLHandler::TargetOfTagClass(fLastKey), text);
}

VUTIStringArrayXMLHandler::VUTIStringArrayXMLHandler(VUTI* uti, EUTIStringTarget target)
: fUTI(uti), fTarget(target)
{
	fUTI->Retain();
}

VUTIStringArrayXMLHandler::~VUTIStringArrayXMLHandler()
{
	fUTI->Release();
}

void VUTIStringArrayXMLHandler::DoString(const VString& text)
{
	AddString(fUTI, fTarget, text);
}

EUTIStringTarget VUTIStringArrayXMLHandler::TargetOfTagClass(const VString& tagClass)
{
	if (Is(tagClass, kUTTagClassFilenameExtension))
		return eUTIExtensions;
	if (Is(tagClass, kUTTagClassMIMEType))
		return eUTIMIMETypes;
	if (Is(tagClass, kUTTagClassOSType))
		return eUTIOSTypes;
	return eUTIIgnored;
}

void VUTIStringArrayXMLHandler::AddString(VUTI* uti, EUTIStringTarget target, const VString& text)
{
	switch (target)
	{
		case eUTIParents:
		{
			// A placeholder until the manager finds the declaration of that identifier.
			VUTI* parent = new (std::nothrow) VUTI(text);
			if (parent == nullptr)
			{
				_ThrowError(VE_MEMORY_FULL);
				return;
			}
			parent->SetTemporary(true);
			uti->AddParentUTI(parent);
			parent->Release();
			break;
		}
		case eUTIExtensions:
			uti->AddExtension(text);
			break;
		case eUTIMIMETypes:
			uti->AddMIMEType(text);
			break;
		case eUTIOSTypes:
			uti->AddOSType(text);
			break;
		case eUTIIgnored:
			break;
	}
}

}  // namespace velk
