// Snapshots of an indicator's open sessions, taken by the worker at its next step after a reader asked,
// so that readers never wait on the worker's lock.
#pragma once

#include "kernel/VExport.h"

#include <vector>

#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VObject.h"
#include "runtime/VProgressIndicatorInfo.h"

namespace velk {

// Copies of the open sessions, the outermost first and the current last, with the fraction done and the
// change counter when they were taken. Shared, read-only once made.
class VELK_API VRefCountedSessionInfo : public VObject, public IRefCountable
{
public:
	VRefCountedSessionInfo(std::vector<VProgressIndicatorInfo>&& sessions, float percentDone, int32 changeCounter)
	: fSessions(std::move(sessions)), fPercentDone(percentDone), fChangeCounter(changeCounter) {}

	const std::vector<VProgressIndicatorInfo>& GetSessions() const { return fSessions; }
	float GetPercentDone() const { return fPercentDone; }
	int32 GetChangeCounter() const { return fChangeCounter; }

private:
	~VRefCountedSessionInfo() override = default;

	std::vector<VProgressIndicatorInfo> fSessions;
	float fPercentDone;
	int32 fChangeCounter;
};

// What a display shows: up to three sessions (one: it; two: both, outermost first; more: the outermost,
// the one just below the current and the current), the number open, that number capped at 3, the
// fraction done and the change counter.
class VELK_API VProgressSessionInfo : public VObject
{
public:
	static constexpr int32 kPlaces = 3;

	void FillFrom(const VRefCountedSessionInfo& snapshot);

	// 1 to GetShownCount(); the places past it are empty sessions.
	const VProgressIndicatorInfo& GetNth(int32 place) const { return fInfos[place - 1]; }
	int32 GetSessionCount() const { return fSessionCount; }
	int32 GetShownCount() const { return fShownCount; }
	float GetPercentDone() const { return fPercentDone; }
	int32 GetChangeCounter() const { return fChangeCounter; }

private:
	VProgressIndicatorInfo fInfos[kPlaces];
	int32 fSessionCount = 0;
	int32 fShownCount = 0;
	float fPercentDone = 0;
	int32 fChangeCounter = 0;
};

}  // namespace velk
