// Feeds arbitrary bytes to the XML parser, read into a bag through the bag handlers, under each group of
// parse flags. Whatever the document, the parse must end without a crash, a read outside the data or a
// leak, and a failed parse must leave an error behind.
#include <cstddef>
#include <cstdint>

#include "containers/VValueBag.h"
#include "documents/xml/VXMLBagHandler.h"
#include "documents/xml/VXMLParser.h"
#include "fuzz/FuzzSupport.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
	velk::fuzz::StartProcess();
	velk::VXMLParser::Init();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	if (size == 0)
		return 0;
	// The first byte picks the flags (validation never or when asked, namespaces, defaulted attributes), the
	// rest is the document. Neither the external DTD nor validation always: this Xerces leaks the declaration
	// of every external subset it loads.
	const velk::uint32 flags = data[0] & (velk::eXML_ValidateNever | velk::eXML_Namespaces | velk::eXML_DefaultedAttributes);
	velk::VRefPtr<velk::VValueBag> bag(new velk::VValueBag, true);
	velk::VRefPtr<velk::VXMLBagHandler_UniqueElement> root(
		new velk::VXMLBagHandler_UniqueElement(bag.Get(), velk::VString()), true);
	velk::VXMLParser parser;
	const bool ok = parser.Parse(data + 1, size - 1, root.Get(), flags);
	if (!ok && velk::VTask::GetLastError() == velk::VE_OK)
		__builtin_trap();
	velk::VTask::FlushErrors();
	return 0;
}
