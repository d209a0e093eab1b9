// Feeds arbitrary bytes to the DOM wrapper: a document that parses is walked by the element handlers, read
// into a bag, its text content read, cloned and serialised; whatever it holds, nothing may throw, leak or
// read outside the data, the text content is the one Xerces gives, and what is serialised has no line feed
// left. Documents that do not parse must simply give null.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include <xercesc/dom/DOMElement.hpp>

#include "containers/VValueBag.h"
#include "documents/xml/IXMLDomWrapper.h"
#include "documents/xml/VNullXMLHandler.h"
#include "fuzz/FuzzSupport.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VBlob.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
	velk::fuzz::StartProcess();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	using velk::IXMLDomWrapper;
	VXMLDOMNode_opaque* document = IXMLDomWrapper::CreateNodeDocumentFromBuffer(data, size);
	if (document != nullptr)
	{
		velk::VNullXMLHandler* handler = new velk::VNullXMLHandler();
		IXMLDomWrapper::Parse(document, handler);
		handler->Release();

		velk::VValueBag* bag = new velk::VValueBag();
		IXMLDomWrapper::ReadBagFromDomXML(document, *bag);
		bag->Release();

		// The wrapper reads the text content itself, without recursion: it must be Xerces's.
		VXMLDOMElement_opaque* root = IXMLDomWrapper::GetRootNodeElement(document);
		velk::VString text;
		if (root != nullptr && IXMLDomWrapper::GetNodeElementValueString(root, text))
		{
			const XMLCh* expected = reinterpret_cast<xercesc::DOMElement*>(root)->getTextContent();
			const std::u16string_view theirs = expected != nullptr ? std::u16string_view(expected) : std::u16string_view();
			if (theirs != std::u16string_view(text.GetCPointer(), size_t(text.GetLength())))
				__builtin_trap();
		}

		IXMLDomWrapper::ReleaseNode(IXMLDomWrapper::CloneNodeDocument(document));

		velk::VBlobWithPtr blob;
		size_t written = 0;
		if (IXMLDomWrapper::SerializeToBlob(document, &blob, 0, written, (size & 1) != 0))
		{
			// In UTF-8 every line end has become a carriage return.
			static const char kUTF8Declaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"";
			const char* bytes = reinterpret_cast<const char*>(blob.GetDataPtr());
			if (written != blob.GetSize())
				__builtin_trap();
			if (written >= sizeof(kUTF8Declaration) - 1 && std::memcmp(bytes, kUTF8Declaration, sizeof(kUTF8Declaration) - 1) == 0
				&& std::memchr(bytes, '\n', written) != nullptr)
				__builtin_trap();
		}
		IXMLDomWrapper::ReleaseNode(document);
	}
	velk::VTask::FlushErrors();
	return 0;
}
