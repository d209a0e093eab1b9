// Feeds arbitrary bytes, read as UTF-8, to the JSON text parser with and without date recognition. What a
// plain parse accepts must write back (strings quoted) to text that it accepts again, settling on one text;
// a read outside the data traps through the sanitizers.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/json/VJSONImporter.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
	velk::fuzz::StartProcess();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	if (size == 0)
		return 0;
	// The first byte picks the options, the rest is the text.
	const velk::uint32 options = (data[0] & 1) != 0 ? velk::VJSONImporter::kISODates | velk::VJSONImporter::kBangDates : 0;
	const velk::VString text(data + 1, size - 1, velk::kCharSet_UTF8);
	velk::VJSONValue value;
	// With date recognition a string that reads as a date comes back as a date: only plain parses round-trip.
	if (velk::VJSONImporter::ParseString(text, value, options) == velk::VE_OK && options == 0)
	{
		// Quoted, so that a string read from a bare word comes back as a string and not as another word.
		const velk::uint32 writing = velk::VString::kJSON_WITH_QUOTES;
		// Numbers keep 14 digits, so a first writing may still change once read again (2.2292222222225E+14 reads
		// back as an integer, written whole); from the second writing on the text must not change.
		velk::VString first;
		velk::VJSONValue again;
		velk::VString second;
		velk::VJSONValue third;
		velk::VString last;
		if (value.Stringify(first, writing) == velk::VE_OK)
		{
			if (velk::VJSONImporter::ParseString(first, again, options) != velk::VE_OK
				|| again.Stringify(second, writing) != velk::VE_OK
				|| velk::VJSONImporter::ParseString(second, third, options) != velk::VE_OK
				|| third.Stringify(last, writing) != velk::VE_OK || !last.EqualToStringRaw(second))
				__builtin_trap();
		}
	}
	velk::VTask::FlushErrors();
	return 0;
}
