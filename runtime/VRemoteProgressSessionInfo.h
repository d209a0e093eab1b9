// An indicator's sessions as sent to another process, whole or as the parts that changed since the
// previous snapshot; "fFlags" says which parts are present.
#pragma once

#include "kernel/VExport.h"

#include <vector>

#include "containers/VValueBag.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"
#include "runtime/VProgressIndicatorInfo.h"

namespace velk {

class VELK_API VRemoteProgressSessionInfo : public VObject
{
public:
	static constexpr uint32 kSessionCount = 1;
	static constexpr uint32 kChangesVersion = 2;
	static constexpr uint32 kSessionVersion = 4;
	static constexpr uint32 kMasterSessionVersion = 8;
	static constexpr uint32 kUserAbort = 16;
	static constexpr uint32 kCanInterrupt = 32;
	static constexpr uint32 kCurrent = 64;
	static constexpr uint32 kSessionStack = 128;

	bool Has(uint32 part) const { return (fFlags & part) != 0; }

	// Kind "DistantSessionInfo". The session stack is written only when the current session is not.
	void SaveToBag(VValueBag& bag, VString& kind) const;
	// "fFlags", then exactly the parts it names.
	void LoadFromBag(const VValueBag& bag);
	// No parts.
	void Reset();

	uint32 fFlags = 0;
	int32 fSessionCount = 0;
	int32 fChangesVersion = 0;
	int32 fSessionVersion = 0;
	int32 fMasterSessionVersion = 0;
	int32 fUserAbort = 0;
	bool fCanInterrupt = false;
	// The current session and the parts of it that changed (VProgressIndicatorInfo's update flags).
	VProgressIndicatorInfo fCurrent;
	uint32 fCurrentFlags = 0;
	// Every open session, the outermost first and the current last.
	std::vector<VProgressIndicatorInfo> fSessionStack;
};

}  // namespace velk
