// The element handlers that read type declarations out of an information property list (XML form) for
// VUTIManager: the root finds the arrays of exported and imported declarations, each declaration's
// dictionary becomes one VUTI with its identifier, description, parents and tags.
#pragma once

#include "documents/xml/IXMLHandler.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"

namespace velk {

class VUTI;
class VUTIManager;

// The whole document: the text of every "key" is kept until the next element, and an "array" following
// "UTExportedTypeDeclarations" or "UTImportedTypeDeclarations" is read as declarations.
class VUTIManagerXMLHandler : public VObject, public IXMLHandler
{
public:
	// The manager owns this handler and outlives it: not retained.
	explicit VUTIManagerXMLHandler(VUTIManager* manager) : fManager(manager) {}

	IXMLHandler* StartElement(const VString& name) override;
	void EndElement(const VString& name) override;
	void SetText(const VString& text) override;

	// Forgets what an earlier, possibly broken, document left.
	void Reset();

private:
	VUTIManager* fManager;
	VString fLastKey;
	bool fInKey = false;
};

// The base of the handlers of one property-list container: a "key" or "string" child is read here, its text
// gathered (it may come in pieces) and handed over when it closes.
class VUTIPropertyListXMLHandler : public VObject, public IXMLHandler
{
public:
	IXMLHandler* StartElement(const VString& name) override;
	void EndElement(const VString& name) override;
	void SetText(const VString& text) override;

protected:
	// The handler, retained, of a child other than "key" and "string"; null skips it.
	virtual IXMLHandler* DoStartValue(const VString& name);
	// A "string" child closed; fLastKey holds the key before it.
	virtual void DoString(const VString& text);
	// The element this handler was given for closed.
	virtual void DoEnd();

	VString fLastKey;

private:
	enum EOpen
	{
		eNone,
		eKey,
		eString
	};

	EOpen fOpen = eNone;
	VString fText;
};

// An array of declarations: each "dict" is one type.
class VUTIDeclarationsXMLHandler : public VUTIPropertyListXMLHandler
{
public:
	explicit VUTIDeclarationsXMLHandler(VUTIManager* manager) : fManager(manager) {}

protected:
	IXMLHandler* DoStartValue(const VString& name) override;

private:
	VUTIManager* fManager;
};

// One declaration; when its dictionary closes the type is given to the manager (AddNewUTI).
class VUTITypeXMLHandler : public VUTIPropertyListXMLHandler
{
public:
	// Takes over the caller's reference to uti.
	VUTITypeXMLHandler(VUTIManager* manager, VUTI* uti) : fManager(manager), fUTI(uti) {}
	~VUTITypeXMLHandler() override;

protected:
	IXMLHandler* DoStartValue(const VString& name) override;
	void DoString(const VString& text) override;
	void DoEnd() override;

private:
	VUTIManager* fManager;
	VUTI* fUTI;
};

// Where the strings of a tag or of "UTTypeConformsTo" go.
enum EUTIStringTarget
{
	eUTIParents,
	eUTIExtensions,
	eUTIMIMETypes,
	eUTIOSTypes,
	eUTIIgnored
};

// The "UTTypeTagSpecification" dictionary: each key names a tag class, its value is one string or an array
// of them; classes other than extensions, MIME types and type codes are ignored.
class VUTITagXMLHandler : public VUTIPropertyListXMLHandler
{
public:
	// uti is retained.
	explicit VUTITagXMLHandler(VUTI* uti);
	~VUTITagXMLHandler() override;

protected:
	IXMLHandler* DoStartValue(const VString& name) override;
	void DoString(const VString& text) override;

private:
	VUTI* fUTI;
};

// An array of strings given to the type: parents (temporary placeholders until the manager links them) or
// tags of one class.
class VUTIStringArrayXMLHandler : public VUTIPropertyListXMLHandler
{
public:
	// uti is retained.
	VUTIStringArrayXMLHandler(VUTI* uti, EUTIStringTarget target);
	~VUTIStringArrayXMLHandler() override;

	// Adds text to uti as target says.
	static void AddString(VUTI* uti, EUTIStringTarget target, const VString& text);
	// The target of a tag class; eUTIIgnored for an unknown one.
	static EUTIStringTarget TargetOfTagClass(const VString& tagClass);

protected:
	void DoString(const VString& text) override;

private:
	VUTI* fUTI;
	EUTIStringTarget fTarget;
};

}  // namespace velk
