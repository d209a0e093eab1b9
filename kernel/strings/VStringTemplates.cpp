// Filling "{{path}}" placeholders of a template from a JSON object.
#include <utility>
#include <vector>

#include "kernel/json/VJSONObject.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/strings/VString.h"

namespace velk {

void VString::FormatWithTemplate(const VJSONObject* object, VString& out) const
{
	// Split before out is touched: out may be this template.
	std::vector<VString> pieces;
	GetSubStrings(VStr<2>("{{"), pieces, true, false, true);
	const VStr<2> close("}}");
	VString result;
	std::vector<VString> parts;
	for (const VString& piece : pieces)
	{
		if (!piece.GetSubStrings(close, parts, true, false, true))
		{
			result.AppendUniChars(piece.GetCPointer(), piece.GetLength());
			continue;
		}
		const VJSONValue value = (object != nullptr) ? object->GetPropertyWithPath(parts[0]) : VJSONValue();
		if (!value.IsNull() && !value.IsUndefined())
		{
			VString text;
			value.GetString(text);
			result.AppendUniChars(text.GetCPointer(), text.GetLength());
		}
		for (size_t i = 1; i < parts.size(); ++i)
			result.AppendUniChars(parts[i].GetCPointer(), parts[i].GetLength());
	}
	out = std::move(result);
}

}  // namespace velk
