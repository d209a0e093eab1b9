// The toolbox's tree of named values: named attributes (one single value each, kept in a packed
// dictionary) and, under each element name, an ordered list of child bags. Log messages, error parameters
// and XML documents travel as bags. A bag is reference counted and is itself a value (kind 200).
#pragma once

#include "kernel/VExport.h"

#include "containers/StPackedDictionaryKey.h"
#include "containers/VPackedDictionary.h"
#include "containers/VPackedDictionary_with_backstore.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/values/VValueInfo.h"
#include "kernel/values/VValueSingle.h"

namespace velk {

class VBagArray;
class VJSONValue;
class VString;
class VTime;

class VELK_API VValueBag : public VValue, public IRefCountable
{
public:
	using VPackedAttributes = VPackedDictionary_with_backstore<VPackedValue_VValueSingle>;
	using VPackedElements = VPackedDictionary<VPackedValue_VBagArray>;

	// Empty, dirty, not null, one reference held by the creator.
	VValueBag();
	// A deep copy: attributes are copied with the source's newest values packed into the copy's store (the
	// copy caches no value objects of kinds that can be rebuilt from their flat form; the source is only
	// read), every element list into a new list of copied bags. When memory is short the copy may miss
	// parts of the source (Clone then answers null).
	VValueBag(const VValueBag& other);
	VValueBag& operator=(const VValueBag&) = delete;
	// Deletes the element dictionary (releasing every list) and the attributes with their cached values.
	~VValueBag() override;

	const VValueInfo* GetValueInfo() const override { return &sInfo; }
	// A new bag holding a deep copy, owned by the caller (one reference); null, with velk 100 (memory)
	// raised, when memory is short.
	VValue* Clone() const override;
	// Clone without raising anything: for the bags copied inside a copy, which raises once for all.
	VValueBag* _CopyBag() const;

	// Filling the bag from a JSON value is not supported yet: raises and answers velk 2, bag unchanged.
	VError FromJSONValue(const VJSONValue& json) override;

	// The key of the bag's character data (the text content of an element): the attribute "<>".
	static const StPackedDictionaryKey& CDataAttributeName();

	// True when the bag has no element name and no attribute. With ignoreJSONMarkers, the markers the JSON
	// form adds ("____objectunic", "____property_name_in_jsarray") do not count as attributes.
	bool IsEmpty(bool ignoreJSONMarkers = false) const;

	// ---------------------------------------------------------------------------------------------------
	// Attributes. Each setter replaces the value of an existing attribute, otherwise appends it. All answer
	// false (bag unchanged) for an empty key, a key of more than 255 bytes or when memory is short, which
	// also raises velk 100 (memory). Several threads may read or clone one bag at once; setting an
	// attribute or adding an element may not run beside anything else on that bag.

	bool SetBool(const StPackedDictionaryKey& key, bool value);
	bool SetLong8(const StPackedDictionaryKey& key, int64 value);
	bool SetReal(const StPackedDictionaryKey& key, double value);
	bool SetString(const StPackedDictionaryKey& key, const VString& value);
	// Sets the attribute to a copy of any single value (a time, a string...); a value that is not a single
	// value (a bag, an array) is refused.
	bool SetTime(const StPackedDictionaryKey& key, const VValue& value);

	int32 GetAttributesCount() const { return int32(fAttributes.GetCount()); }

	// The attribute's value, read from the packed store (and kept cached in the bag). Null when the bag has
	// no such attribute or its kind cannot be rebuilt. The value belongs to the bag: valid until the
	// attribute is set again or the bag goes.
	const VValueSingle* GetAttribute(const StPackedDictionaryKey& key) const;
	// Reads the attribute into out, converting it to out's kind; false (out unchanged) when absent.
	bool GetAttribute(const StPackedDictionaryKey& key, VValueSingle& out) const;
	// Typed readers: false with out unchanged when the attribute is absent; otherwise the attribute's value
	// converted (a string attribute read as a number gives the number at its start).
	bool GetString(const StPackedDictionaryKey& key, VString& out) const;
	bool GetBool(const StPackedDictionaryKey& key, bool& out) const;
	bool GetLong8(const StPackedDictionaryKey& key, int64& out) const;
	bool GetReal(const StPackedDictionaryKey& key, double& out) const;
	bool GetTime(const StPackedDictionaryKey& key, VTime& out) const;

	// The attribute dictionary, for readers that walk the entries (_Find, GetValueKind, GetValuePtr).
	const VPackedAttributes& GetAttributes() const { return fAttributes; }

	// ---------------------------------------------------------------------------------------------------
	// Elements.

	// Appends the bag, retained, to the list of that name, creating the list (and the element dictionary)
	// when needed. False (nothing retained, bag unchanged) for a null bag, an empty or too long key, or when
	// memory is short, which also raises velk 100 (memory).
	bool AddElement(const StPackedDictionaryKey& key, VValueBag* bag);
	// The list stored under the name, not retained; null when there is none.
	VBagArray* GetElements(const StPackedDictionaryKey& key) const;
	// Number of element names.
	int32 GetElementNamesCount() const { return fElements != nullptr ? int32(fElements->GetCount()) : 0; }

	// The kind-200 descriptor: its generators make new empty bags.
	static const VValueInfo_default<VValueBag, VK_BAG> sInfo;

private:
	// Replaces or appends the attribute.
	bool _SetAttribute(const StPackedDictionaryKey& key, const VValueSingle& value);

	VPackedAttributes fAttributes;
	// Null until the first element is stored.
	VPackedElements* fElements = nullptr;
	// False when a copy could not take everything of its source.
	bool fComplete = true;
};

}  // namespace velk
