// The value bag's JSON forms: the bag written as JSON text or read back as a JSON object, and JSON text or
// values read into the bag through the JSON importer.
#include "containers/VValueBag.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>

#include "containers/VBagArray.h"
#include "kernel/json/VJSONImporter.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONTextAppend.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VReal.h"
#include "runtime/VError.h"

namespace velk {

namespace {

constexpr CharSet kUTF8 = 7;
// What the values write: strings quoted, times as their date alone at midnight.
constexpr uint32 kVALUE_OPTIONS = 0x201;

// Attribute names the JSON form gives a meaning to.
constexpr char kObjectMarker[] = "____objectunic";
constexpr char kArrayItemMarker[] = "____property_name_in_jsarray";
constexpr char kCDataProperty[] = "__CDATA";

const StPackedDictionaryKey& ObjectMarkerKey()
{
	static const StPackedDictionaryKey sKey(kObjectMarker);
	return sKey;
}

const StPackedDictionaryKey& FakeArrayElementKey()
{
	static const StPackedDictionaryKey sKey("____FakeArrayElement");
	return sKey;
}

bool IsKey(const char* bytes, size_t length, const char* literal, size_t literalLength)
{
	return length == literalLength && std::memcmp(bytes, literal, length) == 0;
}

// The units VString::GetJSONString escapes (with quotes, without the '&' and apostrophe option).
struct EscapedUnits
{
	constexpr EscapedUnits() : fUnits()
	{
		for (int unit = 0; unit < 0x80; ++unit)
			fUnits[unit] = unit < 0x20 || unit == '"' || unit == '\\' || unit == 0x7F;
	}
	bool fUnits[0x80];
};
constexpr EscapedUnits kEscaped;

// The quoted JSON string VString::GetJSONString(kJSON_WITH_QUOTES) gives, written in place.
void PutJSONString(jsontext::Buffer& out, const UniChar* units, size_t count)
{
	// Each unit takes at most 6 units.
	UniChar* cursor = out.Reserve(count * 6 + 2);
	if (cursor == nullptr)
		return;
	*cursor++ = u'"';
	for (const UniChar* p = units; p < units + count; ++p)
	{
		const UniChar unit = *p;
		if (unit >= 0x80 || !kEscaped.fUnits[unit])
		{
			*cursor++ = unit;
			continue;
		}
		cursor = jsontext::WriteEscape(cursor, unit);
	}
	*cursor++ = u'"';
	out.Commit(cursor);
}

// A key's UTF-8 bytes as a quoted JSON string: ASCII names, nearly all of them, without a conversion.
void PutJSONKey(jsontext::Buffer& out, const char* bytes, size_t length)
{
	UniChar units[StPackedDictionaryKey::kMAX_KEY_LENGTH];
	size_t i = 0;
	for (; i < length && i < StPackedDictionaryKey::kMAX_KEY_LENGTH && uint8(bytes[i]) < 0x80; ++i)
		units[i] = UniChar(uint8(bytes[i]));
	if (i == length)
	{
		PutJSONString(out, units, length);
		return;
	}
	VString name;
	name.FromBlock(bytes, length, kUTF8);
	PutJSONString(out, name.GetCPointer(), size_t(name.GetLength()));
}

void PutNewLine(jsontext::Buffer& out, int32 level, bool pretty)
{
	if (pretty)
	{
		out.Put(u'\n');
		out.PutTabs(level);
	}
}

void PutBegin(jsontext::Buffer& out, int32& level, bool pretty, UniChar open)
{
	PutNewLine(out, level, pretty);
	out.Put(open);
	++level;
}

void PutEnd(jsontext::Buffer& out, int32& level, bool pretty, UniChar close)
{
	--level;
	PutNewLine(out, level, pretty);
	out.Put(close);
}

void PutPropertyName(jsontext::Buffer& out, int32 level, bool pretty, const char* bytes, size_t length)
{
	PutNewLine(out, level, pretty);
	PutJSONKey(out, bytes, length);
	if (pretty)
		out.PutASCII(" : ", 3);
	else
		out.Put(u':');
}

// Writes bags, lists and attribute values as JSON text. Scalars that lie flat in a bag's store are written
// from there, without the value objects a reader would otherwise make and cache in the bag.
class VBagJSONWriter
{
public:
	VBagJSONWriter(jsontext::Buffer& out, bool pretty, uint32 options) : fOut(out), fPretty(pretty), fOptions(options) {}

	// Why the text failed besides memory (velk 108 for a tree deeper than the stack allows), 0 otherwise.
	VError GetError() const { return fError; }

	void WriteBag(const VValueBag& bag, int32& level)
	{
		if (fOut.Failed())
			return;
		// Each child bag is written by its own call, and stops where the stack would.
		if (!fStackBound.HasRoom())
		{
			fError = VE_STACK_OVERFLOW;
			fOut.Fail();
			return;
		}
		_WriteBag(bag, level);
	}

	void WriteList(const VBagArray* list, int32& level)
	{
		PutBegin(fOut, level, fPretty, u'[');
		const int32 count = list != nullptr ? list->GetCount() : 0;
		bool first = true;
		for (int32 pos = 1; pos <= count; ++pos)
		{
			const VValueBag* bag = list->_GetNth(pos);
			// Writing is bound by reaching each bag's scattered blocks: the next bags are fetched ahead.
			if (pos + 2 <= count)
				__builtin_prefetch(list->_GetNth(pos + 2));
			if (const VValueBag* next = pos + 1 <= count ? list->_GetNth(pos + 1) : nullptr)
				__builtin_prefetch(std::to_address(next->GetAttributes().begin()));
			if (bag == nullptr)
				continue;
			if (!first)
				fOut.Put(u',');
			first = false;
			WriteBag(*bag, level);
		}
		PutEnd(fOut, level, fPretty, u']');
	}

private:
	void _WriteBag(const VValueBag& bag, int32& level)
	{
		const VValueBag::VPackedAttributes& attributes = bag.GetAttributes();
		const auto fake = attributes._Find(FakeArrayElementKey());
		if (fake != attributes.end())
		{
			WriteValue(attributes, fake);
			return;
		}
		PutBegin(fOut, level, fPretty, u'{');
		bool first = true;
		for (auto slot = attributes.begin(); slot != attributes.end(); ++slot)
		{
			size_t length = 0;
			const char* name = attributes._GetKeyBytes(*slot, length);
			if (IsKey(name, length, kObjectMarker, sizeof(kObjectMarker) - 1) || IsKey(name, length, kArrayItemMarker, sizeof(kArrayItemMarker) - 1))
				continue;
			if (!first)
				fOut.Put(u',');
			first = false;
			if (IsKey(name, length, "<>", 2))
				PutPropertyName(fOut, level, fPretty, kCDataProperty, sizeof(kCDataProperty) - 1);
			else
				PutPropertyName(fOut, level, fPretty, name, length);
			WriteValue(attributes, slot);
		}
		if (const VValueBag::VPackedElements* elements = bag.GetElementsDictionary())
		{
			for (const auto& slot : *elements)
			{
				size_t length = 0;
				const char* name = elements->_GetKeyBytes(slot, length);
				if (!first)
					fOut.Put(u',');
				first = false;
				PutPropertyName(fOut, level, fPretty, name, length);
				const VBagArray* list = slot.fValue;
				const VValueBag* only = list != nullptr && list->GetCount() == 1 ? list->_GetNth(1) : nullptr;
				if (only != nullptr && ((fOptions & VValueBag::kJSON_SINGLE_AS_OBJECT) != 0 || only->GetAttributes()._Find(ObjectMarkerKey()) != only->GetAttributes().end()))
					WriteBag(*only, level);
				else
					WriteList(list, level);
			}
		}
		PutEnd(fOut, level, fPretty, u'}');
	}

	void WriteValue(const VValueBag::VPackedAttributes& attributes, VValueBag::VPackedAttributes::const_iterator slot)
	{
		const ValueKind kind = attributes.GetValueKind(slot);
		if (const void* data = attributes._GetStoredData(slot, kind))
		{
			if (WriteFlat(kind, data, attributes.GetDataBytes(slot)))
				return;
		}
		const VValueSingle* value = attributes.GetValuePtr(slot);
		if (value == nullptr || value->IsNull())
		{
			fOut.PutASCII("null", 4);
			return;
		}
		fScratch.Clear();
		// The value has raised what kept it from being written: the text fails with it.
		if (value->GetJSONString(fScratch, kVALUE_OPTIONS) != VE_OK)
			fOut.Fail();
		else
			fOut.Put(fScratch.GetCPointer(), size_t(fScratch.GetLength()));
	}

	// The kinds most bags hold, written as their values' GetJSONString would; false for the others.
	bool WriteFlat(ValueKind kind, const void* data, uint64 available)
	{
		switch (kind)
		{
			case VK_STRING:
			{
				uint32 length = 0;
				if (available < sizeof(length))
					return false;
				std::memcpy(&length, data, sizeof(length));
				if ((available - sizeof(length)) / sizeof(UniChar) < length)
					return false;
				PutJSONString(fOut, reinterpret_cast<const UniChar*>(static_cast<const char*>(data) + sizeof(length)), length);
				return true;
			}
			case VK_LONG8:
			{
				int64 number = 0;
				std::memcpy(&number, data, sizeof(number));
				PutInteger(number);
				return true;
			}
			case VK_LONG:
			{
				int32 number = 0;
				std::memcpy(&number, data, sizeof(number));
				PutInteger(number);
				return true;
			}
			case VK_BOOLEAN:
			{
				uint8 flag = 0;
				std::memcpy(&flag, data, sizeof(flag));
				if (flag != 0)
					fOut.PutASCII("true", 4);
				else
					fOut.PutASCII("false", 5);
				return true;
			}
			case VK_REAL:
			{
				double number = 0;
				std::memcpy(&number, data, sizeof(number));
				VReal::RealToJSONString(number, fScratch);
				fOut.Put(fScratch.GetCPointer(), size_t(fScratch.GetLength()));
				return true;
			}
			default:
				return false;
		}
	}

	void PutInteger(int64 number)
	{
		char digits[24];
		const std::to_chars_result written = std::to_chars(digits, digits + sizeof(digits), number);
		fOut.PutASCII(digits, size_t(written.ptr - digits));
	}

	jsontext::Buffer& fOut;
	const bool fPretty;
	const uint32 fOptions;
	VStr<63> fScratch;
	VError fError = VE_OK;
	// Where the writing task's stack runs short, taken once a writing: a comparison a bag.
	const VJSONStackBound fStackBound{VValueBag::kMIN_FREE_STACK};
};

// The writer's text closed, and the error it stopped with raised; level back where it was on failure.
VError Finish(jsontext::Buffer& out, const VBagJSONWriter& writer, int32& level, int32 start)
{
	const bool closed = out.Close();
	if (writer.GetError() != VE_OK)
	{
		_ThrowError(writer.GetError());
		level = start;
		return writer.GetError();
	}
	if (!closed)
	{
		level = start;
		return VE_STRING_ALLOC_FAILED;
	}
	return VE_OK;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Layout helpers

void AppendJSONNewline(VString& text, bool pretty)
{
	if (pretty)
		text.AppendUniChar(u'\n');
}

void AjustJSONTab(VString& text, int32& level, bool pretty)
{
	if (!pretty)
		return;
	jsontext::Buffer out(text);
	out.PutTabs(level);
	out.Close();
}

void AppendBeginJSONObject(VString& text, int32& level, bool pretty)
{
	jsontext::Buffer out(text);
	PutBegin(out, level, pretty, u'{');
	out.Close();
}

void AppendBeginJSONArray(VString& text, int32& level, bool pretty)
{
	jsontext::Buffer out(text);
	PutBegin(out, level, pretty, u'[');
	out.Close();
}

void AppendEndJSONObject(VString& text, int32& level, bool pretty)
{
	jsontext::Buffer out(text);
	PutEnd(out, level, pretty, u'}');
	out.Close();
}

void AppendEndJSONArray(VString& text, int32& level, bool pretty)
{
	jsontext::Buffer out(text);
	PutEnd(out, level, pretty, u']');
	out.Close();
}

void AppendJSONPropertyName(VString& text, int32& level, bool pretty, const VString& name)
{
	jsontext::Buffer out(text);
	PutNewLine(out, level, pretty);
	PutJSONString(out, name.GetCPointer(), size_t(name.GetLength()));
	if (pretty)
		out.PutASCII(" : ", 3);
	else
		out.Put(u':');
	out.Close();
}

// ---------------------------------------------------------------------------------------------------------
// Writing

VError VValueBag::_GetJSONString(VString& json, int32& level, bool pretty, uint32 options) const
{
	const int32 start = level;
	jsontext::Buffer out(json);
	VBagJSONWriter writer(out, pretty, options);
	writer.WriteBag(*this, level);
	return Finish(out, writer, level, start);
}

VError VBagArray::_GetJSONString(VString& json, int32& level, bool pretty, uint32 options) const
{
	const int32 start = level;
	jsontext::Buffer out(json);
	VBagJSONWriter writer(out, pretty, options);
	writer.WriteList(this, level);
	return Finish(out, writer, level, start);
}

VError VValueBag::GetJSONString(VString& json, uint32 options) const
{
	json.Clear();
	int32 level = 0;
	const VError error = _GetJSONString(json, level, (options & kJSON_PRETTY) != 0, options);
	// Half a text is no JSON text.
	if (error != VE_OK)
		json.Clear();
	return error;
}

VJSONObject* VValueBag::BuildJSONObject(VError& error) const
{
	VString text;
	error = GetJSONString(text, 0);
	if (error != VE_OK)
		return nullptr;
	VJSONValue value;
	error = value.ParseFromString(text, true);
	return error == VE_OK ? value.RetainObject() : nullptr;
}

VError VValueBag::GetJSONValue(VJSONValue& json, uint32) const
{
	VError error = VE_OK;
	VJSONObject* object = BuildJSONObject(error);
	if (object == nullptr)
	{
		json.SetUndefined();
		return error;
	}
	json.SetObject(object);
	object->Release();
	return error;
}

// ---------------------------------------------------------------------------------------------------------
// Reading

VError VValueBag::FromJSONString(const VString& json, uint32 options)
{
	VJSONImporter importer(json, (options & kJSON_NON_AMBIGUOUS_DATES) != 0 ? VJSONImporter::kNonAmbiguousDates : 0);
	return importer.JSONObjectToBag(*this);
}

VError VValueBag::FromJSONValue(const VJSONValue& json)
{
	VString text;
	const VError error = json.Stringify(text, VString::kJSON_WITH_QUOTES);
	if (error != VE_OK)
		return error;
	return FromJSONString(text, 0);
}

}  // namespace velk
