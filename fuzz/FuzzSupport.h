// What the fuzz targets share: the process their errors are recorded in, and the way a value's stream form is
// written and read back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kernel/values/VConstPtrStream.h"
#include "kernel/values/VPtrStream.h"
#include "runtime/VProcess.h"

namespace velk::fuzz {

// Made once and kept for the whole run, so that errors are recorded on a task as they are in use.
inline void StartProcess()
{
	static VProcess* sProcess = new VProcess;
	sProcess->Init(0);
}

// value's stream form (byte-swapped when swap) into bytes; false when it cannot be written.
template <class T>
bool WriteStreamForm(const T& value, bool swap, std::vector<uint8_t>& bytes)
{
	VPtrStream stream;
	stream.SetNeedSwap(swap);
	if (stream.OpenWriting() != VE_OK)
		return false;
	const bool written = value.WriteToStream(&stream) == VE_OK;
	stream.CloseWriting();
	const VStreamUnderlyingData data = stream.GetUnderlyingData();
	const uint8_t* start = static_cast<const uint8_t*>(data.fData);
	bytes.assign(start, start + data.fSize);
	return written;
}

template <class T>
VError ReadStreamForm(T& value, const uint8_t* data, size_t size, bool swap)
{
	VConstPtrStream stream(data, int64_t(size));
	stream.SetNeedSwap(swap);
	stream.OpenReading();
	const VError error = value.ReadFromStream(&stream);
	stream.CloseReading();
	return error;
}

}  // namespace velk::fuzz
