// What the bag tests share: a bag released at the end of the test, a child bag added under a name, and a
// string's units for comparisons.
#pragma once

#include <string>

#include "containers/VValueBag.h"
#include "kernel/strings/VString.h"

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

}  // namespace velk::test
