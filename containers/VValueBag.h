// The toolbox's tree of named values: named attributes (one single value each, kept in a packed
// dictionary) and, under each element name, an ordered list of child bags. Log messages, error parameters
// and XML documents travel as bags. A bag is reference counted and is itself a value (kind 200).
#pragma once

#include "kernel/VExport.h"

#include <vector>

#include "containers/StPackedDictionaryKey.h"
#include "containers/VPackedDictionary.h"
#include "containers/VPackedDictionary_with_backstore.h"
#include "kernel/memory/IRefCountable.h"
#include "kernel/values/VValueInfo.h"
#include "kernel/values/VValueSingle.h"

namespace velk {

class IBaggable;
class VBagArray;
class VJSONObject;
class VJSONValue;
class VStream;
class VString;
class VTime;

// A bag record of another version than the one this toolbox reads.
constexpr VError VE_STREAM_BAD_VERSION = MakeVError(kVELK_SIGNATURE, 212);

// One record of an element ordering for SortElements: an element name and, in their wanted order, up to
// ten names of its child elements (the places left over are null). A list of records ends with a record
// whose element name is null.
struct VELK_API StBagElementsOrdering
{
	static constexpr size_t kMAX_CHILDREN = 10;

	const StPackedDictionaryKey* fElementName;
	const StPackedDictionaryKey* fChildElementNames[kMAX_CHILDREN];
};

class VELK_API VValueBag : public VValue, public IRefCountable
{
public:
	using VPackedAttributes = VPackedDictionary_with_backstore<VPackedValue_VValueSingle>;
	using VPackedElements = VPackedDictionary<VPackedValue_VBagArray>;

	// Empty, dirty, not null, one reference held by the creator.
	VValueBag();
	// A deep copy: attributes are copied with the source's newest values packed into the copy's store (the
	// copy caches no value objects of kinds that can be rebuilt from their flat form; the source is only
	// read), every element list into a new list of copied bags. When memory is short, or the tree is nested
	// deeper than the free stack allows, the copy may miss parts of the source (Clone then answers null).
	VValueBag(const VValueBag& other);
	VValueBag& operator=(const VValueBag&) = delete;
	// Deletes the element dictionary (releasing every list) and the attributes with their cached values.
	// The trees that die with it are freed from a work list, however deep.
	~VValueBag() override;

	const VValueInfo* GetValueInfo() const override { return &sInfo; }
	// A new bag holding a deep copy, owned by the caller (one reference); null when memory is short (velk
	// 100 raised) or the tree is nested deeper than the free stack allows (velk 108 raised).
	VValue* Clone() const override;
	// Clone without raising anything, for the bags copied inside a copy, which raises once for all: the
	// reason of a null answer goes to failure when given.
	VValueBag* _CopyBag(VError* failure = nullptr) const;

	// ---------------------------------------------------------------------------------------------------
	// JSON forms (VValueBagJSON.cpp): the bag is an object, its attributes properties (the character data
	// under "__CDATA"), each element name a property holding an array of objects, or one object when its
	// only bag is marked "____objectunic" (or with kJSON_SINGLE_AS_OBJECT). A bag marked
	// "____FakeArrayElement" stands for that attribute's value alone. A JSON null read into a bag is a null
	// string, written back as null (the binary form keeps it as an empty string).

	static constexpr uint32 kJSON_PRETTY = 8;                    // new lines and tabs
	static constexpr uint32 kJSON_SINGLE_AS_OBJECT = 32;         // every list of one bag as that object
	static constexpr uint32 kJSON_NON_AMBIGUOUS_DATES = 0x1000;  // FromJSONString: the importer's option 512

	// Replaces json by the bag's JSON text. Answers 0, or (raised, json empty) velk 107 when the text
	// cannot be made, velk 108 when the tree is nested deeper than the free stack allows.
	VError GetJSONString(VString& json, uint32 options = 0) const override;
	// Appends the bag as one JSON object at the indentation level (kept across the call). On failure, as
	// GetJSONString's, json holds part of the text and level is as it was.
	VError _GetJSONString(VString& json, int32& level, bool pretty, uint32 options) const;
	// Adds to this bag what the JSON text holds (VJSONImporter::JSONObjectToBag): the text must hold an
	// object. Answers the importer's error (pushed); the bag then keeps what was read before it.
	VError FromJSONString(const VString& json, uint32 options = 0) override;
	// The JSON value's text read by FromJSONString: velk 550 (551 and 550 pushed) for a value that is not
	// an object.
	VError FromJSONValue(const VJSONValue& json) override;
	// The bag's JSON text read back as a new object, retained for the caller; null when that fails, the
	// writer's or the parser's error in error.
	VJSONObject* BuildJSONObject(VError& error) const;
	// json becomes the object BuildJSONObject makes, or undefined (its error answered).
	VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;

	// ---------------------------------------------------------------------------------------------------
	// XML text (VValueBagXML.cpp): the bag is an element, its attributes XML attributes (but the character
	// data and the JSON markers), each element list child elements, the character data the element's text.
	// Characters XML cannot carry are left out, so the text always reads back. XML has no null: an
	// attribute holding a null is left out, and a null character data is none.

	// Appends the bag as one element of that name; indented, each child goes on its own line one tab
	// deeper. A tree nested deeper than the free stack allows appends nothing (velk 108 raised).
	void DumpXML(VString& text, const VString& elementName, bool indented) const;
	// The element at level: tabs before it when level > 0; -1 writes no tabs at all. False, with velk 108
	// raised and the element written in part, when the tree is nested deeper than the free stack allows.
	bool _DumpXML(VString& text, const VString& elementName, int32 level) const;
	// The start tag with the attributes; cdataIndex is the 1-based slot of the character data (0 when
	// none). Answers true when the bag has no element and no character data: the tag then closes the
	// element ("/>").
	bool DumpXMLAttributes(VString& text, const VString& elementName, int32 cdataIndex) const;
	// The character data of the slot cdataIndex: as it is, or as a CDATA section when it holds markup
	// characters or line ends among other text. Answers whether anything was written.
	bool DumpXMLCData(VString& text, int32 cdataIndex) const;
	// level tabs (at most 100; none for level <= 0).
	static void DumpXMLIndentation(VString& text, int32 level);
	// With an empty set (begin == end): true when text holds a TAB, LF or CR and some character other than
	// those and the blank. Otherwise true when text holds one of the characters from begin to end.
	static bool NeedsEscapeSequence(const VString& text, const UniChar* begin, const UniChar* end);

	// ---------------------------------------------------------------------------------------------------
	// Binary form (VValueBagStream.cpp), in the stream's byte order: the record 'VBAG', version 1, a
	// reserved word, then the minimal form: a flags byte (1: attributes follow, 2: element names follow),
	// the attribute dictionary's keys block and words, the element dictionary's keys block and one bag list
	// per name. Data read are not trusted: what does not hold together gives velk 200.

	static constexpr uint32 kSTREAM_SIGNATURE = 0x56424147;  // 'VBAG'
	static constexpr uint16 kSTREAM_VERSION = 1;
	// Nested bags are read, written, copied, merged, sorted and dumped only while this much stack is free:
	// velk 108 beyond.
	static constexpr size_t kMIN_FREE_STACK = 65536;
	// True when less than kMIN_FREE_STACK is left to the current task: a walk down the tree stops there.
	static bool _IsStackLow();

	// Writes the record; answers the stream's error (or the nested writers': velk 100, velk 108).
	VError WriteToStream(VStream* stream, int32 param = 0) const override;
	// Empties the bag, then reads a record. A pending stream error is answered at once, nothing read; a
	// signature other than 'VBAG' answers velk 207, a version other than 1 velk 212 (both raised, the bag
	// left empty). Then as ReadFromStreamMinimal.
	VError ReadFromStream(VStream* stream, int32 param = 0) override;
	// The minimal form of this bag; withIndex writes the hash index of dictionaries of 6 keys or more. A
	// list stops at the first bag whose writing fails.
	VError WriteToStreamMinimal(VStream* stream, bool withIndex) const;
	// Reads a minimal form into this bag, which is not emptied first: the attributes are replaced when the
	// flags announce some, the element dictionary by a new one when they announce names. A dictionary
	// whose reading fails is left empty; the error is answered.
	VError ReadFromStreamMinimal(VStream* stream);
	// Reader of the older layout: attribute names (a string array), a uint32 count and per attribute a
	// uint32 whose low word is its kind followed by the value's own stream form, then element names, a
	// uint32 count and per name a bag list. Attributes and lists are appended under the names of the same
	// positions (names that no key can hold are skipped). Counts beyond the data or the names, and kinds that
	// are not single values, give velk 200 (stored in the stream); the bag keeps what was read before.
	VError _ReadFromStream_v1(VStream* stream);

	// Writes "name = value" per attribute, then per element name its bag count and name and each bag's own
	// dump, as UTF-8 cut to the buffer's size (length updated). Writes nothing without a process object. A
	// bag nested deeper than the free stack allows dumps nothing (velk 108 raised).
	CharSet DebugDump(char* buffer, int& length) const override;
	using VObject::DebugDump;

	// Empties the bag: every attribute with its cached value, and the element dictionary (each list
	// released).
	void Destroy();
	// Makes a bag that nobody else holds as a new one (empty, not null, dirty), keeping the room its
	// attributes took, so that it can be filled again without allocating; false, the bag unchanged, for a
	// bag with elements.
	bool _EmptyForReuse();

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
	// Sets the attribute to a copy of the value.
	bool SetAttribute(const StPackedDictionaryKey& key, const VValueSingle& value);
	// Removes the attribute; false when the bag has none of that name.
	bool RemoveAttribute(const StPackedDictionaryKey& key);
	// Appends text to the character data "<>": a string is extended; a value of another kind becomes its
	// text followed by the given text; without character data, it becomes the text. False when memory is
	// short (velk 100 raised, bag unchanged).
	bool AppendToCData(const VString& text);

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
	// The element dictionary, for writers that walk the names with their lists; null without elements.
	const VPackedElements* GetElementsDictionary() const { return fElements; }

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
	// The list of the n-th element name (1-based, names in order of first insertion), not retained, with
	// the name written into name when given. Out of range: null, and name cleared. A name whose list was
	// set to null answers null too, with its name.
	VBagArray* GetNthElementName(int32 n, VString* name) const;
	// Stores the list (retained) under the name, releasing a different list stored there before; a null
	// list keeps the name with no bags. False for an empty or too long key, or when memory is short.
	bool SetElements(const StPackedDictionaryKey& key, VBagArray* list);
	// Asks the object to save itself into a new bag and adds that bag under the element name the object
	// gives. Answers the object's error (the bag is then not added), 0 for a null object, velk 100 when
	// memory is short.
	VError AddElement(const IBaggable* object);
	// Releases the name's list and removes the name; false when there is none.
	bool RemoveElements(const StPackedDictionaryKey& key);
	// Makes the bag the only one under the name. False, with nothing changed, when the name's list already
	// holds exactly this bag; with a null bag the name and its list are removed (false). Otherwise answers
	// whether the bag was stored (an empty or too long key is refused).
	bool ReplaceElement(const StPackedDictionaryKey& key, VValueBag* bag);

	// Among the bags of the named list, the one bag whose attribute equals value (compared without
	// diacritical sensitivity; a missing attribute reads as a cleared value), retained for the caller. Null
	// when no bag or two or more bags match.
	VValueBag* RetainUniqueElementWithAttribute(const StPackedDictionaryKey& elementKey, const StPackedDictionaryKey& attributeKey, const VValueSingle& value) const;
	// With exactly one element name holding exactly one bag: that bag (not retained), its name in name.
	// Otherwise null, name unchanged.
	VValueBag* GetUniqueElementAnyKind(VString& name) const;
	// Orders this bag's element names by the record of orderings named key (names the record does not
	// list first, then the listed ones in its order), then every child bag by the record of its own name,
	// down the whole tree. Nothing happens without such a record or with a null orderings. False when
	// memory was short for some reordering (velk 100 raised; the names there keep their order) or when the
	// tree is nested deeper than the free stack allows (velk 108 raised; the bags below keep their order).
	bool SortElements(const StPackedDictionaryKey& key, const StBagElementsOrdering* orderings);

	// Copies every attribute of other into this bag (replacing or appending), then appends copies of all
	// its element bags under their names. False for a null bag, when memory is short (velk 100 raised) or
	// when a copied tree is nested deeper than the free stack allows (velk 108 raised); what was copied
	// stays. The bag may be this bag itself.
	bool UnionClone(const VValueBag* other);
	// As UnionClone, except that a name under which both bags hold exactly one bag merges the pair by
	// Override instead of adding a copy; merged pairs nested deeper than the free stack allows stop the
	// merge there with velk 108.
	bool Override(const VValueBag* other);

	// ---------------------------------------------------------------------------------------------------
	// Paths: element names separated by '/', each step going to the first bag of the name's list.

	using KeyPath = std::vector<StPackedDictionaryKey>;

	// Splits the text at '/' into owned keys (cleared first). A trailing empty piece is left out; an empty
	// piece elsewhere, or one over 255 UTF-8 bytes, stays in as an empty key, which names no element: a
	// lookup through it finds nothing and creation through it is refused.
	static void GetKeysFromPath(const VString& path, KeyPath& keys);
	// Splits zero-terminated UTF-8 text at '/' into keys that point into the text (which must outlive
	// them); the last piece only when not empty. A piece over 255 bytes becomes an empty key.
	static void GetKeysFromUTF8PathNoCopy(const char* path, KeyPath& keys);

	// The bag reached by following each name to the first bag of its list, not retained; this bag for an
	// empty path; null when a name, its list or a first bag is missing.
	VValueBag* GetUniqueElementByPath(const KeyPath& keys) const;
	VValueBag* GetUniqueElementByPath(const VString& path) const;
	// As GetUniqueElementByPath, storing a new empty bag (through ReplaceElement) where a name is missing or
	// its list empty. Null when a key is empty or too long, or memory is short.
	VValueBag* GetElementByPathAndCreateIfDontExists(const KeyPath& keys);
	// Makes bag the only one under the path's last name, creating the bags on the way. A null bag removes
	// the last name where the path leads (without creating anything) and answers true. Empty path: false.
	bool ReplaceElementByPath(const KeyPath& keys, VValueBag* bag);

	// The kind-200 descriptor: its generators make new empty bags.
	static const VValueInfo_default<VValueBag, VK_BAG> sInfo;

private:
	// Replaces or appends the attribute.
	bool _SetAttribute(const StPackedDictionaryKey& key, const VValueSingle& value);
	// Sets a scalar attribute with one lookup: written over the flat datum when stored as kind, else
	// replaced or appended as a value of class V.
	template <class D, class V>
	bool _SetScalar(const StPackedDictionaryKey& key, ValueKind kind, D value);
	// A key a dictionary can store: not empty, at most 255 bytes.
	static bool _IsStorableKey(const StPackedDictionaryKey& key);
	// Raises velk 100 for a call that memory failed; answers the call's false.
	static bool _MemoryFull();
	// Raises the error; answers false.
	static bool _Failed(VError error);
	// Deletes an element dictionary without recursing into the trees that die with it: a bag about to go
	// with its list hands its own element dictionary to a work list first.
	static void _DeleteElements(VPackedElements* elements);
	// The element dictionary, made when missing; null (velk 100 raised) when memory is short.
	VPackedElements* _GetOrMakeElements();
	// Drops an element dictionary left empty by a failed first store.
	void _DropEmptyElements();
	// The attributes of other copied into this bag (other may be this bag).
	bool _CopyAttributesFrom(const VValueBag& other);
	// Copies of other's element bags appended under their names; with merge, a name holding one bag in
	// both bags is merged by Override instead.
	bool _AddElementsFrom(const VValueBag& other, bool merge);
	// Sorts this bag and the tree below it; the first failure (velk 100, velk 108) goes to error.
	void _Sort(const StBagElementsOrdering& ordering, const StBagElementsOrdering* orderings, VError& error);

	VPackedAttributes fAttributes;
	// Null until the first element is stored.
	VPackedElements* fElements = nullptr;
	// Why a copy could not take everything of its source (velk 100, velk 108); 0 for a whole bag.
	VError fCopyError = VE_OK;
};

// Layout of the bag's JSON text. With pretty, every object, array and property starts on a new line
// indented by level tabs; without it nothing but the punctuation is written.

// "\n" when pretty.
VELK_API void AppendJSONNewline(VString& text, bool pretty);
// level tabs when pretty.
VELK_API void AjustJSONTab(VString& text, int32& level, bool pretty);
// A new line and level tabs when pretty, then "{" or "[", and one level deeper.
VELK_API void AppendBeginJSONObject(VString& text, int32& level, bool pretty);
VELK_API void AppendBeginJSONArray(VString& text, int32& level, bool pretty);
// One level up, then a new line and that level's tabs when pretty, and "}" or "]".
VELK_API void AppendEndJSONObject(VString& text, int32& level, bool pretty);
VELK_API void AppendEndJSONArray(VString& text, int32& level, bool pretty);
// A new line and level tabs when pretty, the name quoted and escaped, then " : " (pretty) or ":".
VELK_API void AppendJSONPropertyName(VString& text, int32& level, bool pretty, const VString& name);

}  // namespace velk
