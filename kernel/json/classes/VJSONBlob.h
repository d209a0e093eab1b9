// The JSON class Blob: binary data held by JSON values.
#pragma once

#include "kernel/strings/VString.h"

namespace velk {

class VJSONBlob
{
public:
	static const VString key_size;
};

}  // namespace velk
