// The JSON class Blob: binary data held by JSON values.
#pragma once

#include "kernel/VExport.h"

#include "kernel/strings/VString.h"

namespace velk {

class VELK_API VJSONBlob
{
public:
	static const VString key_size;
};

}  // namespace velk
