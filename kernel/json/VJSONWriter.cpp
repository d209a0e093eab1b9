#include "kernel/json/VJSONWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>

#include "files/IFile.h"
#include "kernel/json/IJSONObject.h"
#include "kernel/json/VJSONArray.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONTextAppend.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/json/classes/VJSONClass.h"
#include "kernel/strings/VUnitLanes.h"
#include "kernel/values/VNumberText.h"
#include "kernel/values/VReal.h"
#include "kernel/values/VTime.h"

namespace velk {

namespace {

using jsontext::Append;

constexpr UniChar kComma = u',';

// Keeps a container on the writer's stack for the time it is written, whatever way the writing ends.
class StJSONWriterStackEntry
{
public:
	StJSONWriterStackEntry(std::vector<const void*>& stack, const void* container) : fStack(stack)
	{
		fStack.push_back(container);
	}
	~StJSONWriterStackEntry() { fStack.pop_back(); }
	StJSONWriterStackEntry(const StJSONWriterStackEntry&) = delete;
	StJSONWriterStackEntry& operator=(const StJSONWriterStackEntry&) = delete;

private:
	std::vector<const void*>& fStack;
};

// Raises the writer's level (and indentation) for the time a container's members are written.
class StJSONWriterLevel
{
public:
	explicit StJSONWriterLevel(VJSONWriter& writer) : fWriter(writer) { fWriter.IncrementLevel(); }
	~StJSONWriterLevel() { fWriter.DecrementLevel(); }
	StJSONWriterLevel(const StJSONWriterLevel&) = delete;
	StJSONWriterLevel& operator=(const StJSONWriterLevel&) = delete;

private:
	VJSONWriter& fWriter;
};

}  // namespace

VJSONWriter::VJSONWriter(VDBLanguageContext* context, uint32 options)
	: fContext(context), fOptions(options), fIndentUnit("\t"), fIndentation((options & kPRETTY) != 0 ? "\n" : "")
{
}

VJSONWriter::VJSONWriter(uint32 options) : VJSONWriter(nullptr, options) {}

VJSONWriter::~VJSONWriter() = default;

void VJSONWriter::IncrementLevel()
{
	++fLevel;
	if ((fOptions & kPRETTY) != 0)
		fIndentation.AppendUniChars(fIndentUnit.GetCPointer(), fIndentUnit.GetLength());
}

void VJSONWriter::DecrementLevel()
{
	if (fLevel > 0)
		--fLevel;
	if ((fOptions & kPRETTY) != 0 && fIndentation.GetLength() > 1)
		fIndentation.Truncate(fIndentation.GetLength() - fIndentUnit.GetLength(), false);
}

void VJSONWriter::InsertIndentString(VString& text) const
{
	if ((fOptions & kPRETTY) == 0)
		return;
	VString indented(fIndentation);
	if (Append(indented, text))
		text = std::move(indented);
}

void VJSONWriter::AppendIndentString(VString& text) const
{
	if ((fOptions & kPRETTY) != 0)
		Append(text, fIndentation);
}

// The owned string comes first, so that it exists when the buffer over it is made.
struct StOwnedJSONText
{
	VString fOwned;
};

// The text being written: one string for a whole call, written straight into and grown by doubling, so
// that members are written in place rather than made as texts of their own and joined at every level.
// After a refused growth (velk 107 raised by the string) every further write is dropped and Failed answers
// true.

class VJSONWriter::_Text : private StOwnedJSONText, public jsontext::Buffer
{
public:
	_Text() : jsontext::Buffer(fOwned) {}

	// Hands the text over to out; false (velk 107 raised, out unchanged) when it could not be made.
	bool MoveTo(VString& out)
	{
		if (!Close())
			return false;
		out = std::move(fOwned);
		return true;
	}
};

namespace {

// The ASCII units that VString::GetJSONString escapes, without and with '&' and the apostrophe.
struct EscapedUnits
{
	explicit constexpr EscapedUnits(bool ampApos) : fUnits()
	{
		for (int unit = 0; unit < 0x80; ++unit)
			fUnits[unit] = unit < 0x20 || unit == '"' || unit == '\\' || unit == 0x7F || (ampApos && (unit == '&' || unit == '\''));
	}
	bool fUnits[0x80];
};
constexpr EscapedUnits kEscaped(false);
constexpr EscapedUnits kEscapedWithAmpApos(true);

// The text VNumberText::FormatG14 gives (printf's %.14G) for a finite number, made from the shortest
// digits that read back as the number, which to_chars finds much faster than it rounds to a precision.
// Those digits are what rounding to 14 digits gives when there are no more than 14 of them; with 15 to 17
// they are rounded here, unless their tail lies so near a half that the number itself may fall on the other
// side (a double is within 0.022 units of the 14th digit of its shortest digits), and then the slow way
// answers. Subnormal numbers have too few bits for this reasoning and also take the slow way.
int32 FormatShortestG14(double number, char* buffer)
{
	constexpr int kPrecision = 14;
	if (!std::isnormal(number))
		return VNumberText::FormatG14(number, buffer);
	char shortest[40];
	const std::to_chars_result written = std::to_chars(shortest, shortest + sizeof(shortest), number, std::chars_format::scientific);
	const char* p = shortest;
	const char* const end = written.ptr;
	const bool negative = *p == '-';
	if (negative)
		++p;
	// d[.ddd]e±xx: the digits are the first one and those between the point and the exponent.
	const char* const mark = static_cast<const char*>(std::memchr(p, 'e', size_t(end - p)));
	if (mark == nullptr)
		return VNumberText::FormatG14(number, buffer);
	char digits[24];
	int count = 1;
	digits[0] = *p;
	if (mark - p > 2)
	{
		std::memcpy(digits + 1, p + 2, size_t(mark - p - 2));
		count += int(mark - p - 2);
	}
	p = mark;
	int exponent = 0;
	if (p < end)
	{
		++p;
		const bool negativeExponent = *p == '-';
		if (*p == '-' || *p == '+')
			++p;
		for (; p < end; ++p)
			exponent = exponent * 10 + (*p - '0');
		if (negativeExponent)
			exponent = -exponent;
	}
	if (count > kPrecision)
	{
		int tail = 0;
		int scale = 1;
		for (int i = kPrecision; i < count; ++i)
		{
			tail = tail * 10 + (digits[i] - '0');
			scale *= 10;
		}
		// tail / scale is the fraction of a unit of the 14th digit; 0.478 to 0.522 is too near a half.
		if (tail * 1000 > 478 * scale && tail * 1000 < 522 * scale)
			return VNumberText::FormatG14(number, buffer);
		count = kPrecision;
		if (tail * 2 > scale)
		{
			int i = count - 1;
			while (i >= 0 && digits[i] == '9')
				digits[i--] = '0';
			if (i >= 0)
			{
				++digits[i];
			}
			else
			{
				digits[0] = '1';
				++exponent;
			}
		}
		// The shortest digits end in a non-zero digit; rounded ones may not.
		while (count > 1 && digits[count - 1] == '0')
			--count;
	}

	char* out = buffer;
	if (negative)
		*out++ = '-';
	if (exponent >= -4 && exponent < kPrecision)
	{
		if (exponent < 0)
		{
			*out++ = '0';
			*out++ = '.';
			for (int i = -1; i > exponent; --i)
				*out++ = '0';
			for (int i = 0; i < count; ++i)
				*out++ = digits[i];
		}
		else
		{
			for (int i = 0; i <= exponent; ++i)
				*out++ = i < count ? digits[i] : '0';
			if (count > exponent + 1)
			{
				*out++ = '.';
				for (int i = exponent + 1; i < count; ++i)
					*out++ = digits[i];
			}
		}
	}
	else
	{
		*out++ = digits[0];
		if (count > 1)
		{
			*out++ = '.';
			for (int i = 1; i < count; ++i)
				*out++ = digits[i];
		}
		*out++ = 'E';
		*out++ = exponent < 0 ? '-' : '+';
		const int magnitude = exponent < 0 ? -exponent : exponent;
		if (magnitude >= 100)
			*out++ = char('0' + magnitude / 100);
		*out++ = char('0' + magnitude / 10 % 10);
		*out++ = char('0' + magnitude % 10);
	}
	*out = 0;
	return int32(out - buffer);
}

}  // namespace

// The list of values of a container, by the size of the stack below it: one list a depth, kept from one
// container to the next so that its room is made once, and emptied after use so that it holds no value.
class VJSONWriter::StValueList
{
public:
	StValueList(VJSONWriter& writer, size_t depth) : fWriter(writer), fDepth(depth)
	{
		// All depths at once: a list in use never moves while deeper ones are added.
		if (fWriter.fValueLists.capacity() == 0)
			fWriter.fValueLists.reserve(kMaxNestingDepth + 1);
		if (fDepth < fWriter.fValueLists.capacity() && fWriter.fValueLists.size() <= fDepth)
			fWriter.fValueLists.resize(fDepth + 1);
	}
	~StValueList()
	{
		if (fDepth < fWriter.fValueLists.size())
			fWriter.fValueLists[fDepth].clear();
	}
	StValueList(const StValueList&) = delete;
	StValueList& operator=(const StValueList&) = delete;

	std::vector<VJSONValue>& Get() { return fDepth < fWriter.fValueLists.size() ? fWriter.fValueLists[fDepth] : fOwn; }

private:
	VJSONWriter& fWriter;
	const size_t fDepth;
	std::vector<VJSONValue> fOwn;  // beyond the depths set aside (the depth check then refuses the container)
};

VError VJSONWriter::_RefuseNesting()
{
	_ThrowError(VE_STACK_OVERFLOW);
	return VE_STACK_OVERFLOW;
}

template <class Write>
VError VJSONWriter::_Stringify(VString& out, Write&& write)
{
	// Taken again by a writing entered from an implementation's own text: the bound is the task's.
	fStackBound = VJSONStackBound();
	try
	{
		_Text text;
		VError error = write(text);
		if (error == VE_OK && !text.MoveTo(out))
			error = VE_STRING_ALLOC_FAILED;
		return error;
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return VE_MEMORY_FULL;
	}
}

VError VJSONWriter::StringifyValue(const VJSONValue& value, VString& out)
{
	return _Stringify(out, [&](_Text& text) { return _WriteValue(value, text); });
}

VError VJSONWriter::StringifyObject(const VJSONObject* object, VString& out)
{
	return _Stringify(out, [&](_Text& text) { return _WriteObject(object, text); });
}

VError VJSONWriter::StringifyArray(const VJSONArray* array, VString& out)
{
	return _Stringify(out, [&](_Text& text) { return _WriteArray(array, text); });
}

void VJSONWriter::_WriteString(const UniChar* units, int32 count, _Text& out) const
{
	// The text VString::GetJSONString gives, written in place: plain units are copied as they are met and
	// only an escape asks for more room.
	const bool quotes = (fOptions & VString::kJSON_WITH_QUOTES) != 0;
	const bool raw = (fOptions & VString::kJSON_RAW) != 0;
	const bool escapeAmpApos = (fOptions & VString::kJSON_ESCAPE_AMP_APOS) != 0;
	if (raw)
	{
		if (quotes)
			out.Put(u'"');
		out.Put(units, size_t(count));
		if (quotes)
			out.Put(u'"');
		return;
	}
	const bool* const escaped = escapeAmpApos ? kEscapedWithAmpApos.fUnits : kEscaped.fUnits;
	UniChar* room = out.Reserve(size_t(count) + 2);
	if (room == nullptr)
		return;
	UniChar* cursor = room;
	UniChar* limit = room + count + 2;
	if (quotes)
		*cursor++ = u'"';
	const Units8 spaces = Broadcast8(u' ');
	const Units8 quoteMarks = Broadcast8(u'"');
	const Units8 backslashes = Broadcast8(u'\\');
	const Units8 deletes = Broadcast8(0x7F);
	const Units8 ampersands = Broadcast8(escapeAmpApos ? u'&' : u'"');
	const Units8 apostrophes = Broadcast8(escapeAmpApos ? u'\'' : u'"');
	const UniChar* const stop = units + count;
	const UniChar* blockEnd = units;
	for (const UniChar* p = units; p < stop; ++p)
	{
		// Blocks of eight plain units are copied whole; a block that needs an escape goes unit by unit.
		while (p >= blockEnd && stop - p >= 8)
		{
			const Units8 block = LoadUnits8(p);
			if (AnyLane((block < spaces) | (block == quoteMarks) | (block == backslashes) | (block == deletes)
					| (block == ampersands) | (block == apostrophes)))
			{
				blockEnd = p + 8;
				break;
			}
			StoreUnits8(cursor, block);
			cursor += 8;
			p += 8;
		}
		if (p == stop)
			break;
		const UniChar unit = *p;
		if (unit >= 0x80 || !escaped[unit])
		{
			*cursor++ = unit;
			continue;
		}
		// An escape takes up to 6 units for 1: room for it and for the rest of the text.
		if (limit - cursor < 6 + (units + count - p))
		{
			out.Commit(cursor);
			room = out.Reserve(size_t(units + count - p) + 8);
			if (room == nullptr)
				return;
			cursor = room;
			limit = room + (units + count - p) + 8;
		}
		cursor = jsontext::WriteEscape(cursor, unit);
	}
	if (quotes)
		*cursor++ = u'"';
	out.Commit(cursor);
}

void VJSONWriter::_WriteNumber(double number, _Text& out)
{
	// VReal::RealToJSONString: whole numbers up to 2^53 - 1 as integers, non-finite ones as null, any
	// other in 14 significant digits.
	constexpr double kLargestWhole = 9007199254740991.0;
	if (number >= -kLargestWhole && number <= kLargestWhole && double(int64(number)) == number)
	{
		char digits[24];
		const std::to_chars_result written = std::to_chars(digits, digits + sizeof(digits), int64(number));
		out.PutASCII(digits, size_t(written.ptr - digits));
		return;
	}
	if (!std::isfinite(number))
	{
		out.PutASCII("null", 4);
		return;
	}
	char text[40];
	const int32 length = FormatShortestG14(number, text);
	out.PutASCII(text, size_t(length));
}

VError VJSONWriter::_WriteValue(const VJSONValue& value, _Text& out)
{
	switch (value.GetType())
	{
		case JSON_null:
		case JSON_undefined:
			out.PutASCII("null", 4);
			break;
		case JSON_false:
			out.PutASCII("false", 5);
			break;
		case JSON_true:
			out.PutASCII("true", 4);
			break;
		case JSON_string:
		{
			int32 length = 0;
			const UniChar* units = value._GetStringUnits(length);
			_WriteString(units, length, out);
			break;
		}
		case JSON_number:
			_WriteNumber(value.GetNumber(), out);
			break;
		case JSON_object:
			return _WriteObject(value.GetObject(), out);
		case JSON_array:
			return _WriteArray(value.GetArray(), out);
		case JSON_date:
		{
			int16 year = 0, month = 0, day = 0;
			value.GetDate(&year, &month, &day);
			VTime time;
			if ((fOptions & kLOCAL_DATES) != 0)
				time.FromLocalTime(year, month, day, 0, 0, 0, 0);
			else
				time.FromUTCTime(year, month, day, 0, 0, 0, 0);
			VString text;
			if (VError error = time.GetJSONString(text, fOptions); error != VE_OK)
				return error;
			out.Put(text);
			break;
		}
		default:
			break;
	}
	return VE_OK;
}

bool VJSONWriter::_IsOnStack(const void* container) const
{
	return std::find(fStack.begin(), fStack.end(), container) != fStack.end();
}

bool VJSONWriter::_CountForCut(size_t length)
{
	if ((fOptions & kCUT_LONG) == 0)
		return false;
	const bool last = fRunningLength >= kCutLength;
	fRunningLength += uint32(length);
	return last;
}

// Once a member: kept inline whatever else grows the writing functions around it.
[[gnu::always_inline]] inline void VJSONWriter::_BeginMember(size_t index, _Text& out) const
{
	if (index > 0)
		out.Put(kComma);
	// Called while the level is raised: the members' indentation.
	if ((fOptions & kPRETTY) != 0)
		out.Put(fIndentation);
}

void VJSONWriter::_Close(UniChar close, bool cut, _Text& out)
{
	// Called once the level is lowered: the container's own indentation.
	if ((fOptions & kPRETTY) != 0)
		out.Put(fIndentation);
	if (!cut)
		out.Put(close);
	if (cut && !fCut)
	{
		out.PutASCII("...", 3);
		fCut = true;
	}
}

VError VJSONWriter::_WriteArray(const VJSONArray* array, _Text& out)
{
	if (array == nullptr)
	{
		out.PutASCII("undefined", 9);
		return VE_OK;
	}
	// An unshared array is written from its elements in place; a shared one from a copy taken under its
	// lock, so that no lock is held while its elements are written.
	const bool shared = array->IsSharedGraph();
	StValueList list(*this, fStack.size());
	std::vector<VJSONValue>& copied = list.Get();
	if (shared && !array->GetValues(copied))
		return VE_MEMORY_FULL;
	if (shared ? copied.empty() : array->_GetElements().empty())
	{
		out.PutASCII("[]", 2);
		return VE_OK;
	}
	if (_IsOnStack(array))
	{
		_ThrowError(VE_JSON_CIRCULAR);
		return VE_JSON_CIRCULAR;
	}
	if (VError tooDeep = _CheckNesting(); tooDeep != VE_OK)
		return tooDeep;

	StJSONWriterStackEntry entry(fStack, array);
	bool cut = false;
	VError error = VE_OK;
	out.Put(u'[');
	{
		StJSONWriterLevel level(*this);
		// The count is read again at each element: writing one must not lead past the end.
		auto writeEach = [&](const auto& values) {
			for (size_t index = 0; index < values.size(); ++index)
			{
				_BeginMember(index, out);
				const size_t start = out.Length();
				error = _WriteValue(values[index], out);
				if (error != VE_OK || out.Failed())
					return;
				cut = _CountForCut(out.Length() - start);
				if (cut)
					return;
			}
		};
		if (shared)
			writeEach(copied);
		else
			writeEach(array->_GetElements());
	}
	if (error != VE_OK || out.Failed())
		return error;  // a failed text is reported once by the caller
	_Close(u']', cut, out);
	return VE_OK;
}

VError VJSONWriter::_WriteObject(const VJSONObject* object, _Text& out)
{
	if (object == nullptr)
	{
		out.PutASCII("undefined", 9);
		return VE_OK;
	}
	if (_IsOnStack(object))
	{
		if ((fOptions & kMARK_CIRCULAR) != 0)
		{
			out.PutASCII("\"[circular]\"", 12);
			return VE_OK;
		}
		_ThrowError(VE_JSON_CIRCULAR);
		return VE_JSON_CIRCULAR;
	}
	if ((fOptions & kWRITE_ONCE) != 0)
	{
		if (fWritten.find(object) != fWritten.end())
		{
			_ThrowError(VE_JSON_OBJECT_WRITTEN_TWICE);
			return VE_JSON_OBJECT_WRITTEN_TWICE;
		}
		fWrittenHeld.emplace_back(const_cast<VJSONObject*>(object));
		fWritten.insert(object);
	}
	if (VError tooDeep = _CheckNesting(); tooDeep != VE_OK)
		return tooDeep;

	StJSONWriterStackEntry entry(fStack, object);
	if ((fOptions & kGENERIC_ONLY) != 0 && !object->IsGenericObject())
	{
		_ThrowError(VE_JSON_NOT_GENERIC_OBJECT);
		return VE_JSON_NOT_GENERIC_OBJECT;
	}
	if (IJSONObject* implementation = object->GetImplementation(); implementation != nullptr)
	{
		if ((fOptions & kREFUSE_BINARY) != 0 && implementation->IJSON_GetBinarySignature() != 0)
		{
			_ThrowError(VE_JSON_BINARY_OBJECT);
			return VE_JSON_BINARY_OBJECT;
		}
		uint64 implementationError = VE_OK;
		VString text;
		const EJSONStatus status = implementation->IJSON_Stringify(object, *this, text, &implementationError);
		if (status != eJSONStatusNotHandled)
		{
			// A failure the implementation recorded without a code is still a failure.
			if (status == eJSONStatusFailed && implementationError == VE_OK)
				implementationError = VE_UNKNOWN_ERROR;
			if (implementationError == VE_OK)
				out.Put(text);
			return implementationError;
		}
	}
	return _WriteProperties(object, out);
}

VError VJSONWriter::_WriteProperties(const VJSONObject* object, _Text& out)
{
	const VJSONClass* theClass = object->GetClass();
	if (!object->IsSharedGraph() && object->GetImplementation() == nullptr && (theClass == nullptr || !theClass->HasGetters()))
		return _WriteOwnProperties(object, out);

	// Own properties in insertion order with their stored values, then the names only the implementation
	// knows, or else those of the class's getters, read through the getters with the writer's context.
	std::vector<VString> names;
	if (!object->GetPropertyNamesInOrder(names))
		return VE_MEMORY_FULL;
	const size_t ownCount = names.size();
	// Without a locker there is no lock to take for each read: the stored values are taken at once, in the
	// order of the names, instead of looked up one by one.
	// The object is on the stack already: its list is that of the depth it was pushed from.
	StValueList list(*this, fStack.size() - 1);
	std::vector<VJSONValue>& ownValues = list.Get();
	const bool valuesInOrder = !object->IsSharedGraph();
	if (valuesInOrder)
		object->_GetValuesInOrder(ownValues);
	bool implementationNamed = false;
	if (IJSONObject* implementation = object->GetImplementation(); implementation != nullptr)
	{
		std::vector<VString> implementationNames;
		if (implementation->IJSON_GetPropertyNames(implementationNames) == eJSONStatusHandled)
		{
			implementationNamed = true;
			for (VString& name : implementationNames)
			{
				if (!object->HasOwnProperty(name))
					names.push_back(std::move(name));
			}
		}
	}
	if (const VJSONClass* theClass = object->GetClass(); !implementationNamed && theClass != nullptr && theClass->HasGetters())
	{
		std::vector<VString> getters;
		theClass->GetGetterNames(getters);
		for (VString& name : getters)
		{
			if (!object->HasOwnProperty(name))
				names.push_back(std::move(name));
		}
	}
	if (names.empty())
	{
		out.PutASCII("{}", 2);
		return VE_OK;
	}
	bool cut = false;
	out.Put(u'{');
	{
		StJSONWriterLevel level(*this);
		const bool pretty = (fOptions & kPRETTY) != 0;
		for (size_t index = 0; index < names.size(); ++index)
		{
			const VString& name = names[index];
			_BeginMember(index, out);
			const size_t start = out.Length();
			_WriteString(name.GetCPointer(), name.GetLength(), out);
			out.PutASCII(": ", pretty ? 2 : 1);
			VError error = VE_OK;
			if (index < ownCount && valuesInOrder && ownValues.size() == ownCount)
				error = _WriteValue(ownValues[index], out);
			else
				error = _WriteValue(index < ownCount ? object->GetOwnProperty(name) : object->GetProperty(name, fContext), out);
			if (error != VE_OK)
				return error;
			if (out.Failed())
				return VE_OK;  // reported once by the caller
			cut = _CountForCut(out.Length() - start);
			if (cut)
				break;
		}
	}
	_Close(u'}', cut, out);
	return VE_OK;
}

VError VJSONWriter::_WriteOwnProperties(const VJSONObject* object, _Text& out)
{
	// A plain, unshared object: its own properties only, names and values read in place.
	const VJSONPropertyTable& properties = object->_GetProperties();
	if (properties.IsEmpty())
	{
		out.PutASCII("{}", 2);
		return VE_OK;
	}
	bool cut = false;
	VError error = VE_OK;
	out.Put(u'{');
	{
		StJSONWriterLevel level(*this);
		const bool pretty = (fOptions & kPRETTY) != 0;
		size_t index = 0;
		properties.ForEachWhile([&](const VJSONPropertyTable::Entry& entry) {
			_BeginMember(index++, out);
			const size_t start = out.Length();
			_WriteString(entry.GetNameUnits(), entry.GetNameLength(), out);
			out.PutASCII(": ", pretty ? 2 : 1);
			error = _WriteValue(entry.fValue, out);
			if (error != VE_OK || out.Failed())
				return false;
			cut = _CountForCut(out.Length() - start);
			return !cut;
		});
	}
	if (error != VE_OK || out.Failed())
		return error;  // a failed text is reported once by the caller
	_Close(u'}', cut, out);
	return VE_OK;
}

VError VJSONWriter::StringifyValueToFile(IFile* file, const VJSONValue& value, uint32 options)
{
	if (file == nullptr)
		return VE_OK;
	VJSONWriter writer(options);
	VString text;
	// A failed write leaves no complete document: the file keeps what it had.
	if (VError error = writer.StringifyValue(value, text); error != VE_OK)
		return error;
	return file->SetContentAsString(text, 7, eCRM_NONE, false);
}

}  // namespace velk
