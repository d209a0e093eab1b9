// Feeds arbitrary bytes, read as UTF-8, to the bag's XML reader. What it reads must write back to text that
// reads again. The first writing may drop what XML text cannot carry (character data of tabs alone is left
// out, and its element then reads back without any), so from the second reading on the bag, written, must
// not change. A read outside the data traps through the sanitizers.
#include <cstddef>
#include <cstdint>

#include "containers/VValueBag.h"
#include "documents/xml/VXMLBagFunctions.h"
#include "fuzz/FuzzSupport.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/strings/VString.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

namespace {

// The bag read from the text, written back as the element "bag"; false when the text does not read.
bool ReadAndWrite(const velk::VString& text, const velk::VString& rootName, bool indented, velk::VString& written)
{
	velk::VValueBag* bag = new velk::VValueBag();
	const bool read = velk::LoadBagFromXML(text, rootName, *bag, 0) == velk::VE_OK;
	written.Clear();
	if (read)
		bag->DumpXML(written, velk::VString("bag"), indented);
	bag->Release();
	return read;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
	velk::fuzz::StartProcess();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	if (size == 0)
		return 0;
	// The first byte picks the layout, the rest is the document.
	const bool indented = (data[0] & 1) != 0;
	const velk::VString text(data + 1, size - 1, velk::kCharSet_UTF8);
	velk::VString first;
	if (ReadAndWrite(text, velk::VString(), indented, first))
	{
		velk::VString second;
		velk::VString third;
		if (!ReadAndWrite(first, velk::VString("bag"), indented, second)
			|| !ReadAndWrite(second, velk::VString("bag"), indented, third) || !third.EqualToStringRaw(second))
			__builtin_trap();
	}
	velk::VTask::FlushErrors();
	return 0;
}
