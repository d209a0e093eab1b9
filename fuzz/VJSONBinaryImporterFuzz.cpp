// Feeds arbitrary bytes to the binary JSON reader. Whatever it reads must write back and read again to the
// same form: a second round that differs from the first traps, as does any read outside the data.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/FuzzSupport.h"
#include "kernel/json/VJSONBinaryImporter.h"
#include "kernel/json/VJSONBinaryWriter.h"
#include "kernel/json/VJSONValue.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

namespace {

using velk::VJSONBinaryImporter;
using velk::VJSONBinaryWriter;
using velk::VJSONValue;

bool Write(const VJSONValue& value, VJSONBinaryWriter::Buffer& buffer)
{
	VJSONBinaryWriter writer(0);
	return writer.StreamValue(value, buffer) == velk::VE_OK;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
	velk::fuzz::StartProcess();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	VJSONValue value;
	if (VJSONBinaryImporter(data, size).GetValue(value) == velk::VE_OK)
	{
		VJSONBinaryWriter::Buffer first;
		VJSONBinaryWriter::Buffer second;
		VJSONValue again;
		if (Write(value, first)
			&& VJSONBinaryImporter(first.GetDataPtr(), size_t(first.GetDataSize())).GetValue(again) == velk::VE_OK
			&& Write(again, second))
		{
			if (first.GetDataSize() != second.GetDataSize()
				|| std::memcmp(first.GetDataPtr(), second.GetDataPtr(), size_t(first.GetDataSize())) != 0)
				__builtin_trap();
		}
	}
	velk::VTask::FlushErrors();
	return 0;
}
