// What a caller sees of the process logger: log bags filtered by level, listeners that receive them in
// batches, and the bag keys log bags use. The two helpers turn an error or a failed assertion into a bag.
#pragma once

#include "kernel/VExport.h"

#include <vector>

#include "containers/StBagKey.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/values/VLong.h"
#include "kernel/values/VLong8.h"
#include "kernel/values/VTime.h"
#include "kernel/values/VUUID.h"
#include "kernel/values/VBoolean.h"

namespace velk {

class VErrorBase;
class VString;
class VValueBag;

// Message levels; also the bit numbers of a logger's level mask.
enum EMessageLevel : int32
{
	EML_Dump = 0,
	EML_Trace = 1,
	EML_Assert = 2,
	EML_Debug = 3,
	EML_Information = 4,
	EML_Warning = 5,
	EML_Error = 6,
	EML_Fatal = 7
};

// Receives batches of log bags, oldest first, on the thread that flushes; read-only.
class VELK_API ILogListener : public IRefCountable
{
public:
	virtual void Put(const std::vector<const VValueBag*>& bags) = 0;
};

class VELK_API ILogger : public IRefCountable
{
public:
	virtual void Start() = 0;
	virtual void Stop() = 0;
	virtual bool IsStarted() const = 0;
	// Started, and the level's bit (level modulo 32) set in the mask.
	virtual bool ShouldLog(EMessageLevel level) const = 0;
	// Keeps the bag (retained) when its level passes, stamping "time" and "sequence" when missing.
	virtual void LogBag(VValueBag* bag) = 0;
	// A bag of "source" (the process's identifier when empty), "level" (left out for the default 4) and
	// "message".
	virtual void LogMessage(EMessageLevel level, const VString& message, const VString& source) = 0;
	// Hands what is pending to the listeners, in age order.
	virtual void Flush() = 0;
	// Set or clear the level's bit; each answers its previous value.
	virtual bool WithTrace(bool with) = 0;
	virtual bool WithDump(bool with) = 0;
	virtual bool WithDebug(bool with) = 0;
	virtual bool WithWarning(bool with) = 0;
	virtual bool WithError(bool with) = 0;
	virtual bool WithFatal(bool with) = 0;
	virtual bool WithAssert(bool with) = 0;
	virtual bool WithInfo(bool with) = 0;
	// False for null and for a listener already registered (or not registered, to remove).
	virtual bool AddLogListener(ILogListener* listener) = 0;
	virtual bool RemoveLogListener(ILogListener* listener) = 0;

	// The process-wide sequence of log bags: the first call answers 1.
	static uint64 GetSequenceNumber();

	// An ERROR bag of the error's bag form, its description, its signature and the process's source.
	void LogErrorIfNecessary(const VErrorBase* error);
	// An ASSERT bag of the message, the file's last component, the line and the simplified call stack.
	void LogAssertIfNecessary(const char* message, const char* fileName, int32 line);

	// The stack crawl's lines joined into one: argument lists, "velk::", "non-virtual thunk to " and a
	// trailing " const" removed from each, the lines joined by " <- ".
	static void SimplifyStackCrawl(const VString& crawl, VString& out);
};

// The keys of log bags and the value class each is stored as.
namespace ILoggerBagKeys {

VELK_API extern const StBagKeyNoDefault<VString, VString> message;
VELK_API extern const StBagKeyWithDefault<int32, VLong> level;	// default 4
VELK_API extern const StBagKeyNoDefault<VString, VString> source;
VELK_API extern const StBagKeyNoDefault<VString, VString> task_name;
VELK_API extern const StBagKeyNoDefault<VString, VString> file_name;
VELK_API extern const StBagKeyNoDefault<VString, VString> stack_crawl;
VELK_API extern const StBagKeyNoDefault<int32, VLong> line_number;
VELK_API extern const StBagKeyNoDefault<uint32, VLong8> component_signature;
VELK_API extern const StBagKeyNoDefault<int32, VLong> elapsed_milliseconds;
VELK_API extern const StBagKeyNoDefault<int32, VLong> count_bytes_sent;
VELK_API extern const StBagKeyNoDefault<int32, VLong> count_bytes_received;
VELK_API extern const StBagKeyNoDefault<VUUID, VUUID> base_context_uuid;
VELK_API extern const StBagKeyNoDefault<uint64, VLong8> error_code;
VELK_API extern const StBagKeyNoDefault<int32, VLong> count_bytes_asked;
VELK_API extern const StBagKeyNoDefault<int64, VLong8> socket;
VELK_API extern const StBagKeyNoDefault<bool, VBoolean> is_blocking;
VELK_API extern const StBagKeyNoDefault<bool, VBoolean> is_ssl;
VELK_API extern const StBagKeyNoDefault<bool, VBoolean> is_select_io;
VELK_API extern const StBagKeyNoDefault<const char*, VString> payload;
VELK_API extern const StBagKeyNoDefault<int32, VLong> ms_timeout;
VELK_API extern const StBagKeyNoDefault<int32, VLong> ms_spent;
VELK_API extern const StBagKeyNoDefault<int32, VLong> dump_offset;
VELK_API extern const StBagKeyNoDefault<VString, VString> dump_buffer;
VELK_API extern const StBagKeyNoDefault<VString, VString> local_addr;
VELK_API extern const StBagKeyNoDefault<VString, VString> peer_addr;
VELK_API extern const StBagKeyNoDefault<int32, VLong> local_port;
VELK_API extern const StBagKeyNoDefault<int32, VLong> peer_port;
VELK_API extern const StBagKeyNoDefault<int32, VLong> task_id;
VELK_API extern const StBagKeyNoDefault<bool, VBoolean> exchange_id;
VELK_API extern const StBagKeyNoDefault<int64, VLong8> debug_context;
VELK_API extern const StBagKeyNoDefault<VString, VString> jobId;
VELK_API extern const StBagKeyNoDefault<int32, VLong> jobState;
VELK_API extern const StBagKeyNoDefault<VString, VString> pipe;
VELK_API extern const StBagKeyNoDefault<VString, VString> user_id;
VELK_API extern const StBagKeyNoDefault<VString, VString> stream_id;
VELK_API extern const StBagKeyNoDefault<VString, VString> system_username;
VELK_API extern const StBagKeyNoDefault<VString, VString> hostname;
VELK_API extern const StBagKeyNoDefault<int64, VLong8> sequence;
VELK_API extern const StBagKeyNoDefault<VTime, VTime> time;

}  // namespace ILoggerBagKeys

}  // namespace velk
