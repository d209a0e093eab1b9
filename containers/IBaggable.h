// The interface of objects that save themselves into a value bag and load themselves from one (error
// objects, settings). Each call answers an error code, 0 for success.
#pragma once

#include "kernel/VExport.h"

#include "runtime/VError.h"

namespace velk {

class VBagLoader;
class VString;
class VValueBag;

class VELK_API IBaggable
{
public:
	virtual ~IBaggable() = default;

	// Loading with a loader's UUID mapping; by default the loader is ignored and LoadFromBag answers.
	virtual VError LoadFromBagWithLoader(const VValueBag& bag, VBagLoader* loader, void* context = nullptr);
	// By default loads nothing and answers 0.
	virtual VError LoadFromBag(const VValueBag& bag);
	// Fills bag with the object and names the element kind it is stored under (AddElement uses it).
	virtual VError SaveToBag(VValueBag& bag, VString& kind) const = 0;
};

}  // namespace velk
