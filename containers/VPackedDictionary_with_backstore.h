// The attribute dictionary of a bag: name -> one single value, the values kept in their flat form in a
// store of 16-bit words (one kind word, then the value's flat form, padded to a whole word), so that a bag
// of a handful of numbers costs no value objects. A value object is made and cached in the slot only when a
// reader needs one of another kind, when a value is replaced by one of another size, or for a null value:
// the flat form has no null flag, so a null lives in memory as its cached object, and the store (and the
// binary form written from it) holds its kind's empty value.
//
// Const operations may run on several threads at once (a modification may not run beside anything else):
// they read the store as it is and never rewrite it, and the one thing they write, a value object cached
// in a slot by a reader, is installed with a compare-and-swap.
#pragma once

#include "kernel/VExport.h"

#include <atomic>

#include "containers/VPackedDictionary.h"
#include "kernel/values/VValueSingle.h"

namespace velk {

// Slot of the attribute dictionary.
struct VELK_API VPackedValue_VValueSingle
{
	size_t fKeyOffset = 0;
	// Where the value's kind word lies in the backstore, in words.
	size_t fBackstoreIndex = 0;
	// Owned by the slot; null while the value lives only in the backstore. Readers reach it atomically
	// (one of them may be installing it).
	VValueSingle* fValue = nullptr;
};

template <class SLOT>
class VELK_API VPackedDictionary_with_backstore : public VPackedDictionary_base<SLOT>
{
	using Base = VPackedDictionary_base<SLOT>;

public:
	using iterator = typename Base::iterator;
	using const_iterator = typename Base::const_iterator;

	VPackedDictionary_with_backstore() = default;
	// As operator=.
	VPackedDictionary_with_backstore(const VPackedDictionary_with_backstore& other);
	// Copies keys, slots, index and backstore; a dirty source's cached values are packed into the copy's
	// backstore, the source itself is only read. The copy reads its values from the backstore: it caches
	// no value object, except nulls and values of kinds whose descriptor is not registered, which cannot be
	// rebuilt from flat data and are cloned. When memory is short this dictionary is left as it was and
	// IsComplete answers false.
	VPackedDictionary_with_backstore& operator=(const VPackedDictionary_with_backstore& other);
	// Deletes every cached value.
	~VPackedDictionary_with_backstore() override;

	// Reads the value into out; false when the key is absent. A cached value gives its value through its
	// GetValue; otherwise an out of the stored kind loads the flat form, and an out of another kind gets it
	// through a value object built from the flat form by the kind's descriptor and cached in the slot. A
	// stored kind without a descriptor leaves out unchanged and still answers true. A null makes out null.
	bool GetValue(const StPackedDictionaryKey& key, VValueSingle& out) const;
	// Replaces the value of an existing key; false when the key is absent or memory is short (nothing
	// done). A value (not null) of the same flat size as the stored one, when the slot caches nothing, is
	// written over it in place; otherwise the slot caches a copy of the value and the dictionary is marked
	// dirty.
	bool SetExistingValue(const StPackedDictionaryKey& key, const VValueSingle& value);
	// SetExistingValue for a slot a lookup just found: callers that looked the key up already save a
	// second lookup.
	bool _SetValueAt(iterator slot, const VValueSingle& value);
	// Appends key and value without looking for the key (free: as _AppendKeyAndSlot). Returns the new
	// slot, or end() with the dictionary unchanged (key longer than 255 bytes, memory short). Nulls and
	// values of a kind without a registered descriptor are also cached as a copy, so that every reader can
	// still get them.
	iterator Append(const StPackedDictionaryKey& key, const VValueSingle& value, typename Base::FreeEntry free = Base::kNO_FREE_ENTRY);

	// Append for a scalar of a kernel kind given as its flat datum (bytes of it), without a value object.
	iterator _AppendFlat(const StPackedDictionaryKey& key, ValueKind kind, const void* data, size_t bytes, typename Base::FreeEntry free = Base::kNO_FREE_ENTRY);

	// Removes the key and its value: the cached value is deleted, the value's words are cut out of the
	// backstore and the key's bytes out of the key buffer, the slots behind it lowered to match. False when
	// the key is absent.
	bool Clear(const StPackedDictionaryKey& key);

	// What an entry gives: the kind of its value, its flat data in the backstore (behind the kind word;
	// stale while the slot caches a different value) and its value object.
	ValueKind GetValueKind(const_iterator slot) const;
	const void* GetDataPtr(const_iterator slot) const;
	// Bytes of the store from the slot's datum to its end: all a reader of that datum may touch.
	uint64 GetDataBytes(const_iterator slot) const;
	// The slot's value object, made from the flat data by the kind's descriptor and cached when not there
	// yet (of two readers racing to cache it, one object wins and both get it); null for a kind without a
	// descriptor or when memory is short. Valid until the value is replaced or the dictionary goes.
	const VValueSingle* GetValuePtr(const_iterator slot) const;

	// The slot's flat data when its value lies in the store as a value of kind and no value object is
	// cached: a scalar of that kind is then read or written there directly. Null otherwise.
	const void* _GetStoredData(const_iterator slot, ValueKind kind) const
	{
		const VValueSingle* cached = std::atomic_ref<VValueSingle*>(const_cast<VValueSingle*&>(slot->fValue)).load(std::memory_order_acquire);
		return cached == nullptr && fBackstore[slot->fBackstoreIndex] == kind ? fBackstore.data() + slot->fBackstoreIndex + 1 : nullptr;
	}
	void* _GetStoredData(iterator slot, ValueKind kind) { return slot->fValue == nullptr && fBackstore[slot->fBackstoreIndex] == kind ? fBackstore.data() + slot->fBackstoreIndex + 1 : nullptr; }

	// Brings the backstore up to date with the cached values and clears the dirty flag; cached values stay
	// in their slots. False (dirty flag kept) when memory is short. A modification: copies do not call it.
	bool _Pack();
	bool IsDirty() const { return fDirty; }
	// False when the last copy into this dictionary could not be made.
	bool IsComplete() const { return fComplete; }

	// Deletes every cached value and empties keys, slots, index and backstore.
	void Destroy();
	// As Destroy, keeping the room of keys, slots and backstore for the next appends.
	void _Empty();

	// Binary form (VPackedDictionaryStream.cpp): the keys block (_WriteKeysToStream), then the word count
	// and the words, each value as its kind word and flat form in the stream's byte order. A dirty dictionary
	// is written as packed, without being changed itself. The form has no place for a null: a null value is
	// written as its flat form (an empty string, a zero) and reads back as that value. Answers the stream's
	// error, or velk 100 when memory is short for the packed or swapped copy.
	VError WriteToStream(VStream* stream, bool withIndex) const;
	// Empties the dictionary, then reads that form. The data are not trusted: counts beyond the bytes left,
	// keys or values that do not lie within their block, or words that the values do not fill exactly give
	// velk 200 (stored in the stream). Any failure leaves the dictionary empty.
	VError ReadFromStream(VStream* stream);

	// Bytes of a stored value with its kind word, from its kind and its flat data.
	static size_t GetFlatSize(ValueKind kind, const void* data);
	// The kind of a value: its descriptor's kind, undefined without one.
	static ValueKind GetKindOf(const VValueSingle& value);
	// A kind whose values can be rebuilt from their flat form: a registered descriptor.
	static bool CanRebuild(ValueKind kind);
	// CanRebuild for the value's kind, without the registry's lock for a value whose descriptor is
	// registered under its own kind (descriptors register themselves while they live).
	static bool CanRebuildValue(const VValueSingle& value);

private:
	// A value its slot keeps as a value object besides the flat form: a null (the flat form cannot tell
	// one) or a value of a kind that cannot be rebuilt.
	static bool _MustStayCached(const VValueSingle& value);
	// The slot's cached value as a reader may see it while another reader installs one.
	static VValueSingle* _CachedValue(const SLOT& slot);
	// Installs value as the slot's cached value unless a reader got there first: then value is deleted and
	// the installed one answered.
	static VValueSingle* _InstallCachedValue(const SLOT& slot, VValueSingle* value);
	// Grows the backstore by words at its end and appends the key with a slot pointing there; end() with
	// the dictionary unchanged on failure.
	iterator _AppendRoom(const StPackedDictionaryKey& key, size_t words, typename Base::FreeEntry free);
	// Words a value takes in the backstore, kind word included.
	static size_t _WordsFor(const VValueSingle& value);
	// Writes the kind word and flat form of value at words (which has room for _WordsFor).
	static void _WriteValue(uint16* words, const VValueSingle& value);
	// The backstore this dictionary has once packed: every slot's current value in slot order into words,
	// and where each slot's value starts into indexes. Reads this dictionary only; false (outputs unchanged)
	// when memory is short.
	bool _WritePacked(std::vector<uint16>& words, std::vector<size_t>& indexes) const;
	void _DeleteCachedValues();
	// Reads the word count and the words and places every slot's value in them, swapped to host order.
	VError _ReadBackstore(VStream* stream);

	std::vector<uint16> fBackstore;
	bool fDirty = false;
	bool fComplete = true;
};

}  // namespace velk
