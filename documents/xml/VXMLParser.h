// Reads an XML document with the SAX parser of Xerces-C and hands its content to a tree of element handlers
// (IXMLHandler). Hostile documents are bounded: entities and DTDs resolve only through the handlers and the
// entity folder, expansion and depth are limited, and no exception leaves a parse. Parse errors become
// errors on the calling task: ('xmlc', 2) recoverable, ('xmlc', 3) fatal, with "message", "systemID",
// "publicID", "line" and "column".
#pragma once

#include "kernel/VExport.h"

#include <string>

#include <xercesc/util/XercesVersion.hpp>

#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace XERCES_CPP_NAMESPACE {
class InputSource;
}

namespace velk {

class IFile;
class IXMLHandler;
class VFile;
class VFolder;

constexpr OsType kXML_SIGNATURE = FourCharCode("xmlc");
constexpr VError VE_XML_ERROR = MakeVError(kXML_SIGNATURE, 2);
constexpr VError VE_XML_FATAL_ERROR = MakeVError(kXML_SIGNATURE, 3);

// Parse flags.
enum XMLParseFlags : uint32
{
	eXML_ValidateAlways = 0x01,  // without eXML_LoadExternalDTD the external DTD reads as empty
	// Neither: validation when the document has a DOCTYPE, unless its DTD has an external subset and
	// eXML_LoadExternalDTD is not set (the DTD is then not at hand).
	eXML_ValidateNever = 0x02,
	eXML_Namespaces = 0x04,
	eXML_LoadExternalDTD = 0x08,
	eXML_DefaultedAttributes = 0x10,  // attributes the DTD adds are reported too
	eXML_Schema = 0x20  // without eXML_ValidateNever; turns namespaces on
};

class VELK_API VXMLParser : public VObject
{
public:
	VXMLParser();
	~VXMLParser() override;
	VXMLParser(const VXMLParser&) = delete;
	VXMLParser& operator=(const VXMLParser&) = delete;

	// Starts Xerces for the process (a parse starts it when nobody did); true.
	static bool Init();
	static void DeInit();

	// Each answers true when no error was counted; the first fatal error ends the parse. Bounds, each a
	// fatal ('xmlc', 3) at the place it is passed: 1,024 open elements; 16 characters of text and attribute
	// values delivered for each byte of input (at least 16 Mi); entity expansions, one for every four bytes
	// of input, from 4,096 to Xerces's own limit of 50,000, and fewer when the longest internal entity times
	// that count would pass the character bound. A file whose content cannot be read answers false with the
	// file layer's error.
	bool Parse(IFile* file, IXMLHandler* root, uint32 flags);
	// The encoding comes from the document; system identifier "frommem".
	bool Parse(const void* bytes, size_t size, IXMLHandler* root, uint32 flags);
	// Read as UTF-16LE whatever the declaration says.
	bool Parse(const VString& text, IXMLHandler* root, uint32 flags);

	void SetEntitiesLocalFolder(const VString& basePath, VFolder* folder);
	void SetExternalSchemaLocation(const VString& location) { fExternalSchemaLocation = location; }
	void SetExternalNoNamespaceSchemaLocation(const VString& location) { fExternalNoNamespaceSchemaLocation = location; }
	// Through the parser's own entity folder.
	VFile* ResolveEntity(const VString& systemID) const;
	// The file named by systemID less basePath, '/' read as a folder separator, inside folder; retained, or
	// null without a folder, when systemID does not begin with basePath, or when the rest is empty or holds
	// an empty or ".." step (nothing outside the folder is ever named).
	static VFile* ResolveEntityFromFolder(const VString& basePath, VFolder* folder, const VString& systemID);

	// The bounds of a parse of inputSize bytes, shared by every Xerces parser of the toolbox: the UTF-16
	// units of text and attribute values it may deliver, and the entity expansions it may make.
	static uint64 GetCharacterLimit(uint64 inputSize);
	static size_t GetEntityExpansionLimit(uint64 inputSize);
	// The expansions that keep an internal entity of entityLength units within characterLimit (at least 1).
	static size_t GetEntityExpansionLimit(uint64 characterLimit, size_t entityLength);

	bool GetDefaultedAttributes() const { return fDefaultedAttributes; }
	const VString& GetExternalSchemaLocation() const { return fExternalSchemaLocation; }
	const VString& GetExternalNoNamespaceSchemaLocation() const { return fExternalNoNamespaceSchemaLocation; }

private:
	// A parse of bytes from memory; encoding (when not null) overrides the document's.
	bool _ParseBytes(const void* bytes, size_t size, const std::u16string& systemID, const char16_t* encoding,
		IXMLHandler* root, uint32 flags);
	// inputSize bounds the characters the parse may deliver.
	bool _Parse(const XERCES_CPP_NAMESPACE::InputSource& source, IXMLHandler* root, uint32 flags, uint64 inputSize);

	VString fEntityBasePath;
	VFolder* fEntityFolder = nullptr;
	bool fDefaultedAttributes = false;
	VString fExternalSchemaLocation;
	VString fExternalNoNamespaceSchemaLocation;
};

}  // namespace velk
