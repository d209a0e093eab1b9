// The DOM wrapper's output: bags written into a tree, and documents serialised into blobs, streams and files
// with their line ends turned into carriage returns.
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "containers/StPackedDictionaryKey.h"
#include "containers/VBagArray.h"
#include "containers/VValueBag.h"
#include "documents/xml/IXMLDomWrapper.h"
#include "documents/xml/IXMLDomWrapperTools.h"
#include "files/IFile.h"
#include "files/VFile.h"
#include "files/VFileStream.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/memory/VMemory.h"
#include "kernel/values/VBlob.h"
#include "kernel/values/VValueInfo.h"
#include "kernel/values/VValueSingle.h"

namespace velk {

using namespace xercesc;

namespace {

constexpr int32 kConversionTag = FourCharCode("xmlc");
constexpr VError kConversionBufferError = MakeVError(kVELK_SIGNATURE, 5);
// A multiple of every unit width.
constexpr size_t kConversionPiece = 65536;

bool IsKey(const char* bytes, size_t length, const char* key)
{
	return length == std::strlen(key) && std::memcmp(bytes, key, length) == 0;
}

// The attribute's text: a string as it is, another kind in its XML form with its entities decoded.
VString AttributeText(const VValueSingle* value)
{
	VString text;
	if (value == nullptr)
		return text;
	if (value->GetValueInfo() != nullptr && value->GetValueInfo()->GetKind() == VK_STRING)
	{
		text.FromString(static_cast<const VString&>(*value));
		return text;
	}
	value->GetXMLString(text);
	text.TranscodeFromXML();
	return text;
}

// The bag's attributes and character data into element. Out of WriteBag (and never inlined there), so that
// the recursion's frames do not carry its locals.
[[gnu::noinline]] VError WriteAttributes(const VValueBag& bag, DOMElement* element)
{
	const auto& attributes = bag.GetAttributes();
	VString name;
	for (auto slot = attributes.begin(); slot != attributes.end(); ++slot)
	{
		size_t length = 0;
		const char* bytes = attributes._GetKeyBytes(*slot, length);
		// The bag's own markers are not attributes of the document.
		if (IsKey(bytes, length, "____objectunic") || IsKey(bytes, length, "____property_name_in_jsarray"))
			continue;
		// XML has no null: as in the bag's XML text, a null is no attribute and no character data.
		const VValueSingle* value = attributes.GetValuePtr(slot);
		if (value != nullptr && value->IsNull())
			continue;
		const VString text = AttributeText(value);
		// The character data is the element's text, as in the bag's XML form.
		if (IsKey(bytes, length, "<>"))
		{
			if (!Guarded<bool>([&]() {
					element->appendChild(element->getOwnerDocument()->createTextNode(Units(text).c_str()));
					return true;
				}, false))
				return VE_XML_ERROR;
			continue;
		}
		name.FromBlock(bytes, length, kCharSet_UTF8);
		if (!IXMLDomWrapper::SetNodeElementAttribute(Handle(element), name, text))
			return VE_XML_ERROR;
	}
	return VE_OK;
}

// A new child element of that name, recorded in nodes when given; null when it cannot be made. Out of
// WriteBag for the same reason.
[[gnu::noinline]] DOMElement* AddChild(DOMElement* element, const VString& name, std::vector<VXMLDOMNode_opaque*>* nodes)
{
	VXMLDOMElement_opaque* child = IXMLDomWrapper::AddNodeElement(Handle(element), name);
	if (child != nullptr && nodes != nullptr)
		nodes->push_back(IXMLDomWrapper::GetNodeFromNodeElement(child));
	return AsElement(child);
}

// Each child bag is written by its own call, down to the stack bound taken when the writing started.
VError WriteBag(const VValueBag& bag, DOMElement* element, std::vector<VXMLDOMNode_opaque*>* nodes,
	const VJSONStackBound& bound)
{
	if (!bound.HasRoom())
	{
		_ThrowError(VE_STACK_OVERFLOW);
		return VE_STACK_OVERFLOW;
	}
	VError error = WriteAttributes(bag, element);
	VString name;
	for (int32 n = 1; n <= bag.GetElementNamesCount() && error == VE_OK; ++n)
	{
		const VBagArray* list = bag.GetNthElementName(n, &name);
		const int32 count = list != nullptr ? list->GetCount() : 0;
		for (int32 pos = 1; pos <= count && error == VE_OK; ++pos)
		{
			const VValueBag* childBag = list->_GetNth(pos);
			if (childBag == nullptr)
				continue;
			DOMElement* child = AddChild(element, name, nodes);
			error = child != nullptr ? WriteBag(*childBag, child, nodes, bound) : VE_XML_ERROR;
		}
	}
	return error;
}

// How line ends are spelt in an encoding: the code units of CR and LF, each width bytes long.
struct LineEnds
{
	size_t width = 0;  // 0: the encoding's line ends are not known; its bytes are copied unconverted
	uint8 cr[4] = {};
	uint8 lf[4] = {};
};

void Spell(LineEnds& ends, size_t width, bool bigEndian)
{
	ends.width = width;
	ends.cr[bigEndian ? width - 1 : 0] = 0x0D;
	ends.lf[bigEndian ? width - 1 : 0] = 0x0A;
}

// Units by name; other encodings count as bytes when Xerces writes CR and LF in them as ASCII does.
LineEnds LineEndsOf(const VString& encoding)
{
	LineEnds ends;
	VString name(encoding);
	name.ToUpperCase(false);
	const std::u16string upper = Units(name);
	constexpr bool kHostBigEndian = std::endian::native == std::endian::big;
	if (upper == u"UTF-8" || upper.empty())
		Spell(ends, 1, false);
	else if (upper == u"UTF-16")
		Spell(ends, 2, kHostBigEndian);
	else if (upper == u"UTF-16LE" || upper == u"UTF-16BE")
		Spell(ends, 2, upper == u"UTF-16BE");
	else if (upper == u"UTF-32" || upper == u"UCS4" || upper == u"UCS-4" || upper == u"UCS_4")
		Spell(ends, 4, kHostBigEndian);
	else if (upper == u"UTF-32LE" || upper == u"UTF-32BE")
		Spell(ends, 4, upper == u"UTF-32BE");
	else
	{
		Guarded<bool>([&]() {
			XMLTransService::Codes result = XMLTransService::Ok;
			std::unique_ptr<XMLTranscoder> transcoder(
				XMLPlatformUtils::fgTransService->makeNewTranscoderFor(upper.c_str(), result, 64));
			if (transcoder == nullptr || result != XMLTransService::Ok)
				return false;
			XMLByte bytes[8] = {};
			XMLSize_t eaten = 0;
			const XMLSize_t written = transcoder->transcodeTo(u"\r\n", 2, bytes, sizeof(bytes), eaten,
				XMLTranscoder::UnRep_RepChar);
			if (written == 2 && eaten == 2 && bytes[0] == 0x0D && bytes[1] == 0x0A)
				Spell(ends, 1, false);
			return true;
		}, false);
	}
	return ends;
}

// Copies units of ends.width bytes, LF and CR LF becoming one CR; answers the bytes written into out.
size_t ConvertLineEnds(const uint8* in, size_t size, uint8* out, const LineEnds& ends)
{
	const size_t width = ends.width;
	uint8* const start = out;
	if (width == 1)
	{
		for (size_t i = 0; i < size; ++i)
		{
			const uint8 byte = in[i];
			if (byte == 0x0D && i + 1 < size && in[i + 1] == 0x0A)
				++i;
			*out++ = byte == 0x0A ? 0x0D : byte;
		}
		return size_t(out - start);
	}
	const size_t whole = size - size % width;
	for (size_t i = 0; i < whole; i += width)
	{
		const uint8* unit = in + i;
		if (std::memcmp(unit, ends.cr, width) == 0 && i + width < whole && std::memcmp(unit + width, ends.lf, width) == 0)
			i += width;
		else if (std::memcmp(unit, ends.lf, width) == 0)
			unit = ends.cr;
		std::memcpy(out, unit, width);
		out += width;
	}
	std::memcpy(out, in + whole, size - whole);
	out += size - whole;
	return size_t(out - start);
}

// The encoding a document is written in: its declared one, else the one it was read in, else UTF-8.
const XMLCh* EncodingOf(const DOMDocument* document)
{
	const XMLCh* encoding = document->getXmlEncoding();
	if (encoding == nullptr || *encoding == 0)
		encoding = document->getInputEncoding();
	if (encoding == nullptr || *encoding == 0)
		encoding = XMLUni::fgUTF8EncodingString;
	return encoding;
}

}  // namespace

VError IXMLDomWrapper::WriteBagToDomXML(const VValueBag& bag, VXMLDOMNode_opaque* node, std::vector<VXMLDOMNode_opaque*>* nodes)
{
	return WriteBagToDomXMLElement(bag, GetNodeElement(node), nodes);
}

VError IXMLDomWrapper::WriteBagToDomXMLElement(const VValueBag& bag, VXMLDOMElement_opaque* element,
	std::vector<VXMLDOMNode_opaque*>* nodes)
{
	DOMElement* domElement = AsElement(element);
	if (domElement == nullptr)
	{
		_ThrowError(VE_INVALID_PARAMETER);
		return VE_INVALID_PARAMETER;
	}
	const VJSONStackBound bound(kDOMMinFreeStack);
	return WriteBag(bag, domElement, nodes, bound);
}

bool IXMLDomWrapper::SerializeToBlob(VXMLDOMNode_opaque* node, VBlob* blob, int offset, size_t& size, bool pretty)
{
	size = 0;
	DOMDocument* document = OwnerDocument(AsNode(node));
	if (document == nullptr || blob == nullptr || !HasStackForXercesWalk(document))
		return false;
	return Guarded<bool>([&]() {
		DOMImplementation* implementation = DOMImplementationRegistry::getDOMImplementation(u"LS");
		if (implementation == nullptr)
			return false;
		const XMLCh* encoding = EncodingOf(document);
		MemBufFormatTarget target(1023);
		auto releaser = [](auto* object) { object->release(); };
		std::unique_ptr<DOMLSSerializer, decltype(releaser)> serializer(implementation->createLSSerializer(), releaser);
		std::unique_ptr<DOMLSOutput, decltype(releaser)> output(implementation->createLSOutput(), releaser);
		DOMConfiguration* config = serializer->getDomConfig();
		config->setParameter(XMLUni::fgDOMWRTFormatPrettyPrint, pretty);
		config->setParameter(XMLUni::fgDOMWRTBOM, false);
		serializer->setNewLine(u"\n");
		output->setByteStream(&target);
		output->setEncoding(encoding);
		if (!serializer->write(document, output.get()))
			return false;
		return CopyMemBufFormatTargetToBlob(blob, offset, size, Handle(&target), VString(encoding), true);
	}, false);
}

bool IXMLDomWrapper::CopyMemBufFormatTargetToBlob(VBlob* blob, int offset, size_t& size,
	VXMLMemBufFormatTarget_opaque* target, const VString& encoding, bool convertLineEnds)
{
	size = 0;
	const MemBufFormatTarget* memTarget = AsTarget(target);
	if (blob == nullptr || memTarget == nullptr)
		return false;
	const uint8* bytes = memTarget->getRawBuffer();
	const size_t length = memTarget->getLen();
	const LineEnds ends = convertLineEnds ? LineEndsOf(encoding) : LineEnds();
	if (ends.width == 0)
	{
		if (blob->PutData(bytes, length, offset) != VE_OK)
			return false;
		size = length;
		return true;
	}
	// Converted a piece at a time: a second buffer of the document's size would cost as much again in fresh
	// pages as the serialisation itself.
	const size_t pieceSize = std::min<size_t>(kConversionPiece, std::max<size_t>(length, 4));
	uint8* converted = static_cast<uint8*>(VMemory::NewPtr(pieceSize, kConversionTag));
	if (converted == nullptr)
	{
		_ThrowError(kConversionBufferError);
		return false;
	}
	bool ok = true;
	size_t written = 0;
	for (size_t pos = 0; pos < length && ok;)
	{
		size_t take = std::min(pieceSize, length - pos);
		// A CR ending the piece waits for the next one, which may begin with its LF.
		if (pos + take < length && take > ends.width && std::memcmp(bytes + pos + take - ends.width, ends.cr, ends.width) == 0)
			take -= ends.width;
		const size_t piece = ConvertLineEnds(bytes + pos, take, converted, ends);
		ok = int64(offset) + int64(written) <= INT32_MAX && blob->PutData(converted, piece, offset + int(written)) == VE_OK;
		written += piece;
		pos += take;
	}
	VMemory::DisposePtr(converted);
	if (ok)
		size = written;
	return ok;
}

bool IXMLDomWrapper::SerializeToFile(VXMLDOMNode_opaque* node, VFileStream& stream, size_t& size, bool pretty)
{
	VBlobWithPtr blob;
	if (!SerializeToBlob(node, &blob, 0, size, pretty))
		return false;
	return stream.PutData(blob.GetDataPtr(), blob.GetSize()) == VE_OK;
}

bool IXMLDomWrapper::WriteToFile(VXMLDOMNode_opaque* node, const VFile& file, bool pretty)
{
	VBlobWithPtr blob;
	size_t size = 0;
	if (!SerializeToBlob(node, &blob, 0, size, pretty))
		return false;
	// Truncated at opening: a longer file written before must not keep its tail after the new document.
	VFileStream stream(&file, FO_FOLLOW_LINK | FO_CREATE_IF_NOT_FOUND | FO_TRUNCATE);
	stream.SetCharSet(kCharSet_UTF8);
	if (stream.OpenWriting() != VE_OK)
		return false;
	stream.PutData(blob.GetDataPtr(), blob.GetSize());
	return stream.CloseWriting(true) == VE_OK;
}

}  // namespace velk
