#include "runtime/VBootLogListener.h"

#include <new>

#include "containers/VValueBag.h"

namespace velk {

VBootLogListener::~VBootLogListener()
{
	for (const VValueBag* bag : fBags)
		bag->Release();
}

void VBootLogListener::Put(const std::vector<const VValueBag*>& bags)
{
	std::lock_guard<std::mutex> guard(fMutex);
	for (const VValueBag* bag : bags)
	{
		try
		{
			fBags.push_back(bag);
			bag->Retain();
		}
		catch (const std::bad_alloc&)
		{
			// Short of memory the start-up log keeps what it has: the logger goes on without it.
			return;
		}
	}
}

void VBootLogListener::TakeBags(std::vector<const VValueBag*>& bags)
{
	std::lock_guard<std::mutex> guard(fMutex);
	bags.swap(fBags);
	fBags.clear();
}

}  // namespace velk
