// The listener that keeps every log bag while the process starts, so that listeners attached later (the
// log file) still receive what was logged before them.
#pragma once

#include "kernel/VExport.h"

#include <mutex>
#include <vector>

#include "runtime/ILogger.h"

namespace velk {

class VELK_API VBootLogListener : public ILogListener
{
public:
	VBootLogListener() = default;
	~VBootLogListener() override;

	// Keeps each bag of the batch, retained.
	void Put(const std::vector<const VValueBag*>& bags) override;
	// Takes the kept bags out, oldest first; the caller owns their references.
	void TakeBags(std::vector<const VValueBag*>& bags);

private:
	std::mutex fMutex;
	std::vector<const VValueBag*> fBags;
};

}  // namespace velk
