// The text parser reading an object straight into a value bag, without building JSON values.
#include "kernel/json/VJSONImporter.h"

#include <new>

#include "containers/VValueBag.h"
#include "kernel/json/VJSONBinaryImporter.h"
#include "kernel/json/VJSONNumberWords.h"
#include "kernel/values/VTime.h"

namespace velk {

using jsonwords::IsNumberWord;
using jsonwords::WordToLong8;
using jsonwords::WordToReal;

VError VJSONImporter::JSONObjectToBag(VValueBag& bag)
{
	if (fError != VE_OK)
		return fError;
	if (fNestingDepth == 0)
	{
		VString text;
		const JsonToken token = _ScanToken(&text, nullptr);
		if (fError != VE_OK)
			return fError;
		if (token != jsonBeginObject)
		{
			_ThrowErrorInvalidToken(token == jsonString ? text : _TokenToString(token), "{");
			return fError;
		}
	}
	return _ObjectToBag(bag);
}

VError VJSONImporter::_ObjectToBag(VValueBag& bag)
{
	if (!_EnterNesting(fNestingDepth + 1))
		return fError;
	bool first = true;
	for (;;)
	{
		VString name;
		bool isString = false;
		JsonToken token = _ScanToken(&name, &isString);
		if (fError != VE_OK || token == jsonNone || token == jsonEndObject)
			break;
		if (token != jsonString)
		{
			_ThrowErrorInvalidToken(_TokenToString(token), first ? "\" }" : "\"");
			break;
		}
		token = _ScanToken(nullptr, nullptr);
		if (fError != VE_OK)
			break;
		if (token != jsonAssigne)
		{
			_ThrowErrorInvalidToken(_GetStartTokenFirstChar(), ":");
			break;
		}
		VString text;
		token = _ScanToken(&text, &isString);
		if (fError != VE_OK)
			break;
		if (token == jsonBeginObject || token == jsonBeginArray)
		{
			const bool isObject = token == jsonBeginObject;
			// An object is one child bag; an array one child bag per element, all under the name.
			bool more = true;
			while (more && fError == VE_OK)
			{
				bool childIsObject = isObject;
				VString elementText;
				bool elementQuoted = false;
				if (!isObject)
				{
					token = _ScanToken(&elementText, &elementQuoted);
					if (fError != VE_OK || token == jsonEndArray || token == jsonNone)
						break;
					if (token == jsonSeparator)
						continue;
					if (token != jsonBeginObject && token != jsonString)
					{
						_ThrowErrorInvalidToken(_TokenToString(token), "\" 0-9 null true false {");
						break;
					}
					childIsObject = token == jsonBeginObject;
				}
				VValueBag* child = new (std::nothrow) VValueBag();
				if (child == nullptr)
				{
					_FailForMemory(VE_MEMORY_FULL);
					break;
				}
				if (isObject)
					child->SetBool("____objectunic", true);
				if (childIsObject)
				{
					++fNestingDepth;
					_ObjectToBag(*child);
					--fNestingDepth;
				}
				else
				{
					_SetBagAttribute(*child, sFakeArrayElementKey, elementText, elementQuoted);
				}
				if (!bag.AddElement(StPackedDictionaryKey(name), child) && fError == VE_OK)
					_FailForMemory(VE_OK);
				child->Release();
				more = !isObject;
			}
		}
		else if (token == jsonString)
		{
			if (name.EqualToUSASCIICString("__CDATA"))
			{
				// Any other word is the text itself; a null stays one, as it does in an attribute.
				const bool isNull = !isString && text.EqualToUSASCIICString("null");
				if (!bag.SetString(VValueBag::CDataAttributeName(), isNull ? VString(true) : text))
					_FailForMemory(VE_OK);
			}
			else if (isString && name.EqualToUSASCIICString("__PRIVATE_BINARY_OBJECT"))
			{
				// Binary JSON embedded in Base64: the bag takes the value written there.
				VJSONValue value;
				bool decoded = false;
				VError error = VJSONBinaryImporter::GetValueFromBase64(text, value, decoded);
				if (error == VE_OK && decoded)
					error = bag.FromJSONValue(value);
				else if (error == VE_OK)
					_SetBagAttribute(bag, name, text, isString);
				if (error != VE_OK)
					fError = error;
			}
			else
			{
				_SetBagAttribute(bag, name, text, isString);
			}
		}
		else
		{
			_ThrowErrorInvalidToken(_TokenToString(token), kExpectedValue);
		}
		if (fError != VE_OK)
			break;
		VString found;
		token = _ScanToken(&found, nullptr);
		if (fError != VE_OK || token == jsonNone || token == jsonEndObject)
			break;
		if (token != jsonSeparator)
		{
			_ThrowErrorInvalidToken(token == jsonString ? found : _TokenToString(token), "} ,");
			break;
		}
		first = false;
	}
	return fError;
}

void VJSONImporter::_SetBagAttribute(VValueBag& bag, const VString& name, const VString& text, bool isQuoted)
{
	const StPackedDictionaryKey key(name);
	bool stored = true;
	if (isQuoted)
	{
		VTime time;
		const bool isDate = fNonAmbiguousDates ? text.IsNonAmbigousDate() : text.IsISODate();
		if (isDate && time.FromXMLString(text))
			stored = bag.SetTime(key, time);
		else
			stored = bag.SetString(key, text);
	}
	else if (text.EqualToUSASCIICString("null"))
	{
		stored = bag.SetString(key, VString(true));
	}
	else if (text.EqualToUSASCIICString("true") || text.EqualToUSASCIICString("false"))
	{
		stored = bag.SetBool(key, text.GetUniChar(1) == u't');
	}
	else
	{
		int64 integer = 0;
		if (WordToLong8(text, integer))
			stored = bag.SetLong8(key, integer);
		else if (IsNumberWord(text.GetCPointer(), text.GetCPointer() + text.GetLength()))
			stored = bag.SetReal(key, WordToReal(text));
		else if (text.FindUniChar(u'.') > 0)
			stored = bag.SetReal(key, text.GetReal());
		else
			stored = bag.SetLong8(key, text.GetLong8());
	}
	if (!stored)
		_FailForMemory(VE_OK);
}

}  // namespace velk
