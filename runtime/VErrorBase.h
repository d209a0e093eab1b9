// A reference-counted error object: the code, the task that raised it and named parameters. Raising
// pushes it on the calling task's error context; nothing is ever thrown. When memory runs out a call
// that needed it pushes velk 100 and says so in its result; no language exception leaves this class.
#pragma once

#include "kernel/VExport.h"

#include <vector>

#include "kernel/json/VJSONObject.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/memory/VObject.h"
#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace velk {

class ILocalizer;
class VValueBag;
class XMacStackCrawl;

class VELK_API VErrorBase : public VObject, public IRefCountable
{
public:
	// Code 0, no task, no parameters: an error about to be loaded.
	VErrorBase();
	// Stores code, the parameters "errCode" (the number) and "componentSignature" (its four
	// characters) and, when the calling thread has a task, that task's id and name (else 0 and "").
	// A parameter that memory is too short to store is missing (velk 100 pushed).
	explicit VErrorBase(VError code);
	// Stores code and holds params (retained) as they are; null params give a new empty object. The task as
	// above.
	VErrorBase(VError code, VJSONObject* params);
	// Same code, task and parameters, the parameters deep-copied; a new object with its own count of 1 and
	// no stack crawl. When the parameters cannot be copied the copy starts with an empty object.
	VErrorBase(const VErrorBase& other);
	~VErrorBase() override;

	VErrorBase& operator=(const VErrorBase&) = delete;

	VError GetCode() const { return fCode; }

	// A new error holding params (retained; null gives a new empty object). Its signature is params'
	// "componentSignature" text, else signature, written back; its number params' "errCode" (NaN gives 0,
	// out-of-range numbers saturate), else -1, written back. Both zero give velk 1.
	static VErrorBase* Create(VJSONObject* params, OsType signature);
	// A new object (one reference for the caller) with "errCode", "componentSignature", "message" (the
	// description) and, when the parameters have them, "extraDescription" and "seriousError". Null when
	// memory is short (velk 100 pushed).
	VJSONObject* CreateJSONObject() const;

	// Named parameters, the properties of a JSON object in the order they were first set; setting a name
	// again replaces its value. Numbers are JSON numbers: a 64-bit value beyond 2^53 loses its lowest
	// digits. False when memory is short: velk 100 is pushed and the parameters are left as they were.
	bool SetString(const VString& name, const VString& value);
	bool SetLong(const VString& name, int32 value);
	bool SetLong8(const VString& name, int64 value);

	// Read a parameter; false (value untouched) when absent or of the other type. Numbers are
	// truncated toward zero, saturating at the type's limits.
	bool GetString(const VString& name, VString& value) const;
	bool GetLong(const VString& name, int32& value) const;
	bool GetLong8(const VString& name, int64& value) const;
	// The parameters object itself, null only when memory was too short to make it.
	VJSONObject* GetParams() const { return fParams.Get(); }

	// Sets "message", the fixed description that wins over every localizer; false as SetString.
	bool SetDescription(const VString& text);
	// Stores the present description as "message" unless one is set, so it no longer depends on
	// localizers; false as SetString.
	bool FreezeDescription();

	// Writes "error_code", "task_id", "task_name" and, replacing any, the element "parameters" made from the
	// parameters (left out when they have no bag form). Answers 0.
	VError SaveToBag(VValueBag& bag) const;
	// Takes "error_code", "task_id" and "task_name" where present, and the first "parameters" element as the
	// parameters when it reads as a JSON object. Answers 0.
	VError LoadFromBag(const VValueBag& bag);

	// "Error code: %d (%.4s)": the number and the four signature characters.
	virtual void GetErrorString(VString& text) const;
	// The "message" parameter when set; else the text of the localizer of the code's signature (or the
	// process's own) with its {name} placeholders filled from the parameters (unknown names removed); else
	// the system's text for a 'POSX' code; else GetErrorString. Never empty.
	virtual void GetErrorDescription(VString& text) const;
	// The "action_description" parameter with its {name} placeholders filled from the parameters (unknown
	// names removed); empty when absent.
	virtual void GetActionDescription(VString& text) const;
	// "velkbase" for the toolbox's signature, else "component: 'abcd'".
	virtual void GetLocation(VString& text) const;
	// The name of the task that raised the error, and its id through id when not null.
	virtual void GetTaskName(VString& name, int32* id = nullptr) const;
	// Error string, then description, location and action when not empty, then the task; one per line.
	virtual void DumpToString(VString& text) const;

	// With a process, the dump as UTF-16 cut to the buffer (returns 2); without, a one-line summary
	// in 8-bit text (returns 7). length becomes the bytes written.
	CharSet DebugDump(char* buffer, int& length) const override;

	// Captures the calling stack into the error (XMacStackCrawl::LoadFrames with skip and max),
	// replacing an earlier crawl. The frames are allocated only here, so an error that never loads
	// them stays small. False, the error unchanged, when memory is short (velk 100 pushed).
	bool LoadStackCrawl(uint32 skip, uint32 max);
	// The loaded crawl; null until LoadStackCrawl succeeds, and in every new error or copy.
	const XMacStackCrawl* GetStackCrawl() const { return fStackCrawl; }

	// Localizers by component signature, not retained. Register and unregister only while no other
	// task raises or describes errors (start-up and shut-down): the registry has no lock.
	// RegisterLocalizer answers false when memory is short (velk 100 pushed, the registry unchanged).
	static bool RegisterLocalizer(OsType signature, ILocalizer* localizer);
	static void UnregisterLocalizer(OsType signature);
	static ILocalizer* GetLocalizer(OsType signature);

	// Asks localizer (the process's own when null) for code's message: true with text set and its
	// placeholders filled from the parameters; false with text cleared when there is no localizer or no
	// message. True at once for code 0.
	bool CallLocalizer(ILocalizer* localizer, VError code, VString& text) const;

	// An OSStatus as a toolbox code: 0 for 0, the mapped code for a known status, else ('CARB', status).
	static VError MAC_MapCarbonErrorToVError(int32 status);
	// A native failure as the toolbox code of an operation: known 'CARB' and 'POSX' codes map to
	// theirs, other native codes with a non-zero number give defaultCode, toolbox codes pass through
	// (the generic error 'velk' 1 gives defaultCode).
	static VError EncodedNativeErrorToVError(VError native, VError defaultCode);

private:
	// The parameters object, made on first need; false, velk 100 pushed, when it cannot be.
	bool _MakeParams();
	bool _SetParameter(const VString& name, const VJSONValue& value);

	VError fCode = VE_OK;
	int32 fTaskID = 0;
	VString fTaskName;
	VRefPtr<VJSONObject> fParams;
	XMacStackCrawl* fStackCrawl = nullptr;  // owned; the platform half stays out of this header
};

}  // namespace velk
