// The platform's string object: an immutable, reference-counted UTF-16 text. It holds either UTF-16 units,
// which callers may read in place, or the UTF-8 bytes the system hands back (file names, arguments,
// environment), which have no UTF-16 storage and are decoded range by range on request.
#pragma once

#include <atomic>
#include <cstddef>

namespace plat {

class SharedText
{
public:
	// A new text holding a copy of count units, with one reference for the caller; null when memory is
	// short, or for a null units pointer with a count.
	static SharedText* CreateWithUnits(const char16_t* units, size_t count);
	// A new text holding a copy of count UTF-8 bytes, with one reference for the caller; null when memory is
	// short, or for a null bytes pointer with a count. Its units are counted in UTF-16 (a character above
	// U+FFFF counts two). Each ill-formed sequence (the longest start of a valid one, or a single byte)
	// reads as one U+FFFD, so every byte string gives a text.
	static SharedText* CreateWithUTF8(const char* bytes, size_t count);

	SharedText(const SharedText&) = delete;
	SharedText& operator=(const SharedText&) = delete;

	// The count is changed atomically: a text may be shared between threads.
	void Retain() const;
	// Frees the text with its last reference.
	void Release() const;

	// Units of the text in UTF-16.
	size_t GetLength() const { return fLength; }
	// The units in place; null for a text held as UTF-8, which callers then read with GetUnits.
	const char16_t* GetUnitsPointer() const { return fUnits; }
	// Copies the count units from start into out. False, nothing copied, when the range passes the end of
	// the text. A range may begin or end between the two units of a surrogate pair. Reading a UTF-8 text
	// decodes it from its start, so its cost grows with start + count.
	bool GetUnits(size_t start, size_t count, char16_t* out) const;
	// Calls of GetUnits on this text so far, so that callers can see how a text was read.
	size_t CountRangeReads() const { return fRangeReads.load(std::memory_order_relaxed); }

private:
	SharedText() = default;
	~SharedText();

	mutable std::atomic<size_t> fRefCount{1};
	mutable std::atomic<size_t> fRangeReads{0};
	size_t fLength = 0;
	char16_t* fUnits = nullptr;	 // the UTF-16 form, else null
	unsigned char* fBytes = nullptr;  // the UTF-8 form, else null
	size_t fByteCount = 0;
};

}  // namespace plat
