// Xerces reads files through the file layer's descriptors.
#include "documents/xml/VXMLFileInputSource.h"

#include "files/VFile.h"
#include "files/VFileDesc.h"

namespace velk {

VXMLFileInputStream::VXMLFileInputStream(VFileDesc* desc)
	: fDesc(desc)
{
}

VXMLFileInputStream::~VXMLFileInputStream()
{
	delete fDesc;
}

XMLSize_t VXMLFileInputStream::readBytes(XMLByte* const toFill, const XMLSize_t maxToRead)
{
	size_t read = 0;
	// A short read (velk 200, not pushed) is the end of the file; a failure pushed its file error and ends
	// the stream too.
	fDesc->GetDataAtPos(toFill, maxToRead, 0, &read);
	fPos += read;
	return read;
}

VXMLFileInputSource::VXMLFileInputSource(VFile* file)
	: VXMLFileInputSource(file, nullptr)
{
}

VXMLFileInputSource::VXMLFileInputSource(VFile* file, VFileDesc* desc)
	: fFile(file), fDesc(desc)
{
	VString path;
	file->GetPlatformPath(path, FPS_POSIX);
	const std::u16string systemID(path.GetCPointer(), size_t(path.GetLength()));
	setSystemId(systemID.c_str());
}

VXMLFileInputSource::~VXMLFileInputSource()
{
	delete fDesc;
}

xercesc::BinInputStream* VXMLFileInputSource::makeStream() const
{
	VFileDesc* desc = fDesc;
	fDesc = nullptr;
	if (desc == nullptr && fFile->Open(FA_READ, &desc) != VE_OK)
		return nullptr;
	return new (getMemoryManager()) VXMLFileInputStream(desc);
}

}  // namespace velk
