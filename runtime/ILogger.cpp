// The logger's shared helpers: the sequence of log bags, the error and assertion bags, the one-line form of a
// stack crawl, and the log bag keys.
#include "runtime/ILogger.h"

#include <atomic>
#include <cstring>
#include <new>

#include "containers/VValueBag.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/strings/VString.h"
#include "runtime/VErrorBase.h"
#include "runtime/VProcess.h"
#include "runtime/mac/XMacStackCrawl.h"

namespace velk {

namespace {

std::atomic<uint64> sSequence{0};

VString LogSource()
{
	VString source;
	VProcess::GetLogSourceIdentifier(source);
	return source;
}

}  // namespace

uint64 ILogger::GetSequenceNumber()
{
	return sSequence.fetch_add(1, std::memory_order_relaxed) + 1;
}

void ILogger::LogErrorIfNecessary(const VErrorBase* error)
{
	if (error == nullptr || !ShouldLog(EML_Error))
		return;
	VRefPtr<VValueBag> bag(new (std::nothrow) VValueBag, true);
	if (!bag)
		return;
	ILoggerBagKeys::level.Set(bag.Get(), EML_Error);
	error->SaveToBag(*bag);
	VString text;
	error->GetErrorDescription(text);
	ILoggerBagKeys::message.Set(bag.Get(), text);
	if (const OsType signature = ERRCODE_SIGNATURE(error->GetCode()); signature != 0)
		ILoggerBagKeys::component_signature.Set(bag.Get(), signature);
	ILoggerBagKeys::source.Set(bag.Get(), LogSource());
	LogBag(bag.Get());
}

void ILogger::LogAssertIfNecessary(const char* message, const char* fileName, int32 line)
{
	if (!ShouldLog(EML_Assert))
		return;
	VRefPtr<VValueBag> bag(new (std::nothrow) VValueBag, true);
	if (!bag)
		return;
	ILoggerBagKeys::level.Set(bag.Get(), EML_Assert);
	const char* name = fileName != nullptr ? fileName : "";
	if (const char* slash = std::strrchr(name, '/'))
		name = slash + 1;
	ILoggerBagKeys::file_name.Set(bag.Get(), VString(name));
	ILoggerBagKeys::line_number.Set(bag.Get(), line);
	ILoggerBagKeys::message.Set(bag.Get(), VString(message != nullptr ? message : ""));
	XMacStackCrawl crawl;
	crawl.LoadFrames(2, 8);
	VString text;
	crawl.Dump(text);
	if (!text.IsEmpty())
	{
		VString simple;
		SimplifyStackCrawl(text, simple);
		ILoggerBagKeys::stack_crawl.Set(bag.Get(), simple);
	}
	LogBag(bag.Get());
}

void ILogger::SimplifyStackCrawl(const VString& crawl, VString& out)
{
	std::vector<VString> lines;
	crawl.GetSubStrings(u'\n', lines, false, false);
	out.Clear();
	const VString thunk("non-virtual thunk to ");
	const VString toolbox("velk::");
	const VString trailingConst(" const");
	const VString empty;
	for (VString& line : lines)
	{
		const int32 open = line.FindUniChar(u'(', 1, false);
		const int32 close = line.FindUniChar(u')', 1, false);
		if (open > 0 && close > open)
			line.Remove(open, close - open + 1);
		line.ExchangeRawString(toolbox, empty);
		line.ExchangeRawString(thunk, empty);
		if (line.EndsWithRawString(trailingConst))
			line.Truncate(line.GetLength() - trailingConst.GetLength());
		if (!out.IsEmpty())
			out.AppendCString(" <- ");
		out.AppendUniChars(line.GetCPointer(), line.GetLength());
	}
}

namespace ILoggerBagKeys {

const StBagKeyNoDefault<VString, VString> message("message");
const StBagKeyWithDefault<int32, VLong> level("level", EML_Information);
const StBagKeyNoDefault<VString, VString> source("source");
const StBagKeyNoDefault<VString, VString> task_name("task_name");
const StBagKeyNoDefault<VString, VString> file_name("file_name");
const StBagKeyNoDefault<VString, VString> stack_crawl("stack_crawl");
const StBagKeyNoDefault<int32, VLong> line_number("line_number");
const StBagKeyNoDefault<uint32, VLong8> component_signature("component_signature");
const StBagKeyNoDefault<int32, VLong> elapsed_milliseconds("elapsed_milliseconds");
const StBagKeyNoDefault<int32, VLong> count_bytes_sent("count_bytes_sent");
const StBagKeyNoDefault<int32, VLong> count_bytes_received("count_bytes_received");
const StBagKeyNoDefault<VUUID, VUUID> base_context_uuid("base_context_uuid");
const StBagKeyNoDefault<uint64, VLong8> error_code("error_code");
const StBagKeyNoDefault<int32, VLong> count_bytes_asked("count_bytes_asked");
const StBagKeyNoDefault<int64, VLong8> socket("socket");
const StBagKeyNoDefault<bool, VBoolean> is_blocking("is_blocking");
const StBagKeyNoDefault<bool, VBoolean> is_ssl("is_ssl");
const StBagKeyNoDefault<bool, VBoolean> is_select_io("is_select_io");
const StBagKeyNoDefault<const char*, VString> payload("payload");
const StBagKeyNoDefault<int32, VLong> ms_timeout("ms_timeout");
const StBagKeyNoDefault<int32, VLong> ms_spent("ms_spent");
const StBagKeyNoDefault<int32, VLong> dump_offset("dump_offset");
const StBagKeyNoDefault<VString, VString> dump_buffer("dump_buffer");
const StBagKeyNoDefault<VString, VString> local_addr("local_addr");
const StBagKeyNoDefault<VString, VString> peer_addr("peer_addr");
const StBagKeyNoDefault<int32, VLong> local_port("local_port");
const StBagKeyNoDefault<int32, VLong> peer_port("peer_port");
const StBagKeyNoDefault<int32, VLong> task_id("task_id");
const StBagKeyNoDefault<bool, VBoolean> exchange_id("exchange_id");
const StBagKeyNoDefault<int64, VLong8> debug_context("debug_context");
const StBagKeyNoDefault<VString, VString> jobId("jobId");
const StBagKeyNoDefault<int32, VLong> jobState("jobState");
const StBagKeyNoDefault<VString, VString> pipe("pipe");
const StBagKeyNoDefault<VString, VString> user_id("user_id");
const StBagKeyNoDefault<VString, VString> stream_id("stream_id");
const StBagKeyNoDefault<VString, VString> system_username("system_username");
const StBagKeyNoDefault<VString, VString> hostname("hostname");
const StBagKeyNoDefault<int64, VLong8> sequence("sequence");
const StBagKeyNoDefault<VTime, VTime> time("time");

}  // namespace ILoggerBagKeys

}  // namespace velk
