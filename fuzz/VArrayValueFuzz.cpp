// Feeds arbitrary bytes to the typed arrays' stream reader. The first byte picks the kind and the byte
// order; the rest is the stream. A read that fails must leave the array as it was; one that succeeds must
// write back to bytes that read again and write the same. A read outside the data traps through the
// sanitizers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "containers/VArrayValue.h"
#include "fuzz/FuzzSupport.h"
#include "kernel/values/VConstPtrStream.h"
#include "kernel/values/VPtrStream.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

namespace {

using velk::VArrayValue;

constexpr velk::ValueKind kKINDS[] = {100, 101, 102, 103, 104, 105, 107, 108, 109, 110, 111};

std::unique_ptr<VArrayValue> Make(velk::ValueKind kind)
{
	return std::unique_ptr<VArrayValue>(dynamic_cast<VArrayValue*>(VArrayValue::NewValueFromValueKind(kind)));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
	velk::fuzz::StartProcess();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	if (size < 1)
		return 0;
	const velk::ValueKind kind = kKINDS[(data[0] & 0x7F) % (sizeof(kKINDS) / sizeof(kKINDS[0]))];
	const bool swap = (data[0] & 0x80) != 0;
	std::unique_ptr<VArrayValue> array = Make(kind);
	if (array == nullptr)
		return 0;
	array->SetCount(3);
	std::vector<uint8_t> before;
	velk::fuzz::WriteStreamForm(*array, swap, before);

	if (velk::fuzz::ReadStreamForm(*array, data + 1, size - 1, swap) != velk::VE_OK)
	{
		std::vector<uint8_t> after;
		velk::fuzz::WriteStreamForm(*array, swap, after);
		if (array->GetCount() != 3 || after != before)
			__builtin_trap();
	}
	else
	{
		std::vector<uint8_t> first;
		std::vector<uint8_t> second;
		std::unique_ptr<VArrayValue> again = Make(kind);
		if (velk::fuzz::WriteStreamForm(*array, swap, first) && velk::fuzz::ReadStreamForm(*again, first.data(), first.size(), swap) == velk::VE_OK
			&& velk::fuzz::WriteStreamForm(*again, swap, second) && first != second)
			__builtin_trap();
	}
	velk::VTask::FlushErrors();
	return 0;
}
