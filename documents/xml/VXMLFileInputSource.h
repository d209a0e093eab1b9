// What Xerces reads a file through: a descriptor the file layer opened, so that the path never passes
// through Xerces's own transcoding (which loses names outside the locale's character set). The system
// identifier is the file's POSIX path.
#pragma once

#include <string>

#include <xercesc/sax/InputSource.hpp>
#include <xercesc/util/BinInputStream.hpp>

#include "kernel/memory/VRefPtr.h"

namespace velk {

class VFile;
class VFileDesc;

// The bytes of an open file, from its start; a read failure ends the stream (the file error is pushed).
class VXMLFileInputStream : public xercesc::BinInputStream
{
public:
	// Takes desc.
	explicit VXMLFileInputStream(VFileDesc* desc);
	~VXMLFileInputStream() override;

	VXMLFileInputStream(const VXMLFileInputStream&) = delete;
	VXMLFileInputStream& operator=(const VXMLFileInputStream&) = delete;

	XMLFilePos curPos() const override { return fPos; }
	XMLSize_t readBytes(XMLByte* const toFill, const XMLSize_t maxToRead) override;
	const XMLCh* getContentType() const override { return nullptr; }

private:
	VFileDesc* fDesc;  // owned
	XMLFilePos fPos = 0;
};

class VXMLFileInputSource : public xercesc::InputSource
{
public:
	// Opens the file when Xerces asks for its stream. The path is the system identifier.
	explicit VXMLFileInputSource(VFile* file);
	// Hands Xerces an already open desc (taken) the first time it asks.
	VXMLFileInputSource(VFile* file, VFileDesc* desc);
	~VXMLFileInputSource() override;

	VXMLFileInputSource(const VXMLFileInputSource&) = delete;
	VXMLFileInputSource& operator=(const VXMLFileInputSource&) = delete;

	// Null when the file cannot be opened (the file error pushed): Xerces then reports a fatal error.
	xercesc::BinInputStream* makeStream() const override;

private:
	VRefPtr<VFile> fFile;
	mutable VFileDesc* fDesc;  // owned until the first stream takes it
};

}  // namespace velk
