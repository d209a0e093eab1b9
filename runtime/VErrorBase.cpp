#include "runtime/VErrorBase.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <new>
#include <utility>

#include "kernel/json/VJSONCloner.h"
#include "containers/VBagArray.h"
#include "containers/VValueBag.h"
#include "runtime/ILocalizer.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorBagKeys.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"
#include "runtime/mac/XMacNativeError.h"
#include "runtime/mac/XMacStackCrawl.h"

namespace velk {

namespace {

bool ReportLackOfMemory()
{
	_ThrowError(VE_MEMORY_FULL);
	return false;
}

// The four signature characters, most significant first, zero-terminated.
void SignatureChars(VError code, char (&chars)[5])
{
	OsType signature = ERRCODE_SIGNATURE(code);
	chars[0] = char((signature >> 24) & 0xFF);
	chars[1] = char((signature >> 16) & 0xFF);
	chars[2] = char((signature >> 8) & 0xFF);
	chars[3] = char(signature & 0xFF);
	chars[4] = 0;
}

// Each signature byte as one unit, so a zero byte does not end the text.
VString SignatureString(VError code)
{
	OsType signature = ERRCODE_SIGNATURE(code);
	UniChar units[4] = {UniChar((signature >> 24) & 0xFF), UniChar((signature >> 16) & 0xFF),
						UniChar((signature >> 8) & 0xFF), UniChar(signature & 0xFF)};
	return VString(static_cast<const UniChar*>(units), 4);
}

template <class Integer>
Integer TruncateNumber(double value)
{
	constexpr double low = double(std::numeric_limits<Integer>::min());
	constexpr double high = double(std::numeric_limits<Integer>::max());
	if (std::isnan(value))
		return 0;
	if (value <= low)
		return std::numeric_limits<Integer>::min();
	if (value >= high)
		return std::numeric_limits<Integer>::max();
	return Integer(value);
}

// Native codes and the toolbox codes they stand for, scanned in order; the last pair ends the table.
struct NativeErrorPair
{
	VError fNative;
	VError fToolbox;
};

constexpr VError Carbon(int32 status)
{
	return MakeVError(kCARBON_SIGNATURE, status);
}

constexpr VError Velk(int32 number)
{
	return MakeVError(kVELK_SIGNATURE, number);
}

constexpr NativeErrorPair kNativeErrorMap[] = {
	{0, 0},
	{Carbon(-108), Velk(100)},
	{Carbon(-39), Velk(200)},
	{Carbon(-34), Velk(658)},
	{Carbon(-43), Velk(600)},
	{Carbon(-120), Velk(650)},
	{Carbon(-45), Velk(5)},
	{Carbon(-46), Velk(5)},
	{Carbon(-192), Velk(401)},
	{Carbon(-37), Velk(614)},
	{Carbon(-54), Velk(5)},
	{Carbon(-128), Velk(6)},
	{MakeVError(kPOSIX_SIGNATURE, 2), Velk(600)},
	{MakeVError(kPOSIX_SIGNATURE, 13), Velk(5)},
	{0, Velk(1)},
};

VError LookUpNativeError(VError native)
{
	constexpr size_t last = sizeof(kNativeErrorMap) / sizeof(kNativeErrorMap[0]) - 1;
	for (size_t i = 0; i < last; ++i)
	{
		if (kNativeErrorMap[i].fNative == native)
			return kNativeErrorMap[i].fToolbox;
	}
	return kNativeErrorMap[last].fToolbox;
}

void AppendLine(VString& text, const VString& line)
{
	text.AppendUniChars(line.GetCPointer(), line.GetLength()).AppendUniChar(u'\n');
}

// Made on first use in static storage and never destroyed: errors may be described while statics are
// torn down, and making them must not allocate.
using LocalizerMap = std::map<OsType, ILocalizer*>;

LocalizerMap& Localizers()
{
	alignas(LocalizerMap) static unsigned char storage[sizeof(LocalizerMap)];
	static LocalizerMap& localizers = *::new (static_cast<void*>(storage)) LocalizerMap;
	return localizers;
}

const VString& MessageKey()
{
	alignas(VString) static unsigned char storage[sizeof(VString)];
	static const VString& key = *::new (static_cast<void*>(storage)) VString("message");
	return key;
}

}  // namespace

VErrorBase::VErrorBase()
{
	_MakeParams();
}

VErrorBase::VErrorBase(VError code) : fCode(code)
{
	if (_MakeParams())
	{
		SetLong(VString("errCode"), ERRCODE_NUMBER(code));
		SetString(VString("componentSignature"), SignatureString(code));
	}
	if (VTask* task = VTask::GetCurrent())
	{
		fTaskID = task->GetID();
		task->GetName(fTaskName);
	}
}

VErrorBase::VErrorBase(VError code, VJSONObject* params) : fCode(code), fParams(params)
{
	// Parameters are used without null tests.
	if (!fParams)
		_MakeParams();
	if (VTask* task = VTask::GetCurrent())
	{
		fTaskID = task->GetID();
		task->GetName(fTaskName);
	}
}

VErrorBase* VErrorBase::Create(VJSONObject* params, OsType signature)
{
	VRefPtr<VJSONObject> held(params);
	if (!held)
	{
		VJSONObject* made = new (std::nothrow) VJSONObject(nullptr, nullptr, false);
		if (made == nullptr)
		{
			ReportLackOfMemory();
			return nullptr;
		}
		held.Adopt(made);
	}
	const VString signatureKey("componentSignature");
	const VString numberKey("errCode");
	const VJSONValue stored = held->GetProperty(signatureKey);
	if (stored.GetType() == JSON_string)
		signature = stored.GetString().GetOsType();
	else
		held->SetProperty(signatureKey, VJSONValue(SignatureString(MakeVError(signature, 0))));
	const VJSONValue number = held->GetProperty(numberKey);
	int32 errorNumber = -1;
	if (number.GetType() == JSON_number)
		errorNumber = TruncateNumber<int32>(number.GetNumber());
	else
		held->SetProperty(numberKey, VJSONValue(-1.0));
	VError code = MakeVError(signature, errorNumber);
	if (code == VE_OK)
		code = VE_UNKNOWN_ERROR;
	VErrorBase* error = new (std::nothrow) VErrorBase(code, held.Get());
	if (error == nullptr)
		ReportLackOfMemory();
	return error;
}

VJSONObject* VErrorBase::CreateJSONObject() const
{
	VJSONObject* object = new (std::nothrow) VJSONObject(nullptr, nullptr, false);
	if (object == nullptr)
	{
		ReportLackOfMemory();
		return nullptr;
	}
	VString description;
	GetErrorDescription(description);
	object->SetProperty(VString("errCode"), VJSONValue(double(ERRCODE_NUMBER(fCode))));
	object->SetProperty(VString("componentSignature"), VJSONValue(SignatureString(fCode)));
	object->SetProperty(MessageKey(), VJSONValue(description));
	if (fParams)
	{
		for (const char* name : {"extraDescription", "seriousError"})
		{
			const VString key(name);
			if (fParams->HasProperty(key))
				object->SetProperty(key, fParams->GetProperty(key));
		}
	}
	return object;
}

VErrorBase::VErrorBase(const VErrorBase& other)
: VObject(other), IRefCountable(other), fCode(other.fCode), fTaskID(other.fTaskID), fTaskName(other.fTaskName)
{
	// A deep copy of its own, so that changing one error's parameters, at any depth, leaves the other's alone.
	// When the copy cannot be made the copy starts with an empty object.
	if (other.fParams)
	{
		VJSONCloner cloner;
		VJSONValue copy;
		if (cloner.CloneObject(other.fParams.Get(), copy) == VE_OK && copy.GetObject() != nullptr)
			fParams = VRefPtr<VJSONObject>(copy.GetObject());
	}
	if (!fParams)
		_MakeParams();
}

VErrorBase::~VErrorBase()
{
	delete fStackCrawl;
}

bool VErrorBase::_MakeParams()
{
	VJSONObject* params = new (std::nothrow) VJSONObject(nullptr, nullptr, false);
	if (params == nullptr)
		return ReportLackOfMemory();
	fParams.Adopt(params);
	return true;
}

bool VErrorBase::_SetParameter(const VString& name, const VJSONValue& value)
{
	if (!fParams && !_MakeParams())
		return false;
	// The object raises velk 100 itself when it cannot store the value.
	return fParams->SetProperty(name, value);
}

bool VErrorBase::SetString(const VString& name, const VString& value)
{
	// A null text is kept as an empty one: parameters are always texts or numbers.
	VJSONValue text(JSON_string);
	if (!value.IsNull())
		text.SetString(value);
	if (text.GetString().GetLength() != value.GetLength())
		return ReportLackOfMemory();
	return _SetParameter(name, text);
}

bool VErrorBase::SetLong(const VString& name, int32 value)
{
	return _SetParameter(name, VJSONValue(double(value)));
}

bool VErrorBase::SetLong8(const VString& name, int64 value)
{
	return _SetParameter(name, VJSONValue(double(value)));
}

bool VErrorBase::GetString(const VString& name, VString& value) const
{
	if (!fParams)
		return false;
	const VJSONValue parameter = fParams->GetProperty(name);
	if (parameter.GetType() != JSON_string)
		return false;
	value = parameter.GetString();
	return true;
}

bool VErrorBase::GetLong(const VString& name, int32& value) const
{
	if (!fParams)
		return false;
	const VJSONValue parameter = fParams->GetProperty(name);
	if (parameter.GetType() != JSON_number)
		return false;
	value = TruncateNumber<int32>(parameter.GetNumber());
	return true;
}

bool VErrorBase::GetLong8(const VString& name, int64& value) const
{
	if (!fParams)
		return false;
	const VJSONValue parameter = fParams->GetProperty(name);
	if (parameter.GetType() != JSON_number)
		return false;
	value = TruncateNumber<int64>(parameter.GetNumber());
	return true;
}

bool VErrorBase::SetDescription(const VString& text)
{
	return SetString(MessageKey(), text);
}

bool VErrorBase::FreezeDescription()
{
	VString message;
	if (GetString(MessageKey(), message))
		return true;
	GetErrorDescription(message);
	return SetString(MessageKey(), message);
}

VError VErrorBase::SaveToBag(VValueBag& bag) const
{
	VErrorBagKeys::error_code.Set(&bag, fCode);
	VErrorBagKeys::task_id.Set(&bag, fTaskID);
	VErrorBagKeys::task_name.Set(&bag, fTaskName);
	if (fParams)
	{
		VRefPtr<VValueBag> parameters(new (std::nothrow) VValueBag, true);
		if (!parameters)
		{
			ReportLackOfMemory();
			return VE_OK;
		}
		// Parameters without a bag form are left out, without a trace on the caller's errors.
		StErrorContextInstaller quiet(false, true);
		if (parameters->FromJSONValue(VJSONValue(fParams.Get())) == VE_OK)
			bag.ReplaceElement(VErrorBagKeys::parameters, parameters.Get());
	}
	return VE_OK;
}

VError VErrorBase::LoadFromBag(const VValueBag& bag)
{
	VErrorBagKeys::error_code.Get(&bag, fCode);
	VErrorBagKeys::task_id.Get(&bag, fTaskID);
	VErrorBagKeys::task_name.Get(&bag, fTaskName);
	const VBagArray* list = bag.GetElements(VErrorBagKeys::parameters);
	const VValueBag* parameters = list != nullptr ? list->_GetNth(1) : nullptr;
	if (parameters != nullptr)
	{
		StErrorContextInstaller quiet(false, true);
		VJSONValue json;
		if (parameters->GetJSONValue(json) == VE_OK && json.GetObject() != nullptr)
			fParams = VRefPtr<VJSONObject>(json.GetObject());
	}
	return VE_OK;
}

void VErrorBase::GetErrorString(VString& text) const
{
	char signature[5];
	SignatureChars(fCode, signature);
	char buffer[64];
	std::snprintf(buffer, sizeof(buffer), "Error code: %d (%.4s)", int(ERRCODE_NUMBER(fCode)), signature);
	text = VString(buffer);
}

void VErrorBase::GetErrorDescription(VString& text) const
{
	if (!GetString(MessageKey(), text))
	{
		text.Clear();
		ILocalizer* localizer = GetLocalizer(ERRCODE_SIGNATURE(fCode));
		if (localizer == nullptr && VProcess::sInstance != nullptr)
			localizer = VProcess::sInstance->GetLocalizer();
		bool localized = fCode != VE_OK && localizer != nullptr && localizer->LocalizeErrorMessage(fCode, text);
		if (localized)
			text.Format(fParams.Get(), true);
		else
		{
			text.Clear();
			XMacNativeError::GetDescription(fCode, text);
		}
	}
	if (text.IsEmpty())
		GetErrorString(text);
}

void VErrorBase::GetActionDescription(VString& text) const
{
	if (GetString(VString("action_description"), text))
		text.Format(fParams.Get(), true);
	else
		text.Clear();
}

void VErrorBase::GetLocation(VString& text) const
{
	if (ERRCODE_SIGNATURE(fCode) == kVELK_SIGNATURE)
	{
		text = VString("velkbase");
		return;
	}
	char signature[5];
	SignatureChars(fCode, signature);
	char buffer[32];
	std::snprintf(buffer, sizeof(buffer), "component: '%c%c%c%c'", signature[0], signature[1], signature[2], signature[3]);
	text = VString(buffer);
}

void VErrorBase::GetTaskName(VString& name, int32* id) const
{
	name = fTaskName;
	if (id != nullptr)
		*id = fTaskID;
}

void VErrorBase::DumpToString(VString& text) const
{
	// Built in a string of the toolbox: short of memory it comes out shorter, it does not throw.
	VString dump;
	VString part;
	GetErrorString(part);
	AppendLine(dump, part);
	GetErrorDescription(part);
	if (!part.IsEmpty())
		AppendLine(dump, part);
	GetLocation(part);
	if (!part.IsEmpty())
		AppendLine(dump, part);
	GetActionDescription(part);
	if (!part.IsEmpty())
		AppendLine(dump, part);
	dump.AppendCString("task ").AppendLong(fTaskID);
	if (!fTaskName.IsEmpty())
		dump.AppendCString(", name: '").AppendUniChars(fTaskName.GetCPointer(), fTaskName.GetLength()).AppendUniChar(u'\'');
	dump.AppendUniChar(u'\n');
	text = std::move(dump);
}

CharSet VErrorBase::DebugDump(char* buffer, int& length) const
{
	if (buffer == nullptr || length <= 0)
	{
		length = 0;
		return 7;
	}
	if (VProcess::sInstance != nullptr)
	{
		VString dump;
		DumpToString(dump);
		int32 units = dump.GetLength();
		if (units > length / 2)
			units = length / 2;
		std::memcpy(buffer, dump.GetCPointer(), size_t(units) * sizeof(UniChar));
		length = units * int(sizeof(UniChar));
		return 2;
	}
	char signature[5];
	SignatureChars(fCode, signature);
	int written = std::snprintf(buffer, size_t(length), "Error code: %d, component: '%.4s', task ID: %d",
		int(ERRCODE_NUMBER(fCode)), signature, int(fTaskID));
	// snprintf answers the length it wanted; only what fits was written.
	length = written < 0 ? 0 : (written < length ? written : length - 1);
	return 7;
}

bool VErrorBase::LoadStackCrawl(uint32 skip, uint32 max)
{
	XMacStackCrawl* crawl = new (std::nothrow) XMacStackCrawl;
	if (crawl == nullptr)
		return ReportLackOfMemory();
	crawl->LoadFrames(skip, max);
	delete fStackCrawl;
	fStackCrawl = crawl;
	return true;
}

bool VErrorBase::RegisterLocalizer(OsType signature, ILocalizer* localizer)
{
	try
	{
		Localizers().insert_or_assign(signature, localizer);
	}
	catch (const std::bad_alloc&)
	{
		return ReportLackOfMemory();
	}
	return true;
}

void VErrorBase::UnregisterLocalizer(OsType signature)
{
	Localizers().erase(signature);
}

ILocalizer* VErrorBase::GetLocalizer(OsType signature)
{
	auto& localizers = Localizers();
	auto found = localizers.find(signature);
	return found != localizers.end() ? found->second : nullptr;
}

bool VErrorBase::CallLocalizer(ILocalizer* localizer, VError code, VString& text) const
{
	if (code == VE_OK)
		return true;
	if (localizer == nullptr && VProcess::sInstance != nullptr)
		localizer = VProcess::sInstance->GetLocalizer();
	if (localizer == nullptr || !localizer->LocalizeErrorMessage(code, text))
	{
		text.Clear();
		return false;
	}
	text.Format(fParams.Get(), true);
	return true;
}

VError VErrorBase::MAC_MapCarbonErrorToVError(int32 status)
{
	if (status == 0)
		return VE_OK;
	VError native = MakeVError(kCARBON_SIGNATURE, status);
	VError mapped = LookUpNativeError(native);
	return mapped == VE_UNKNOWN_ERROR ? native : mapped;
}

VError VErrorBase::EncodedNativeErrorToVError(VError native, VError defaultCode)
{
	OsType signature = ERRCODE_SIGNATURE(native);
	VError candidate = native;
	if (ERRCODE_NUMBER(native) != 0 && IsNativeError(native))
		candidate = defaultCode;
	if (signature == kCARBON_SIGNATURE || signature == kPOSIX_SIGNATURE)
		candidate = LookUpNativeError(native);
	return candidate == VE_UNKNOWN_ERROR ? defaultCode : candidate;
}

}  // namespace velk
