// The default loaders of baggable objects.
#include "containers/IBaggable.h"

namespace velk {

VError IBaggable::LoadFromBagWithLoader(const VValueBag& bag, VBagLoader*, void*)
{
	return LoadFromBag(bag);
}

VError IBaggable::LoadFromBag(const VValueBag&)
{
	return 0;
}

}  // namespace velk
