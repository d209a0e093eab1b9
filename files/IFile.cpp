#include "files/IFile.h"

#include "files/VFilePath.h"
#include "kernel/intl/VTextConverters.h"
#include "kernel/json/VJSONImporter.h"
#include "kernel/json/VJSONValue.h"
#include "kernel/memory/VMemoryBuffer.h"
#include "runtime/StErrorContextInstaller.h"

namespace velk {

namespace {

constexpr VError kNoConverter = MakeVError(kVELK_SIGNATURE, 208);
constexpr VError kConversionFailed = MakeVError(kVELK_SIGNATURE, 300);
constexpr uint32 kIndentedText = 1 | 8;  // names and strings quoted, nested values indented

}  // namespace

VError IFile::GetContentAsString(VString& text, CharSet charSet, ECarriageReturnMode mode) const
{
	StErrorContextInstaller scope(true, false);
	VMemoryBuffer<> content;
	if (GetContent(content) != VE_OK)
	{
		text.Clear();
		return scope.GetLastError();
	}
	text.FromBlockWithOptionalBOM(content.GetDataPtr(), size_t(content.GetDataSize()), charSet);
	text.ConvertCarriageReturns(mode);
	return scope.GetLastError();
}

VError IFile::SetContentAsString(const VString& text, CharSet charSet, ECarriageReturnMode mode, bool withBOM) const
{
	StErrorContextInstaller scope(true, false);
	VString converted(text);
	converted.ConvertCarriageReturns(mode);
	// A copy or conversion that memory refused (velk 107) would write the wrong text.
	if (scope.GetLastError() != VE_OK)
		return scope.GetLastError();

	VFromUnicodeConverter* converter = VTextConverters::Get()->RetainFromUnicodeConverter(charSet);
	if (!converter->IsValid())
	{
		converter->Release();
		_ThrowError(kNoConverter);
		return scope.GetLastError();
	}
	VMemoryBuffer<> bytes;
	size_t bomSize = 0;
	const uint8* bom = withBOM && !converted.IsEmpty() ? VTextConverters::GetBOMForCharSet(charSet, &bomSize) : nullptr;
	bool ready = bytes.AddData(bom, bomSize);
	if (!ready)
		_ThrowError(VE_MEMORY_FULL);
	else if (!converter->ConvertToBuffer(converted.GetCPointer(), converted.GetLength(), bytes, 0))
	{
		ready = false;
		// A converter that stops on its own error raises nothing: the write still fails with a code.
		if (scope.GetLastError() == VE_OK)
			_ThrowError(kConversionFailed);
	}
	converter->Release();
	if (ready)
		SetContent(bytes.GetDataPtr(), size_t(bytes.GetDataSize()));
	return scope.GetLastError();
}

void IFile::GetNameWithoutExtension(VString& name) const
{
	GetPath().GetFileName(name, false);
}

VError IFile::GetContentAsJSON(VJSONValue& value, CharSet charSet) const
{
	VString text;
	const VError error = GetContentAsString(text, charSet, eCRM_NONE);
	if (error != VE_OK)
		return error;
	VJSONImporter importer(text, VJSONImporter::kBangDates | VJSONImporter::kNonAmbiguousDates);
	return importer.Parse(value);
}

VError IFile::SetContentAsJSON(const VJSONValue& value, CharSet charSet, ECarriageReturnMode mode, bool withBOM) const
{
	VString text;
	const VError error = value.Stringify(text, kIndentedText);
	if (error != VE_OK)
		return error;
	return SetContentAsString(text, charSet, mode, withBOM);
}

VError IFile::CopyContentTo(IFile* dest) const
{
	VMemoryBuffer<> content;
	const VError error = GetContent(content);
	if (error != VE_OK || dest == nullptr)
		return error;
	return dest->SetContent(content.GetDataPtr(), size_t(content.GetDataSize()));
}

}  // namespace velk
