#include "runtime/VProgressSessionInfo.h"

namespace velk {

void VProgressSessionInfo::FillFrom(const VRefCountedSessionInfo& snapshot)
{
	const std::vector<VProgressIndicatorInfo>& sessions = snapshot.GetSessions();
	int32 count = int32(sessions.size());
	for (VProgressIndicatorInfo& info : fInfos)
		info = VProgressIndicatorInfo();
	if (count <= kPlaces)
	{
		for (int32 i = 0; i < count; ++i)
			fInfos[i] = sessions[size_t(i)];
	}
	else
	{
		fInfos[0] = sessions.front();
		fInfos[1] = sessions[sessions.size() - 2];
		fInfos[2] = sessions.back();
	}
	fSessionCount = count;
	fShownCount = count < kPlaces ? count : kPlaces;
	fPercentDone = snapshot.GetPercentDone();
	fChangeCounter = snapshot.GetChangeCounter();
}

}  // namespace velk
