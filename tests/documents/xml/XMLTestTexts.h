// What the XML tests share: a toolbox string as UTF-8 bytes, a DOM document loaded from text, and a DOM
// node serialised back to text.
#pragma once

#include <string>

#include "documents/xml/IXMLDomWrapper.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/strings/VString.h"
#include "kernel/values/VBlob.h"

namespace velk::test {

inline std::string U8(const VString& text)
{
	std::string out(size_t(text.GetLength()) * 3 + 1, '\0');
	out.resize(text.ToBlock(out.data(), out.size(), kCharSet_UTF8, false, false));
	return out;
}

// The document the text holds; null when it does not parse.
inline VXMLDOMNode_opaque* Load(const std::string& xml)
{
	return IXMLDomWrapper::CreateNodeDocumentFromBuffer(xml.data(), xml.size());
}

// The serialised node; "<failed>" when it cannot be serialised.
inline std::string Serialize(VXMLDOMNode_opaque* node, bool pretty = false)
{
	VBlobWithPtr blob;
	size_t size = 0;
	if (!IXMLDomWrapper::SerializeToBlob(node, &blob, 0, size, pretty))
		return "<failed>";
	return std::string(reinterpret_cast<const char*>(blob.GetDataPtr()), size);
}

}  // namespace velk::test
