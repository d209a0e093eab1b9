#include "runtime/VLog4jMsgFileLogger.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "containers/VValueBag.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "kernel/intl/VTextConverters.h"
#include "runtime/VProcess.h"
#include "runtime/VSplitableLogFile.h"

namespace velk {

namespace {

// The option of VTime::GetRfc3339String for the line: local time with milliseconds, no offset.
constexpr uint32 kLineTimeOptions = VTime::kRFC3339_LOCAL;

const char* const kLevelNames[] = {"DUMP", "TRACE", "ASSERT", "DEBUG", "INFO", "WARN", "ERROR", "FATAL"};

// The attributes the line's fixed parts come from; every other one is an extra.
enum Field : int32
{
	kExtra = -1,
	kMessage,
	kErrorCode,
	kLevel,
	kSource,
	kSignature,
	kSequence,
	kTime,
	kFieldCount
};

struct KnownKey
{
	std::string_view fKey;
	Field fField;
	const char* fLabel;  // of an extra; null: not written among the extras
};

// A key not listed is an extra written as its own name and "=".
const KnownKey kKnownKeys[] = {
	{"message", kMessage, nullptr},
	{"error_code", kErrorCode, nullptr},
	{"level", kLevel, nullptr},
	{"source", kSource, nullptr},
	{"component_signature", kSignature, nullptr},
	{"sequence", kSequence, nullptr},
	{"time", kTime, nullptr},
	{"task_id", kExtra, "task="},
	{"task_name", kExtra, "taskName="},
	{"socket", kExtra, "socket="},
	{"local_addr", kExtra, "localAddr="},
	{"local_port", kExtra, "localPort="},
	{"peer_addr", kExtra, "peerAddr="},
	{"peer_port", kExtra, "peerPort="},
	{"exchange_id", kExtra, "exchangeEndpointId="},
	{"is_blocking", kExtra, "blocking="},
	{"is_ssl", kExtra, "SSL="},
	{"is_select_io", kExtra, "selectIO="},
	{"ms_timeout", kExtra, "timeout="},
	{"count_bytes_asked", kExtra, "asked="},
	{"count_bytes_sent", kExtra, "sent="},
	{"count_bytes_received", kExtra, "received="},
	{"ms_spent", kExtra, "executionTime="},
	{"dump_offset", kExtra, "offset="},
	{"dump_buffer", kExtra, "data="},
	{"file_name", kExtra, "fileName="},
	{"line_number", kExtra, "lineNumber="},
	{"stack_crawl", kExtra, "stackCrawl="},
	{"user_id", kExtra, "UUID="},
};

const KnownKey* FindKey(const char* key, size_t length)
{
	for (const KnownKey& entry : kKnownKeys)
	{
		if (entry.fKey.size() == length && std::memcmp(entry.fKey.data(), key, length) == 0)
			return &entry;
	}
	return nullptr;
}

// Appends UTF-16 units as UTF-8; an unpaired surrogate becomes U+FFFD. With oneLine, each line feed is
// written " ; ", so that a value never breaks the line.
void AppendUnits(std::string& out, const UniChar* units, size_t count, bool oneLine)
{
	for (size_t i = 0; i < count; ++i)
	{
		// A run of ASCII other than a line feed to replace, the bulk of a line, in one growth.
		size_t run = i;
		while (run < count && units[run] < 0x80 && !(oneLine && units[run] == u'\n'))
			++run;
		if (run > i)
		{
			const size_t at = out.size();
			out.resize(at + (run - i));
			for (size_t k = i; k < run; ++k)
				out[at + (k - i)] = char(units[k]);
			i = run;
			if (i == count)
				break;
		}
		const uint32 unit = units[i];
		if (unit < 0x80)
		{
			out.append(" ; ", 3);
		}
		else if (unit < 0x800)
		{
			out.push_back(char(0xC0 | (unit >> 6)));
			out.push_back(char(0x80 | (unit & 0x3F)));
		}
		else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF)
		{
			const uint32 point = 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00);
			++i;
			out.push_back(char(0xF0 | (point >> 18)));
			out.push_back(char(0x80 | ((point >> 12) & 0x3F)));
			out.push_back(char(0x80 | ((point >> 6) & 0x3F)));
			out.push_back(char(0x80 | (point & 0x3F)));
		}
		else
		{
			const uint32 point = (unit >= 0xD800 && unit <= 0xDFFF) ? 0xFFFD : unit;
			out.push_back(char(0xE0 | (point >> 12)));
			out.push_back(char(0x80 | ((point >> 6) & 0x3F)));
			out.push_back(char(0x80 | (point & 0x3F)));
		}
	}
}

void AppendText(std::string& out, const VString& text, bool oneLine)
{
	AppendUnits(out, text.GetCPointer(), size_t(text.GetLength()), oneLine);
}

void AppendDecimal(std::string& out, uint64 value)
{
	char digits[20];
	int32 count = 0;
	do
	{
		digits[count++] = char('0' + value % 10);
		value /= 10;
	} while (value != 0);
	while (count > 0)
		out.push_back(digits[--count]);
}

void AppendSigned(std::string& out, int64 value)
{
	if (value < 0)
		out.push_back('-');
	AppendDecimal(out, value < 0 ? uint64(0) - uint64(value) : uint64(value));
}

// What a line needs of a bag, found in one pass over its attributes. Texts and numbers are read where they
// lie in the bag's store when they can be: asking the bag for its values would make and cache a value object
// for each of them, for every line.
class BagFields
{
public:
	using Attributes = VValueBag::VPackedAttributes;
	using Slot = Attributes::const_iterator;

	explicit BagFields(const VValueBag* bag) : fAttributes(bag->GetAttributes())
	{
		for (Slot& slot : fSlots)
			slot = fAttributes.end();
		for (Slot slot = fAttributes.begin(); slot != fAttributes.end(); ++slot)
		{
			size_t length = 0;
			const char* key = fAttributes._GetKeyBytes(*slot, length);
			if (const KnownKey* known = FindKey(key, length); known != nullptr && known->fField != kExtra)
				fSlots[known->fField] = slot;
		}
	}

	bool Has(Field field) const { return fSlots[field] != fAttributes.end(); }

	int64 GetInteger(Field field, int64 absent) const
	{
		const Slot slot = fSlots[field];
		if (slot == fAttributes.end())
			return absent;
		const ValueKind kind = fAttributes.GetValueKind(slot);
		const void* data = fAttributes._GetStoredData(slot, kind);
		if (data != nullptr && kind == VK_LONG8)
		{
			int64 number = 0;
			std::memcpy(&number, data, sizeof(number));
			return number;
		}
		if (data != nullptr && kind == VK_LONG)
		{
			int32 number = 0;
			std::memcpy(&number, data, sizeof(number));
			return number;
		}
		const VValueSingle* value = fAttributes.GetValuePtr(slot);
		return value != nullptr ? value->GetLong8() : absent;
	}

	// The field's text; nothing when absent.
	void AppendField(std::string& out, Field field, bool oneLine) const
	{
		if (Has(field))
			AppendValue(out, fSlots[field], oneLine);
	}

	// The attribute's text form (VValueSingle::GetString); false, nothing written, when it holds no value.
	bool AppendValue(std::string& out, Slot slot, bool oneLine) const
	{
		const ValueKind kind = fAttributes.GetValueKind(slot);
		if (const void* data = fAttributes._GetStoredData(slot, kind))
		{
			const uint64 available = fAttributes.GetDataBytes(slot);
			switch (kind)
			{
				case VK_STRING:
				{
					uint32 length = 0;
					if (available < sizeof(length))
						break;
					std::memcpy(&length, data, sizeof(length));
					if ((available - sizeof(length)) / sizeof(UniChar) < length)
						break;
					AppendUnits(out, reinterpret_cast<const UniChar*>(static_cast<const char*>(data) + sizeof(length)), length, oneLine);
					return true;
				}
				case VK_LONG8:
				{
					int64 number = 0;
					std::memcpy(&number, data, sizeof(number));
					AppendSigned(out, number);
					return true;
				}
				case VK_LONG:
				{
					int32 number = 0;
					std::memcpy(&number, data, sizeof(number));
					AppendSigned(out, number);
					return true;
				}
				default:
					break;
			}
		}
		const VValueSingle* value = fAttributes.GetValuePtr(slot);
		if (value == nullptr || value->IsNull())
			return false;
		if (const VString* given = dynamic_cast<const VString*>(value))
		{
			AppendText(out, *given, oneLine);
		}
		else
		{
			VStr<63> text;
			value->GetString(text);
			AppendText(out, text, oneLine);
		}
		return true;
	}

	// The bag's time, or now when it has none.
	void GetTime(VTime& time) const
	{
		const Slot slot = fSlots[kTime];
		if (slot == fAttributes.end())
		{
			time.FromSystemTime();
			return;
		}
		if (const void* data = fAttributes._GetStoredData(slot, VK_TIME))
		{
			time.LoadFromPtr(data);
			return;
		}
		if (const VValueSingle* value = fAttributes.GetValuePtr(slot))
			value->GetTime(time);
		else
			time.FromSystemTime();
	}

	// The source, then "." (after a non-empty source) and the signature when one is known.
	void AppendSource(std::string& out) const
	{
		const size_t start = out.size();
		if (Has(kSource))
		{
			AppendField(out, kSource, false);
		}
		else
		{
			VString identifier;
			VProcess::GetLogSourceIdentifier(identifier);
			AppendText(out, identifier, false);
		}
		uint32 signature = 0;
		if (Has(kSignature))
		{
			signature = uint32(GetInteger(kSignature, 0));
		}
		else
		{
			const uint64 code = uint64(GetInteger(kErrorCode, 0));
			if (code > 0xFFFFFFFFull)
				signature = uint32(code >> 32);
		}
		if (signature == 0)
			return;
		const size_t before = out.size();
		if (before > start)
			out.push_back('.');
		bool written = false;
		for (int32 shift = 24; shift >= 0; shift -= 8)
		{
			// A byte that is no printable character would break the line; it is left out, as in a code's text.
			const char c = char((signature >> shift) & 0xFF);
			if (c >= 0x20 && c <= 0x7E)
			{
				out.push_back(c);
				written = true;
			}
		}
		if (!written)
			out.resize(before);
	}

	// "[error] " when the bag carries an error code, the message, then " (" the extras ")".
	void AppendMessage(std::string& out) const
	{
		const uint64 code = uint64(GetInteger(kErrorCode, 0));
		if (code != 0)
		{
			out.push_back('[');
			AppendSigned(out, int32(uint32(code & 0xFFFFFFFFull)));
			out.append("] ", 2);
		}
		AppendField(out, kMessage, false);
		out.append(" (", 2);
		bool first = true;
		for (Slot slot = fAttributes.begin(); slot != fAttributes.end(); ++slot)
		{
			size_t length = 0;
			const char* key = fAttributes._GetKeyBytes(*slot, length);
			const KnownKey* known = FindKey(key, length);
			if (known != nullptr && known->fLabel == nullptr)
				continue;
			const size_t before = out.size();
			if (!first)
				out.append(", ", 2);
			if (known != nullptr)
			{
				out.append(known->fLabel);
			}
			else
			{
				out.append(key, length);
				out.push_back('=');
			}
			if (AppendValue(out, slot, true))
				first = false;
			else
				out.resize(before);
		}
		out.push_back(')');
	}

private:
	const Attributes& fAttributes;
	Slot fSlots[kFieldCount];
};

// The time as the line writes it, "2024-03-05T07:08:09.010" in local time. The text before the milliseconds
// is kept for its second, so that local time is worked out once a second rather than once a line; a change
// of time zone reaches the line with the next second.
void AppendTime(std::string& out, const VTime& time, VLog4jMsgFileLogger::TimeTextCache& cache)
{
	const uint64 stamp = time.GetStamp();
	const uint64 msOfDay = stamp & 0xFFFFFFFFull;
	const uint64 second = (stamp & ~0xFFFFFFFFull) | (msOfDay / 1000);
	if (!time.IsNull() && second == cache.fSecond && !cache.fText.empty())
	{
		out.append(cache.fText);
		out.push_back('.');
		out.push_back(char('0' + msOfDay % 1000 / 100));
		out.push_back(char('0' + msOfDay % 100 / 10));
		out.push_back(char('0' + msOfDay % 10));
		return;
	}
	VStr<47> text;
	time.GetRfc3339String(text, kLineTimeOptions);
	const size_t start = out.size();
	AppendText(out, text, false);
	constexpr size_t kSecondsLength = 19;  // "2024-03-05T07:08:09"
	if (!time.IsNull() && out.size() - start == kSecondsLength + 4 && out[start + kSecondsLength] == '.')
	{
		cache.fSecond = second;
		cache.fText.assign(out, start, kSecondsLength);
	}
}

// The bag's line, "%llu %S [%S] %s - %S\n" in UTF-8, replacing out's content; false, out unchanged, when the
// level's bit is clear in the mask.
bool BuildLine(const VValueBag* bag, uint32 mask, std::string& out, VLog4jMsgFileLogger::TimeTextCache& cache)
{
	const BagFields fields(bag);
	const int32 level = int32(fields.GetInteger(kLevel, ILoggerBagKeys::level.GetDefault()));
	if ((mask & (1u << (uint32(level) & 31))) == 0)
		return false;
	out.clear();
	const int64 sequence = fields.GetInteger(kSequence, 0);
	AppendDecimal(out, fields.Has(kSequence) ? uint64(sequence) : ILogger::GetSequenceNumber());
	out.push_back(' ');
	VTime time;
	fields.GetTime(time);
	AppendTime(out, time, cache);
	out.append(" [", 2);
	fields.AppendSource(out);
	out.append("] ", 2);
	out.append(VLog4jMsgFileLogger::GetMessageLevelName(level));
	out.append(" - ", 3);
	fields.AppendMessage(out);
	out.push_back('\n');
	return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------

VLog4jMsgFileLogger::VLog4jMsgFileLogger(VFolder* folder, const VString& name)
: fFolder(folder), fName(name), fListener(this)
{
	if (fFolder != nullptr)
		fFolder->Retain();
}

VLog4jMsgFileLogger::~VLog4jMsgFileLogger()
{
	Stop();
	delete fFile;
	if (fFolder != nullptr)
		fFolder->Release();
}

void VLog4jMsgFileLogger::Start()
{
	if (fFolder == nullptr || fName.IsEmpty())
		return;
	const int32 highest = VSplitableLogFile::FindHighestNumber(fFolder, fName, VString::sEmpty);
	Start(highest > 0 ? highest : 1);
}

void VLog4jMsgFileLogger::Start(int32 number)
{
	bool started = false;
	{
		StLocker locker(&fLock);
		if (fFile != nullptr || fFolder == nullptr || fName.IsEmpty())
			return;
		VSplitableLogFile* file = new (std::nothrow) VSplitableLogFile(fFolder, fName, number, false);
		if (file == nullptr)
			return;
		if (!file->Open(false))
		{
			delete file;
			return;
		}
		fFile = file;
		fStartTime.FromSystemTime();
		started = true;
	}
	// Outside the lock, as in Stop: the process logger's listeners lock is never taken while holding ours.
	if (started && VProcess::sInstance != nullptr)
	{
		if (ILogger* logger = VProcess::sInstance->GetLogger())
			logger->AddLogListener(&fListener);
	}
}

void VLog4jMsgFileLogger::Stop()
{
	// First detach, which flushes the pending bags into the file through Put, taking our lock there.
	if (VProcess::sInstance != nullptr)
	{
		if (ILogger* logger = VProcess::sInstance->GetLogger())
			logger->RemoveLogListener(&fListener);
	}
	StLocker locker(&fLock);
	if (fFile == nullptr)
		return;
	fFile->Close();
	delete fFile;
	fFile = nullptr;
	fStartTime.Clear();
	fStartTime.SetNull(true);
}

bool VLog4jMsgFileLogger::IsStarted() const
{
	StLocker locker(&fLock);
	return fFile != nullptr;
}

void VLog4jMsgFileLogger::Pause()
{
	StLocker locker(&fLock);
	fPaused = true;
}

void VLog4jMsgFileLogger::Resume()
{
	StLocker locker(&fLock);
	fPaused = false;
}

bool VLog4jMsgFileLogger::IsPaused() const
{
	StLocker locker(&fLock);
	return fPaused;
}

void VLog4jMsgFileLogger::Flush()
{
	StLocker locker(&fLock);
	if (fFile != nullptr)
		fFile->Flush();
}

int VLog4jMsgFileLogger::GetWriteError() const
{
	StLocker locker(&fLock);
	return fFile != nullptr ? fFile->GetWriteError() : 0;
}

bool VLog4jMsgFileLogger::ShouldLog(EMessageLevel level) const
{
	StLocker locker(&fLock);
	return fFile != nullptr && (fLevelMask & (1u << (uint32(level) & 31))) != 0;
}

void VLog4jMsgFileLogger::SetLevelMask(uint32 mask)
{
	StLocker locker(&fLock);
	fLevelMask = mask;
}

void VLog4jMsgFileLogger::GetLogFolderPath(VFilePath& out) const
{
	if (fFolder != nullptr)
		out = fFolder->GetPath();
	else
		out.Clear();
}

void VLog4jMsgFileLogger::SetLogMaxNumberToKeep(int32 count)
{
	StLocker locker(&fLock);
	if (fFile != nullptr)
		fFile->SetMaxLogsToKeep(count);
}

int32 VLog4jMsgFileLogger::GetLogMaxNumberToKeep() const
{
	StLocker locker(&fLock);
	return fFile != nullptr ? fFile->GetMaxLogsToKeep() : 0;
}

void VLog4jMsgFileLogger::BuildLogFileName(const VString& name, int32 number, VString& out)
{
	VSplitableLogFile::BuildLogFileName(name, number, out);
}

const char* VLog4jMsgFileLogger::GetMessageLevelName(int32 level)
{
	return level >= EML_Dump && level <= EML_Fatal ? kLevelNames[level] : "INFO";
}

void VLog4jMsgFileLogger::GetLogInfosFromBag(const VValueBag* bag, VString& source, int32& level, VString& message)
{
	const BagFields fields(bag);
	std::string text;
	fields.AppendSource(text);
	source.FromBlock(text.data(), text.size(), kCharSet_UTF8);
	level = int32(fields.GetInteger(kLevel, ILoggerBagKeys::level.GetDefault()));
	text.clear();
	fields.AppendMessage(text);
	message.FromBlock(text.data(), text.size(), kCharSet_UTF8);
}

// ---------------------------------------------------------------------------------------------------------

void VLog4jMsgFileLogger::VLog4jLogListener::Put(const std::vector<const VValueBag*>& bags)
{
	StLocker locker(&fLogger->fLock);
	if (fLogger->fFile == nullptr)
		return;
	for (const VValueBag* bag : bags)
		Put(bag);
	fLogger->fFile->Flush();
}

void VLog4jMsgFileLogger::VLog4jLogListener::Put(const VValueBag* bag)
{
	if (bag == nullptr || fLogger->fFile == nullptr || fLogger->fPaused)
		return;
	if (BuildLine(bag, fLogger->fLevelMask, fLine, fTimeCache))
		fLogger->fFile->AppendString(fLine.data(), fLine.size());
}

}  // namespace velk
