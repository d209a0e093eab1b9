// Paths into object trees (a.b[2].c): splitting them, reading and writing through them, and the stamps of
// the values they lead to.
#include "kernel/json/VJSONObject.h"

#include <new>

#include "kernel/json/VJSONArray.h"

namespace velk {

bool isvalidnumber(const VString& text)
{
	const UniChar* units = text.GetCPointer();
	for (int32 i = 0; i < text.GetLength(); ++i)
	{
		if (units[i] < u'0' || units[i] > u'9')
			return false;
	}
	return true;
}

namespace {

// A path part made of count units; false when its buffer cannot be made (velk 107 raised).
bool AppendPart(const UniChar* units, int32 count, std::vector<VString>& parts)
{
	VString part(units, count);
	if (part.GetLength() != count)
		return false;
	parts.push_back(std::move(part));
	return true;
}

// The index part of a path piece: the next thing to make is an array.
bool IsIndexPart(const VString& part)
{
	return !part.IsEmpty() && isvalidnumber(part);
}

}  // namespace

VError VJSONObject::ExtractPath(const VString& path, std::vector<VString>& parts)
{
	parts.clear();
	VError error = VE_OK;
	try
	{
		std::vector<VString> pieces;
		path.GetSubStrings(u'.', pieces, true, true);
		// The split keeps every piece, so fewer pieces than separators + 1 means it ran short of memory.
		size_t dots = 0;
		for (int32 i = 0; i < path.GetLength(); ++i)
			dots += path.GetCPointer()[i] == u'.' ? 1 : 0;
		if (pieces.size() != dots + 1)
			return VE_STRING_ALLOC_FAILED;

		for (const VString& piece : pieces)
		{
			const UniChar* units = piece.GetCPointer();
			const int32 length = piece.GetLength();
			int32 bracket = 0;
			while (bracket < length && units[bracket] != u'[')
				++bracket;
			if (bracket == 0)
			{
				error = VE_JSON_PATH_EMPTY_PART;
				break;
			}
			if (!AppendPart(units, bracket, parts))
				return VE_STRING_ALLOC_FAILED;
			// Each further sub-piece runs from after one '[' to the next '[' or the end.
			int32 start = bracket + 1;
			while (bracket < length && error == VE_OK)
			{
				int32 end = start;
				while (end < length && units[end] != u'[')
					++end;
				if (end == start || units[end - 1] != u']')
				{
					AppendPart(units + start, end - start, parts);
					error = VE_JSON_PATH_BRACKET_NOT_CLOSED;
				}
				else if (end - start == 1)
				{
					error = VE_JSON_PATH_EMPTY_PART;
				}
				else if (!AppendPart(units + start, end - start - 1, parts))
				{
					return VE_STRING_ALLOC_FAILED;
				}
				bracket = end;
				start = end + 1;
			}
			if (error != VE_OK)
				break;
		}
	}
	catch (const std::bad_alloc&)
	{
		error = VE_MEMORY_FULL;
	}
	if (error != VE_OK)
		_ThrowError(error);
	return error;
}

VJSONValue VJSONObject::GetPropertyWithPath(const VString& path, VDBLanguageContext* context) const
{
	std::vector<VString> parts;
	if (ExtractPath(path, parts) != VE_OK)
		return VJSONValue(JSON_undefined);
	return GetPropertyWithPath(parts, context);
}

VJSONValue VJSONObject::GetPropertyWithPath(const std::vector<VString>& parts, VDBLanguageContext* context) const
{
	// The value holds a reference, so a container dropped by another task meanwhile stays alive.
	VJSONValue current(const_cast<VJSONObject*>(this));
	static const VString sLength("length");
	for (const VString& part : parts)
	{
		if (const VJSONObject* object = current.GetObject())
		{
			current = object->GetProperty(part, context);
		}
		else if (const VJSONArray* array = current.GetArray())
		{
			if (part.EqualToString(sLength, false))
			{
				current = VJSONValue(double(array->GetCount()));
			}
			else
			{
				const int32 index = part.GetLong();
				current = index < 0 ? VJSONValue(JSON_undefined) : array->GetAt(size_t(index));
			}
		}
		else
		{
			return VJSONValue(JSON_undefined);
		}
	}
	return current;
}

bool VJSONObject::SetPropertyWithPath(const VString& path, const VJSONValue& value, VDBLanguageContext* context)
{
	std::vector<VString> parts;
	if (ExtractPath(path, parts) != VE_OK)
		return false;
	VJSONValue current(this);
	VString previous;
	for (size_t i = 0; i < parts.size(); ++i)
	{
		const VString& part = parts[i];
		const bool last = i + 1 == parts.size();
		// A missing or null child becomes the container that the next part expects.
		const JSONType childType = last ? JSON_undefined : (IsIndexPart(parts[i + 1]) ? JSON_array : JSON_object);
		VJSONValue child;
		if (VJSONObject* object = current.GetObject())
		{
			if (last)
				return object->SetProperty(part, value, context);
			child = object->GetProperty(part, context);
			if (child.IsNull() || child.IsUndefined())
			{
				child = VJSONValue(childType);
				if (child.GetType() != childType)
					return false;
				// A new container joins a shared parent's locker, which would refuse it otherwise.
				object->MakeValueSharedIfNecessary(child);
				if (!object->SetProperty(part, child, context))
					return false;
			}
		}
		else if (VJSONArray* array = current.GetArray())
		{
			const int32 index = part.GetLong();
			if (index < 0)
				return false;
			if (size_t(index) >= array->GetCount() && !array->Resize(size_t(index) + 1, JSON_null))
				return false;
			if (last)
				return array->SetAt(size_t(index), value);
			child = array->GetAt(size_t(index));
			if (child.IsNull() || child.IsUndefined())
			{
				child = VJSONValue(childType);
				if (child.GetType() != childType)
					return false;
				array->MakeValueSharedIfNecessary(child);
				if (!array->SetAt(size_t(index), child))
					return false;
			}
		}
		else
		{
			_ThrowError(IsIndexPart(part) ? VE_JSON_PATH_INDEX_THROUGH_VALUE : VE_JSON_PATH_THROUGH_VALUE, &previous);
			return false;
		}
		current = std::move(child);
		previous = part;
	}
	// Only an empty list of parts comes here, and ExtractPath never gives one.
	return true;
}

bool VJSONObject::SetPropertiesWithPaths(const std::vector<std::pair<VString, VJSONValue>>& properties)
{
	for (const auto& property : properties)
	{
		if (!SetPropertyWithPath(property.first, property.second, nullptr))
			return false;
	}
	return true;
}

namespace {

// The container holding the last part of a path of several parts, and that part; false for a path of
// one part (the object itself holds it) and for a malformed one.
bool SplitPathForStamp(const VJSONObject& object, const VString& path, std::vector<VString>& parts, VJSONValue& parent)
{
	if (VJSONObject::ExtractPath(path, parts) != VE_OK)
	{
		parts.clear();
		return false;
	}
	if (parts.size() < 2)
		return false;
	const VString last = parts.back();
	parts.pop_back();
	parent = object.GetPropertyWithPath(parts);
	parts.push_back(last);
	return true;
}

// The element index named by a path part, or -1.
int64 StampIndex(const VString& part)
{
	return part.EqualToUSASCIICString("length") ? -1 : part.GetLong8();
}

}  // namespace

uint32 VJSONObject::GetPropertyStampWithPath(const VString& path) const
{
	std::vector<VString> parts;
	VJSONValue parent;
	if (!SplitPathForStamp(*this, path, parts, parent))
		return parts.size() == 1 ? GetPropertyStamp(parts[0]) : 0;
	const VString& last = parts.back();
	if (const VJSONObject* object = parent.GetObject())
		return object->GetPropertyStamp(last);
	if (const VJSONArray* array = parent.GetArray())
	{
		if (last.EqualToUSASCIICString("length"))
			return uint32(array->GetCount());
		const int64 index = StampIndex(last);
		return index < 0 ? 0 : array->GetStampAt(size_t(index));
	}
	return 0;
}

void VJSONObject::TouchPropertyStampWithPath(const VString& path)
{
	std::vector<VString> parts;
	VJSONValue parent;
	if (!SplitPathForStamp(*this, path, parts, parent))
	{
		if (parts.size() == 1)
			TouchPropertyStamp(parts[0]);
		return;
	}
	const VString& last = parts.back();
	if (VJSONObject* object = parent.GetObject())
	{
		object->TouchPropertyStamp(last);
	}
	else if (VJSONArray* array = parent.GetArray())
	{
		const int64 index = StampIndex(last);
		if (index >= 0)
			array->TouchStampAt(size_t(index));
	}
}

}  // namespace velk
