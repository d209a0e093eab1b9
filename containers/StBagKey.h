// Typed attribute keys: a static key object that names an attribute and knows the plain type its users
// read and write and the value class the bag stores it as (bool as a VBoolean, integers and enumerations
// as a VLong or VLong8, texts as a VString...). The key with a default answers that default for a bag
// without the attribute.
#pragma once

#include "kernel/VExport.h"

#include <type_traits>

#include "containers/StPackedDictionaryKey.h"
#include "containers/VValueBag.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VLong8.h"

namespace velk {

template <class T, class V>
class StBagKeyNoDefault
{
public:
	// name: a literal or static text, which the key points at.
	explicit StBagKeyNoDefault(const char* name) : fKey(name) {}

	const StPackedDictionaryKey& GetKey() const { return fKey; }
	operator const StPackedDictionaryKey&() const { return fKey; }

	// Reads the attribute, converted to T, into value; false (value unchanged) for a null bag or a bag
	// without the attribute. A text key (char const*) is read into a VString.
	template <class OUT>
	bool Get(const VValueBag* bag, OUT& value) const
	{
		if (bag == nullptr)
			return false;
		if constexpr (std::is_base_of_v<VValueSingle, OUT>)
		{
			return bag->GetAttribute(fKey, value);
		}
		else
		{
			static_assert(std::is_same_v<OUT, T> && !std::is_pointer_v<T>, "read a text key into a VString");
			V stored;
			if (!bag->GetAttribute(fKey, stored))
				return false;
			if constexpr (std::is_same_v<T, bool>)
				value = stored.GetBoolean();
			else
				value = static_cast<T>(stored.GetLong8());
			return true;
		}
	}

	// Sets the attribute to value stored as V; false when the bag refuses it (see VValueBag's setters).
	bool Set(VValueBag* bag, const T& value) const
	{
		if (bag == nullptr)
			return false;
		if constexpr (std::is_base_of_v<VValueSingle, T>)
		{
			return bag->SetAttribute(fKey, value);
		}
		else if constexpr (std::is_same_v<T, const char*>)
		{
			return bag->SetString(fKey, VString(value));
		}
		else if constexpr (std::is_same_v<T, bool>)
		{
			return bag->SetBool(fKey, value);
		}
		else if constexpr (std::is_same_v<V, VLong8>)
		{
			// Stored as a VLong8 would be, without making one.
			return bag->SetLong8(fKey, static_cast<int64>(value));
		}
		else
		{
			V stored;
			stored.FromLong8(static_cast<int64>(value));
			return bag->SetAttribute(fKey, stored);
		}
	}

private:
	StPackedDictionaryKey fKey;
};

template <class T, class V>
class StBagKeyWithDefault : public StBagKeyNoDefault<T, V>
{
public:
	StBagKeyWithDefault(const char* name, const T& defaultValue) : StBagKeyNoDefault<T, V>(name), fDefault(defaultValue) {}

	const T& GetDefault() const { return fDefault; }

	using StBagKeyNoDefault<T, V>::Get;
	// The attribute converted to T, or the default for a null bag or a bag without it.
	T Get(const VValueBag* bag) const
	{
		T value(fDefault);
		if (!this->Get(bag, value))
			value = fDefault;
		return value;
	}

private:
	T fDefault;
};

}  // namespace velk
