// A value bag as an XML document: written to a file or a stream (VValueBag::DumpXML behind a declaration),
// and read back from a file, a text or a stream through the bag handlers (VXMLBagHandler). Reading keeps
// the structure, not the kinds: every attribute comes back as a text value, and line ends in character
// data come back as line feeds.
#pragma once

#include "kernel/VExport.h"

#include "kernel/strings/VString.h"
#include "runtime/VError.h"

namespace velk {

class IFile;
class VFolder;
class VStream;
class VValueBag;

// Writes the bag as the file's whole content, UTF-8 behind "<?xml version="1.0" encoding="UTF-8"?>", the
// document element named rootName. A null file: 0, nothing written. When the file cannot be written it is
// deleted (a former content is not left to pass for the bag) and the write's error is returned.
VELK_API VError WriteBagToFileInXML(const VValueBag& bag, const VString& rootName, IFile* file, bool indented);

// Writes a 32-bit 1 in the stream's byte order, then the UTF-16 document (root "bag", not indented) as a
// string's stream form. Answers the stream's error; velk 3 for a null stream. A bag whose text cannot be
// made (memory, velk 108 for a tree nested deeper than the free stack allows) writes nothing and answers
// that error.
VELK_API VError WriteBagToStreamInXML(const VValueBag& bag, VStream* stream);

// Reads what WriteBagToStreamInXML wrote into the bag. A first word other than 1 answers 0 and reads
// nothing more. Answers the stream's error, else the parse's last error (('xmlc', 3) for a text that is
// not a document), raised on the calling task; velk 3 for a null stream. After a parse error the bag keeps
// what was read before it.
VELK_API VError ReadBagFromStreamInXML(VValueBag& bag, VStream* stream);

// Reads the document's element rootName (empty: whatever the document element is) into the bag: its
// attributes as text values (replacing those of the same name), its character data appended to the CDATA,
// its child elements appended to the lists of their names. A document element of another name leaves the
// bag as it was and answers 0. With both entityBasePath and an existing entityFolder, external entities
// whose system identifiers begin with the path are read from the folder. flags are the parser's
// (XMLParseFlags). Answers the last error the parse raised (kept on the calling task), 0 when none; after
// an error the bag keeps what was read before it.
VELK_API VError LoadBagFromXML(const VString& xmlText, const VString& rootName, VValueBag& bag, uint32 flags, const VString* entityBasePath = nullptr, VFolder* entityFolder = nullptr);
// The same from a file; a null file answers velk 3 (raised).
VELK_API VError LoadBagFromXML(IFile* file, const VString& rootName, VValueBag& bag, uint32 flags, const VString* entityBasePath = nullptr, VFolder* entityFolder = nullptr);

}  // namespace velk
