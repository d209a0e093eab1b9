// One parse: a Xerces SAX parser set from the flags, bounded against hostile documents, feeding the
// bridge that drives the element handlers. No exception leaves it.
#include "documents/xml/VXMLParser.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <string>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "documents/xml/IXMLHandler.h"
#include "documents/xml/SAX_Handlers.h"
#include "documents/xml/VXMLFileInputSource.h"
#include "files/VFile.h"
#include "files/VFileDesc.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "kernel/memory/VMemoryBuffer.h"
#include "runtime/VTask.h"

namespace velk {

namespace {

std::mutex sXercesLock;
std::atomic<bool> sXercesStarted{false};

// Starts Xerces when nobody did; false (velk 100 or ('xmlc', 3) pushed) when it cannot start.
bool EnsureXerces()
{
	if (sXercesStarted.load(std::memory_order_acquire))
		return true;
	return VXMLParser::Init();
}

std::u16string Units(const VString& text)
{
	return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

}  // namespace

// Characters a parse may deliver: 16 for each byte of input, and never fewer than 16 Mi.
uint64 VXMLParser::GetCharacterLimit(uint64 inputSize)
{
	constexpr uint64 kMinCharacterLimit = uint64(16) << 20;
	return std::max(kMinCharacterLimit, inputSize > UINT64_MAX / 16 ? UINT64_MAX : inputSize * 16);
}

// Entity expansions a parse may make: Xerces's own limit for documents of 200 KB and more, less for smaller
// ones (one for every four bytes, at least 4,096). Each expansion costs Xerces a new reader with buffers of
// some 100 KB, so a few hundred bytes of nested entities would otherwise buy seconds of work.
size_t VXMLParser::GetEntityExpansionLimit(uint64 inputSize)
{
	constexpr uint64 kXercesLimit = xercesc::SecurityManager::ENTITY_EXPANSION_LIMIT;
	return size_t(std::clamp<uint64>(inputSize / 4, 4096, kXercesLimit));
}

size_t VXMLParser::GetEntityExpansionLimit(uint64 characterLimit, size_t entityLength)
{
	return size_t(std::max<uint64>(1, characterLimit / std::max<size_t>(1, entityLength)));
}

VXMLParser::VXMLParser() = default;

VXMLParser::~VXMLParser()
{
	if (fEntityFolder != nullptr)
		fEntityFolder->Release();
}

bool VXMLParser::Init()
{
	std::lock_guard<std::mutex> lock(sXercesLock);
	if (sXercesStarted.load(std::memory_order_relaxed))
		return true;
	try
	{
		xercesc::XMLPlatformUtils::Initialize(xercesc::XMLUni::fgXercescDefaultLocale);
	}
	catch (const xercesc::OutOfMemoryException&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	catch (const xercesc::XMLException& exception)
	{
		SAX_Handlers::PushError(VE_XML_FATAL_ERROR, VString(exception.getMessage()), nullptr, nullptr, 0, 0);
		return false;
	}
	catch (...)
	{
		_ThrowError(VE_XML_FATAL_ERROR);
		return false;
	}
	sXercesStarted.store(true, std::memory_order_release);
	return true;
}

void VXMLParser::DeInit()
{
	std::lock_guard<std::mutex> lock(sXercesLock);
	if (!sXercesStarted.load(std::memory_order_relaxed))
		return;
	try
	{
		xercesc::XMLPlatformUtils::Terminate();
	}
	catch (...)
	{
	}
	sXercesStarted.store(false, std::memory_order_release);
}

bool VXMLParser::Parse(IFile* file, IXMLHandler* root, uint32 flags)
{
	if (file == nullptr)
	{
		_ThrowError(VE_INVALID_PARAMETER);
		return false;
	}
	// The input sources allocate through Xerces's memory manager.
	if (!EnsureXerces())
		return false;
	if (VFile* vfile = dynamic_cast<VFile*>(file))
	{
		// Opened by the file layer, so that the name reaches the system unchanged whatever its characters.
		VFileDesc* desc = nullptr;
		if (vfile->Open(FA_READ, &desc) != VE_OK)
			return false;
		const uint64 size = uint64(std::max<int64>(0, desc->GetSize()));
		bool ok = false;
		try
		{
			VXMLFileInputSource source(vfile, desc);
			ok = _Parse(source, root, flags, size);
		}
		catch (...)
		{
			_ThrowError(VE_MEMORY_FULL);
		}
		return ok;
	}

	VMemoryBuffer<1024, 2, 1048576> content;
	if (file->GetContent(content) != VE_OK)
		return false;
	VString path;
	file->GetPlatformPath(path, FPS_POSIX);
	return _ParseBytes(content.GetDataPtr(), size_t(content.GetDataSize()), Units(path), nullptr, root, flags);
}

bool VXMLParser::Parse(const void* bytes, size_t size, IXMLHandler* root, uint32 flags)
{
	return _ParseBytes(bytes, size, u"frommem", nullptr, root, flags);
}

bool VXMLParser::Parse(const VString& text, IXMLHandler* root, uint32 flags)
{
	return _ParseBytes(text.GetCPointer(), size_t(text.GetLength()) * sizeof(UniChar), u"frommem", u"UTF-16LE", root,
		flags);
}

bool VXMLParser::_ParseBytes(const void* bytes, size_t size, const std::u16string& systemID, const char16_t* encoding,
	IXMLHandler* root, uint32 flags)
{
	if (!EnsureXerces())
		return false;
	bool ok = false;
	try
	{
		static const XMLByte kNoBytes[1] = {0};
		xercesc::MemBufInputSource source(bytes != nullptr ? static_cast<const XMLByte*>(bytes) : kNoBytes,
			bytes != nullptr ? size : 0, systemID.c_str());
		if (encoding != nullptr)
			source.setEncoding(encoding);
		ok = _Parse(source, root, flags, size);
	}
	catch (const xercesc::OutOfMemoryException&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
	catch (...)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
	return ok;
}

bool VXMLParser::_Parse(const xercesc::InputSource& source, IXMLHandler* root, uint32 flags, uint64 inputSize)
{
	if (!EnsureXerces())
		return false;

	const bool validateAlways = (flags & eXML_ValidateAlways) != 0;
	const bool validateNever = (flags & eXML_ValidateNever) != 0;
	const bool loadExternalDTD = (flags & eXML_LoadExternalDTD) != 0;
	const bool schema = (flags & eXML_Schema) != 0 && !validateNever;
	fDefaultedAttributes = (flags & eXML_DefaultedAttributes) != 0;

	bool ok = false;
	try
	{
		// Billion laughs: Xerces counts entity expansions against the manager's limit.
		xercesc::SecurityManager security;
		security.setEntityExpansionLimit(GetEntityExpansionLimit(inputSize));
		VXercesSAXParser parser;
		// "Auto" validates a document that has a DOCTYPE against its DTD, unless that DTD has an external
		// subset that is not loaded (VXercesSAXParser::doctypeDecl).
		if (validateAlways)
			parser.setValidationScheme(xercesc::SAXParser::Val_Always);
		else if (validateNever)
			parser.setValidationScheme(xercesc::SAXParser::Val_Never);
		else
			parser.setValidationScheme(xercesc::SAXParser::Val_Auto);
		parser.setDoNamespaces((flags & eXML_Namespaces) != 0 || schema);
		parser.setDoSchema(schema);
		if (schema)
		{
			if (!fExternalSchemaLocation.IsNull() && !fExternalSchemaLocation.IsEmpty())
				parser.setExternalSchemaLocation(Units(fExternalSchemaLocation).c_str());
			if (!fExternalNoNamespaceSchemaLocation.IsNull() && !fExternalNoNamespaceSchemaLocation.IsEmpty())
				parser.setExternalNoNamespaceSchemaLocation(Units(fExternalNoNamespaceSchemaLocation).c_str());
		}
		parser.setLoadExternalDTD(loadExternalDTD);
		parser.SetBounds(&security, GetCharacterLimit(inputSize));
		parser.setDisableDefaultEntityResolution(true);

		SAX_Handlers handlers(root, &parser, this, GetCharacterLimit(inputSize), loadExternalDTD, schema);
		parser.installAdvDocHandler(&handlers);
		parser.setErrorHandler(&handlers);
		parser.setEntityResolver(&handlers);
		try
		{
			parser.parse(source);
		}
		catch (const VXMLParseStopped&)
		{
			// The bridge pushed its error.
		}
		ok = parser.getErrorCount() == 0 && !handlers.HasStopped();
	}
	catch (const xercesc::OutOfMemoryException&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
	catch (const xercesc::XMLException& exception)
	{
		SAX_Handlers::PushError(VE_XML_FATAL_ERROR, VString(exception.getMessage()), source.getSystemId(),
			source.getPublicId(), int64(exception.getSrcLine()), 0);
	}
	catch (const xercesc::SAXException& exception)
	{
		SAX_Handlers::PushError(VE_XML_FATAL_ERROR, VString(exception.getMessage()), source.getSystemId(),
			source.getPublicId(), 0, 0);
	}
	catch (...)
	{
		_ThrowError(VE_XML_FATAL_ERROR);
	}
	fDefaultedAttributes = false;
	return ok;
}

void VXMLParser::SetEntitiesLocalFolder(const VString& basePath, VFolder* folder)
{
	if (folder != nullptr)
		folder->Retain();
	if (fEntityFolder != nullptr)
		fEntityFolder->Release();
	fEntityFolder = folder;
	fEntityBasePath = basePath;
}

VFile* VXMLParser::ResolveEntity(const VString& systemID) const
{
	return ResolveEntityFromFolder(fEntityBasePath, fEntityFolder, systemID);
}

VFile* VXMLParser::ResolveEntityFromFolder(const VString& basePath, VFolder* folder, const VString& systemID)
{
	if (folder == nullptr || !systemID.BeginsWithRawString(basePath))
		return nullptr;
	VString relative(systemID.GetCPointer() + basePath.GetLength(), systemID.GetLength() - basePath.GetLength());
	if (relative.IsEmpty())
		return nullptr;
	// In the folder's native path an empty step climbs to the parent ("a::b"), so an empty step, like "..",
	// would name something outside the folder. ':' separates there too.
	const UniChar* units = relative.GetCPointer();
	const int32 length = relative.GetLength();
	int32 start = 0;
	for (int32 i = 0; i <= length; ++i)
	{
		if (i < length && units[i] != u'/' && units[i] != u':')
			continue;
		const int32 stepLength = i - start;
		if (stepLength == 0 || (stepLength == 2 && units[start] == u'.' && units[start + 1] == u'.'))
			return nullptr;
		start = i + 1;
	}
	relative.Exchange(u'/', u':', 1, length);

	const VFilePath folderPath = folder->GetPath();
	const VFilePath path(folderPath, relative, FPS_SYSTEM, true);
	if (!path.IsValid() || !path.IsFile() || !path.IsChildOf(folderPath))
		return nullptr;
	VFile* file = new (std::nothrow) VFile(path, folder->GetFileSystem());
	if (file == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	if (!file->Exists())
	{
		file->Release();
		return nullptr;
	}
	return file;
}

}  // namespace velk
