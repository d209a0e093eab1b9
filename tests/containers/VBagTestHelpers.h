// What the bag tests share: a bag released at the end of the test, a child bag added under a name, a
// string's units for comparisons, and a bag's binary record written and read back.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "containers/VValueBag.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VConstPtrStream.h"
#include "kernel/values/VPtrStream.h"
#include "runtime/VTask.h"

namespace velk::test {

inline std::u16string Text(const VString& s)
{
	return std::u16string(s.GetCPointer(), size_t(s.GetLength()));
}

// Releases the bag at the end of a test.
struct StBag
{
	VValueBag* fBag = new VValueBag();
	~StBag() { fBag->Release(); }
	VValueBag* operator->() const { return fBag; }
	VValueBag& operator*() const { return *fBag; }
};

// A new empty bag added to parent as an element of that name; the parent holds it.
inline VValueBag* AddChild(VValueBag& parent, const char* name)
{
	VValueBag* child = new VValueBag();
	parent.AddElement(name, child);
	child->Release();
	return child;
}

using Bytes = std::vector<uint8>;

// The bag's record, in the host's byte order or swapped.
inline Bytes Written(const VValueBag& bag, bool swap)
{
	VPtrStream stream;
	stream.SetNeedSwap(swap);
	EXPECT_EQ(stream.OpenWriting(), VE_OK);
	EXPECT_EQ(bag.WriteToStream(&stream), VE_OK);
	stream.CloseWriting();
	const VStreamUnderlyingData data = stream.GetUnderlyingData();
	const uint8* bytes = static_cast<const uint8*>(data.fData);
	return Bytes(bytes, bytes + data.fSize);
}

inline VError Read(VValueBag& bag, const Bytes& bytes, bool swap, size_t size = ~size_t(0))
{
	VConstPtrStream stream(bytes.data(), int64(std::min(size, bytes.size())));
	stream.SetNeedSwap(swap);
	stream.OpenReading();
	const VError error = bag.ReadFromStream(&stream);
	stream.CloseReading();
	VTask::FlushErrors();
	return error;
}

}  // namespace velk::test
