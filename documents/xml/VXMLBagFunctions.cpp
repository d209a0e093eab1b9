// Value bags written as XML files and streams and read back through the bag handlers.
#include "documents/xml/VXMLBagFunctions.h"

#include <new>

#include "containers/VValueBag.h"
#include "documents/xml/VXMLBagHandler.h"
#include "documents/xml/VXMLParser.h"
#include "files/IFile.h"
#include "files/VFolder.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/values/VStream.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {

namespace {

constexpr uint32 kSTREAM_MARKER = 1;

// Parses the text or the file into the bag inside an error scope that keeps its errors for the caller.
template <class Source>
VError LoadBag(Source source, const VString& rootName, VValueBag& bag, uint32 flags, const VString* entityBasePath, VFolder* entityFolder)
{
	StErrorContextInstaller scope(true, false);
	VXMLBagHandler_UniqueElement* handler = new (std::nothrow) VXMLBagHandler_UniqueElement(&bag, rootName);
	if (handler == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return scope.GetLastError();
	}
	if (entityBasePath != nullptr && entityFolder != nullptr && entityFolder->Exists())
		handler->SetEntitiesLocalFolder(*entityBasePath, entityFolder);
	VXMLParser parser;
	parser.Parse(source, handler, flags);
	handler->Release();
	return scope.GetLastError();
}

}  // namespace

VError WriteBagToFileInXML(const VValueBag& bag, const VString& rootName, IFile* file, bool indented)
{
	if (file == nullptr)
		return VE_OK;
	StErrorContextInstaller scope(true, false);
	VString text("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
	bag.DumpXML(text, rootName, indented);
	// A text that memory cut short is not written as if it were the bag.
	if (scope.GetLastError() == VE_OK)
		file->SetContentAsString(text, kCharSet_UTF8, eCRM_NONE, false);
	const VError error = scope.GetLastError();
	// The file layer leaves no half-written file, but a former content would remain in its place.
	if (error != VE_OK)
		file->Delete();
	return error;
}

VError WriteBagToStreamInXML(const VValueBag& bag, VStream* stream)
{
	if (stream == nullptr)
	{
		_ThrowError(VE_INVALID_PARAMETER);
		return VE_INVALID_PARAMETER;
	}
	VString text("<?xml version=\"1.0\" encoding=\"UTF-16\"?>");
	{
		// A bag whose text could not be made is not written as if it were that bag.
		StErrorContextInstaller scope(true, false);
		bag.DumpXML(text, VString("bag"), false);
		if (scope.GetLastError() != VE_OK)
			return scope.GetLastError();
	}
	stream->Put(kSTREAM_MARKER);
	text.WriteToStream(stream);
	return stream->GetLastError();
}

VError ReadBagFromStreamInXML(VValueBag& bag, VStream* stream)
{
	if (stream == nullptr)
	{
		_ThrowError(VE_INVALID_PARAMETER);
		return VE_INVALID_PARAMETER;
	}
	uint32 marker = 0;
	if (stream->Get(marker) != VE_OK)
		return stream->GetLastError();
	if (marker != kSTREAM_MARKER)
		return VE_OK;
	VString text;
	if (text.ReadFromStream(stream) != VE_OK)
		return stream->GetLastError() != VE_OK ? stream->GetLastError() : VE_STRING_ALLOC_FAILED;
	// The parse's own errors, not one the task held before the call.
	return LoadBag<const VString&>(text, VString("bag"), bag, 0, nullptr, nullptr);
}

VError LoadBagFromXML(const VString& xmlText, const VString& rootName, VValueBag& bag, uint32 flags, const VString* entityBasePath, VFolder* entityFolder)
{
	return LoadBag<const VString&>(xmlText, rootName, bag, flags, entityBasePath, entityFolder);
}

VError LoadBagFromXML(IFile* file, const VString& rootName, VValueBag& bag, uint32 flags, const VString* entityBasePath, VFolder* entityFolder)
{
	if (file == nullptr)
	{
		_ThrowError(VE_INVALID_PARAMETER);
		return VE_INVALID_PARAMETER;
	}
	return LoadBag<IFile*>(file, rootName, bag, flags, entityBasePath, entityFolder);
}

}  // namespace velk
