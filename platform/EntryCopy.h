// The pieces of a copy that the copy of one file and the walk that copies a whole tree share: the failure
// a copy reports, the copy of a regular file's bytes and metadata, links and special files, the hidden
// sibling a copy is built under, and the test faults. Internal to the platform layer (TreeCopy.h is the
// interface).
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/StDescriptor.h"

namespace plat::copying {

// Where a copy failed: the first failure wins, whichever thread meets it.
class Failure
{
public:
	// Answers false, so that a walk can record its failure and stop in one step.
	bool Set(int error, const std::string& path)
	{
		std::lock_guard<std::mutex> lock(fMutex);
		if (fError == 0)
		{
			fError = error;
			fPath = path;
		}
		fFailed.store(true, std::memory_order_relaxed);
		return false;
	}

	bool HasFailed() const
	{
		return fFailed.load(std::memory_order_relaxed);
	}

	int Report(std::string* failedPath)
	{
		if (failedPath != nullptr)
			*failedPath = fError != 0 ? fPath : std::string();
		return fError;
	}

private:
	std::mutex fMutex;
	std::atomic<bool> fFailed{false};
	int fError = 0;
	std::string fPath;
};

// What the file systems of one copy turned out to refuse, so later files skip it.
struct CopyMethods
{
	std::atomic<bool> fNoClone{false};
	std::atomic<bool> fNoRangeCopy{false};
};

// Buffers a copying thread reuses from file to file.
struct Scratch
{
	std::vector<char> fNames;
	std::vector<char> fValue;
	std::vector<char> fBytes;
};

// The entry a copy reads: name in the folder open at folder (AT_FDCWD: name is a path), path naming it in
// failures and test faults.
struct CopySource
{
	int folder;
	std::string name;
	std::string path;
};

// The error the test build's faults arm for the copy of the entry at source (its path); 0 elsewhere.
int InjectedCopyFault(const std::string& source);

// Copies the owner, the extended attributes, the mode and the times of status onto the entry at to, through
// the descriptors where they are given (>= 0), else by the paths (a link not followed).
int CopyMetadata(int fromFd, const char* from, int toFd, const char* to, const struct stat& status, Scratch& scratch);

// Copies the regular file open at in (from names it) into out, a new file at to: bytes, then metadata. The
// file must still be a regular file (ENOTSUP).
int CopyOpenRegularFile(int in, const std::string& from, int out, const std::string& to, CopyMethods& methods, Scratch& scratch);

// The text of the link name in the folder open at folder, whose lstat status is given.
int ReadLinkTextAt(int folder, const char* name, const struct stat& status, std::string& text);

bool IsSpecialFile(mode_t mode);

// Makes name in the folder open at folder a new FIFO, socket or device like the one whose status is given.
int MakeSpecialFileAt(int folder, const char* name, const struct stat& status);

// Copies the file, link or special entry from to to: see CopyFile (TreeCopy.h).
int CopyOneFile(const CopySource& from, const std::string& to, bool replace, std::string* failedPath);

// The path without its trailing slashes ("/" stays).
std::string WithoutTrailingSlashes(const char* path);

// Removes a tree (or a file) a copy built, whatever the modes it was given; best effort.
void RemoveBuiltTree(const std::string& path) noexcept;

int RenameIntoPlace(const std::string& built, const std::string& target, bool replace);

// Makes a new entry beside target under a name no other copy picks (the process id and a counter):
// create(name) answers 0 or an errno, EEXIST asking for another name, and makes nothing when it fails. On
// failure sibling is empty.
template <typename Create>
int CreateSibling(const std::string& target, std::string& sibling, Create create)
{
	static std::atomic<unsigned> sCounter{0};
	const size_t slash = target.rfind('/');
	const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
	int error = EEXIST;
	for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt)
	{
		char name[64];
		std::snprintf(name, sizeof(name), ".velk-copy-%ld-%u", long(getpid()), sCounter.fetch_add(1));
		sibling = folder + name;
		error = create(sibling);
	}
	// Nothing was made: the name left is not ours to remove.
	if (error != 0)
		sibling.clear();
	return error;
}

// Nothing may escape the platform layer: running out of memory is answered as ENOMEM.
template <typename Work>
int WithoutExceptions(const char* path, std::string* failedPath, Work work) noexcept
{
	try
	{
		return work();
	}
	catch (...)
	{
		try
		{
			if (failedPath != nullptr)
				*failedPath = path;
		}
		catch (...)
		{
		}
		return ENOMEM;
	}
}

}  // namespace plat::copying
