// The walk that copies a whole folder tree, and the calls of TreeCopy.h built on it: tree copies and the
// moves that copy across file systems.
#include "platform/TreeCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/EntryCopy.h"
#include "platform/FileOperations.h"
#include "platform/FolderWalk.h"
#include "platform/Rename.h"
#include "platform/StDescriptor.h"
#include "platform/TreeRemoval.h"

namespace plat {

namespace {

using namespace copying;

constexpr unsigned kMaxWorkers = 4;
// How often one name may turn into another kind of entry under the walk before the copy gives up on it.
constexpr int kKindChanges = 8;

// 0 when path is a folder (not a link to one) with nothing in it; else ENOTDIR, ENOTEMPTY or the errno of
// the failed call.
int IsEmptyFolder(const std::string& path)
{
	const int folder = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
	if (folder < 0)
		return errno == ELOOP ? ENOTDIR : errno;
	std::vector<FolderEntry> entries;
	int result = ListFolder(folder, entries);
	if (result == 0 && !entries.empty())
		result = ENOTEMPTY;
	close(folder);
	return result;
}

std::string Join(const std::string& folder, const std::string& name)
{
	return folder.empty() ? name : folder + "/" + name;
}

// The folder part of a relative path, "" for an entry of the top.
std::string FolderOf(const std::string& relative)
{
	const size_t slash = relative.rfind('/');
	return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

std::string NameOf(const std::string& relative)
{
	const size_t slash = relative.rfind('/');
	return slash == std::string::npos ? relative : relative.substr(slash + 1);
}

// One copy of a folder tree. The walk lists the whole source first, relative to the folders it opened and
// never through a link, and writes nothing; then the folders, links and special files are made under the
// temporary root, relative to it; the files are copied on a few threads, largest first so that the big ones
// do not finish last on one thread, each opened below the source's top without following a link on the
// way; then links and folders get their metadata, once everything inside them is made. A copy not put into
// place is removed when the object goes.
class TreeCopier
{
public:
	enum class Placement
	{
		kRenamed,  // built aside, then renamed to to
		kInPlace,  // built at to itself
		kBeside,  // built aside and left there for the caller (TakeBuilt)
	};

	// from names the source; fromFolder, when not negative, is the source already open (the caller keeps it
	// open for the time of the copy), else from is opened, a final link followed.
	TreeCopier(const std::string& from, int fromFolder, const std::string& to, Placement placement = Placement::kRenamed)
		: fFrom(from)
		, fGivenFolder(fromFolder)
		, fTo(to)
		, fPlacement(placement)
	{
	}

	~TreeCopier()
	{
		if (fBuiltFd >= 0)
			close(fBuiltFd);
		if (fFromFd >= 0)
			close(fFromFd);
		if (!fBuilt.empty())
			RemoveBuiltTree(fBuilt);
	}

	TreeCopier(const TreeCopier&) = delete;
	TreeCopier& operator=(const TreeCopier&) = delete;

	// Hands over where a whole copy left aside stands (empty until Run succeeded), without throwing.
	void TakeBuilt(std::string& path) noexcept
	{
		path.swap(fKept);
	}

	int Run(bool replace, std::string* failedPath)
	{
		// A folder of its own: the caller's is read by its own walk meanwhile.
		fFromFd = fGivenFolder >= 0 ? openat(fGivenFolder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : open(fFrom.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
		if (fFromFd < 0)
			return Fail(errno, fFrom, failedPath);
		struct stat status;
		if (fstat(fFromFd, &status) != 0)
			return Fail(errno, fFrom, failedPath);
		struct stat existing;
		if (fPlacement != Placement::kInPlace && !replace && lstat(fTo.c_str(), &existing) == 0)
			return Fail(EEXIST, fTo, failedPath);
		fFolders.push_back(Entry{ std::string(), status, std::string() });
		if (int error = InjectedCopyFault(fFrom))
			return Fail(error, fFrom, failedPath);

		if (!Walk(fFromFd, std::string()) || !RefuseCopyIntoSource())
			return fFailure.Report(failedPath);
		int made = 0;
		if (fPlacement == Placement::kInPlace)
		{
			made = IsEmptyFolder(fTo);
			if (made == 0)
				fBuilt = fTo;
		}
		else
			made = CreateSibling(fTo, fBuilt, [](const std::string& path) { return mkdir(path.c_str(), 0700) == 0 ? 0 : errno; });
		if (made != 0)
		{
			fBuilt.clear();
			return Fail(made, fTo, failedPath);
		}
		fBuiltFd = open(fBuilt.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
		if (fBuiltFd < 0)
			return Fail(errno, fTo, failedPath);

		if (MakeEntries())
			CopyFiles();
		if (!fFailure.HasFailed())
			CopyFilesThatChanged();
		if (!fFailure.HasFailed())
			MakeHardLinks();
		if (!fFailure.HasFailed())
			FinishLinksAndFolders();
		if (fFailure.HasFailed())
			return fFailure.Report(failedPath);
		if (fPlacement != Placement::kRenamed)
		{
			fKept = fBuilt;
			fBuilt.clear();
			return fFailure.Report(failedPath);
		}
		if (int error = RenameIntoPlace(fBuilt, fTo, replace))
			return Fail(error, fTo, failedPath);
		fBuilt.clear();
		return fFailure.Report(failedPath);
	}

private:
	// An entry of the source by its path below the top ("" for the top), as the walk found it.
	struct Entry
	{
		std::string fRelative;
		struct stat fStatus;
		std::string fLinkText;  // a link's
	};

	struct FileIdentity
	{
		dev_t fDevice;
		ino_t fInode;

		bool operator<(const FileIdentity& other) const
		{
			return fDevice != other.fDevice ? fDevice < other.fDevice : fInode < other.fInode;
		}
	};

	struct HardLink
	{
		std::string fFirstCopy;  // the relative path of the entry's first name met
		Entry fEntry;
	};

	int Fail(int error, const std::string& path, std::string* failedPath)
	{
		fFailure.Set(error, path);
		return fFailure.Report(failedPath);
	}

	std::string FromPath(const std::string& relative) const
	{
		return relative.empty() ? fFrom : fFrom + "/" + relative;
	}

	std::string BuiltPath(const std::string& relative) const
	{
		return relative.empty() ? fBuilt : fBuilt + "/" + relative;
	}

	// Lists the folder open at folder (relative below the top) and everything below it. False on the first
	// failure, recorded.
	bool Walk(int folder, const std::string& relative)
	{
		std::vector<FolderEntry> listing;
		if (int error = ListFolder(folder, listing))
			return fFailure.Set(error, FromPath(relative));
		std::vector<std::string> folders;
		for (const FolderEntry& item : listing)
		{
			if (!Record(folder, item.name, Join(relative, item.name), folders))
				return false;
		}
		for (const std::string& name : folders)
		{
			const std::string child = Join(relative, name);
			if (!Enter(folder, name, child))
				return false;
		}
		return true;
	}

	// Enters the folder name of the folder open at folder, as it is now: a name that became a link or a
	// file since it was listed is recorded as what it is, never entered.
	bool Enter(int folder, const std::string& name, const std::string& relative)
	{
		for (int change = 0;; ++change)
		{
			StDescriptor child;
			const int error = OpenSubFolder(folder, name.c_str(), false, child.Out());
			if ((error == ELOOP || error == ENOTDIR) && change < kKindChanges)
			{
				std::vector<std::string> folders;
				if (!Record(folder, name, relative, folders))
					return false;
				if (folders.empty())
					return true;
				continue;
			}
			if (error != 0)
				return fFailure.Set(error, FromPath(relative));
			// The metadata of the folder walked, whatever the listing saw at its name.
			Entry entry{ relative, {}, std::string() };
			if (fstat(child.Get(), &entry.fStatus) != 0)
				return fFailure.Set(errno, FromPath(relative));
			fFolders.push_back(std::move(entry));
			return Walk(child.Get(), relative);
		}
	}

	// Records the entry name of the folder open at folder as what it is now; a folder is added to folders,
	// to be entered once its own folder is listed.
	bool Record(int folder, const std::string& name, const std::string& relative, std::vector<std::string>& folders)
	{
		Entry entry{ relative, {}, std::string() };
		if (fstatat(folder, name.c_str(), &entry.fStatus, AT_SYMLINK_NOFOLLOW) != 0)
			return fFailure.Set(errno, FromPath(relative));
		const mode_t type = entry.fStatus.st_mode & S_IFMT;
		if (type != S_IFDIR && type != S_IFLNK && entry.fStatus.st_nlink > 1)
		{
			// A further name of an entry already met: linked to its copy once the files are made.
			const auto first = fFirstCopies.emplace(FileIdentity{ entry.fStatus.st_dev, entry.fStatus.st_ino }, relative);
			if (!first.second)
			{
				fHardLinks.push_back(HardLink{ first.first->second, std::move(entry) });
				return true;
			}
		}
		if (type == S_IFREG)
			fFiles.push_back(std::move(entry));
		else if (type == S_IFDIR)
			folders.push_back(name);
		else if (type == S_IFLNK)
		{
			if (int error = ReadLinkTextAt(folder, name.c_str(), entry.fStatus, entry.fLinkText))
				return fFailure.Set(error, FromPath(relative));
			fLinks.push_back(std::move(entry));
		}
		else if (IsSpecialFile(type))
			fSpecials.push_back(std::move(entry));
		else
			return fFailure.Set(ENOTSUP, FromPath(relative));
		return true;
	}

	// Opens the source folder that holds relative, below the top, into holder, and sets at to it; at stays
	// the top for an entry of the top itself. 0 or the errno of the open.
	int OpenHolder(const std::string& relative, StDescriptor& holder, int& at) const
	{
		const std::string folderPath = FolderOf(relative);
		if (folderPath.empty())
			return 0;
		const int error = OpenBelow(fFromFd, folderPath.c_str(), O_PATH | O_DIRECTORY, 0, holder.Out());
		if (error == 0)
			at = holder.Get();
		return error;
	}

	// A copy made inside its own source would be walked into, and would change the source: the folder the
	// copy is made in may be no folder of the source.
	bool RefuseCopyIntoSource()
	{
		struct stat status;
		const std::string holder = fPlacement == Placement::kInPlace ? fTo : ParentFolderOf(fTo);
		if (stat(holder.c_str(), &status) != 0)
			return true;  // making the copy there fails and says why
		const bool inSource = std::any_of(fFolders.begin(), fFolders.end(), [&status](const Entry& folder) {
			return folder.fStatus.st_dev == status.st_dev && folder.fStatus.st_ino == status.st_ino;
		});
		if (inSource)
			return fFailure.Set(EINVAL, fTo);
		return true;
	}

	// The folders, links and special files, on this thread; false on the first failure, recorded.
	bool MakeEntries()
	{
		for (size_t i = 1; i < fFolders.size(); ++i)
		{
			const std::string& relative = fFolders[i].fRelative;
			if (mkdirat(fBuiltFd, relative.c_str(), 0700) != 0)
				return fFailure.Set(errno, FromPath(relative));
			if (int error = InjectedCopyFault(FromPath(relative)))
				return fFailure.Set(error, FromPath(relative));
		}
		for (const Entry& link : fLinks)
		{
			int error = symlinkat(link.fLinkText.c_str(), fBuiltFd, link.fRelative.c_str()) == 0 ? 0 : errno;
			if (error == 0)
				error = InjectedCopyFault(FromPath(link.fRelative));
			if (error != 0)
				return fFailure.Set(error, FromPath(link.fRelative));
		}
		for (const Entry& special : fSpecials)
		{
			int error = MakeSpecialFileAt(fBuiltFd, special.fRelative.c_str(), special.fStatus);
			if (error == 0)
				error = InjectedCopyFault(FromPath(special.fRelative));
			if (error != 0)
				return fFailure.Set(error, FromPath(special.fRelative));
		}
		return true;
	}

	void CopyFiles()
	{
		std::sort(fFiles.begin(), fFiles.end(), [](const Entry& a, const Entry& b) { return a.fStatus.st_size > b.fStatus.st_size; });
		const unsigned hardware = std::max(1u, std::thread::hardware_concurrency());
		const size_t wanted = std::min<size_t>({ kMaxWorkers, hardware, fFiles.size() });
		std::vector<std::thread> helpers;
		helpers.reserve(wanted);
		for (size_t i = 1; i < wanted; ++i)
		{
			try
			{
				helpers.emplace_back([this] { CopyFilesOnThisThread(); });
			}
			catch (...)
			{
				break;  // fewer threads do the same work
			}
		}
		CopyFilesOnThisThread();
		for (std::thread& helper : helpers)
			helper.join();
	}

	void CopyFilesOnThisThread() noexcept
	{
		size_t index = 0;
		try
		{
			Scratch scratch;
			while (!fFailure.HasFailed() && (index = fNextFile.fetch_add(1)) < fFiles.size())
			{
				const Entry& entry = fFiles[index];
				StDescriptor in;
				const int error = OpenBelow(fFromFd, entry.fRelative.c_str(), O_RDONLY | O_NONBLOCK, 0, in.Out());
				if (error == ELOOP)
				{
					// A link by now, or a folder on the way swapped for one: looked at again after the others.
					std::lock_guard<std::mutex> lock(fChangedMutex);
					fChanged.push_back(index);
				}
				else if (error != 0)
					fFailure.Set(error, FromPath(entry.fRelative));
				else if (int failed = CopyInto(in.Get(), entry.fRelative, scratch))
					fFailure.Set(failed, FromPath(entry.fRelative));
			}
		}
		catch (...)
		{
			fFailure.Set(ENOMEM, index < fFiles.size() ? FromPath(fFiles[index].fRelative) : fFrom);
		}
	}

	// Copies the regular file open at in to its place below the built root. The file's close is checked:
	// a write the disk refused late shows there.
	int CopyInto(int in, const std::string& relative, Scratch& scratch)
	{
		const int out = openat(fBuiltFd, relative.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
		if (out < 0)
			return errno;
		const int error = CopyOpenRegularFile(in, FromPath(relative), out, BuiltPath(relative), fMethods, scratch);
		const int closeError = RetryingClose(out);
		return error != 0 ? error : closeError;
	}

	// The files that could not be opened as files below the top: one that became a link is copied as the
	// link it is, one whose folder on the way became a link fails the copy (it is out of the tree's reach).
	void CopyFilesThatChanged()
	{
		Scratch scratch;
		for (const size_t index : fChanged)
		{
			const Entry& entry = fFiles[index];
			const std::string from = FromPath(entry.fRelative);
			StDescriptor folder;
			int at = fFromFd;
			int error = OpenHolder(entry.fRelative, folder, at);
			const std::string name = NameOf(entry.fRelative);
			Entry now{ entry.fRelative, {}, std::string() };
			if (error == 0 && fstatat(at, name.c_str(), &now.fStatus, AT_SYMLINK_NOFOLLOW) != 0)
				error = errno;
			if (error == 0 && S_ISLNK(now.fStatus.st_mode))
			{
				error = ReadLinkTextAt(at, name.c_str(), now.fStatus, now.fLinkText);
				if (error == 0)
					error = symlinkat(now.fLinkText.c_str(), fBuiltFd, now.fRelative.c_str()) == 0 ? 0 : errno;
				if (error == 0)
					error = InjectedCopyFault(from);
				if (error == 0)
					fLinks.push_back(std::move(now));
			}
			else if (error == 0 && S_ISREG(now.fStatus.st_mode))
			{
				StDescriptor in(openat(at, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
				error = in.Get() < 0 ? errno : CopyInto(in.Get(), entry.fRelative, scratch);
			}
			else if (error == 0)
				error = ENOTSUP;
			if (error != 0)
			{
				fFailure.Set(error, from);
				return;
			}
		}
	}

	// The copies share their metadata with the first copy, which has it already.
	void MakeHardLinks()
	{
		for (const HardLink& hardLink : fHardLinks)
		{
			const std::string& relative = hardLink.fEntry.fRelative;
			int error = linkat(fBuiltFd, hardLink.fFirstCopy.c_str(), fBuiltFd, relative.c_str(), 0) == 0 ? 0 : errno;
			if (error == 0)
				error = InjectedCopyFault(FromPath(relative));
			if (error != 0)
			{
				fFailure.Set(error, FromPath(relative));
				return;
			}
		}
	}

	// Links and special files are reached by path through the folders the copy holds open, so that a folder
	// of the source swapped meanwhile is not read; folders through their own descriptors.
	void FinishLinksAndFolders()
	{
		Scratch scratch;
		for (const std::vector<Entry>* entries : { &fSpecials, &fLinks })
		{
			for (const Entry& entry : *entries)
			{
				StDescriptor folder;
				int at = fFromFd;
				int error = OpenHolder(entry.fRelative, folder, at);
				const std::string from = PathBelow(at, NameOf(entry.fRelative), FromPath(entry.fRelative));
				const std::string to = PathBelow(fBuiltFd, entry.fRelative, BuiltPath(entry.fRelative));
				if (error == 0)
					error = CopyMetadata(-1, from.c_str(), -1, to.c_str(), entry.fStatus, scratch);
				if (error != 0)
				{
					fFailure.Set(error, FromPath(entry.fRelative));
					return;
				}
			}
		}
		for (auto folder = fFolders.rbegin(); folder != fFolders.rend(); ++folder)
		{
			const std::string& relative = folder->fRelative;
			StDescriptor from;
			StDescriptor to;
			int error = 0;
			if (!relative.empty())
			{
				error = OpenBelow(fFromFd, relative.c_str(), O_RDONLY | O_DIRECTORY, 0, from.Out());
				if (error == 0 && (to.Out() = openat(fBuiltFd, relative.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) < 0)
					error = errno;
			}
			const int fromFd = relative.empty() ? fFromFd : from.Get();
			const int toFd = relative.empty() ? fBuiltFd : to.Get();
			if (error == 0)
				error = CopyMetadata(fromFd, FromPath(relative).c_str(), toFd, BuiltPath(relative).c_str(), folder->fStatus, scratch);
			if (error != 0)
			{
				fFailure.Set(error, FromPath(relative));
				return;
			}
		}
	}

	const std::string fFrom;
	const int fGivenFolder;
	const std::string fTo;
	const Placement fPlacement;
	int fFromFd = -1;
	std::string fBuilt;  // the temporary root while it is ours to remove
	int fBuiltFd = -1;
	std::string fKept;  // the whole copy, once the caller owns it
	std::vector<Entry> fFolders;  // parents before their children, the top first
	std::vector<Entry> fFiles;
	std::vector<Entry> fLinks;
	std::vector<Entry> fSpecials;
	std::map<FileIdentity, std::string> fFirstCopies;  // entries with several names, by their first name met
	std::vector<HardLink> fHardLinks;
	std::atomic<size_t> fNextFile{0};
	std::mutex fChangedMutex;
	std::vector<size_t> fChanged;  // files that were links, or out of reach, when opened
	CopyMethods fMethods;
	Failure fFailure;
};

int MoveByCopy(const std::string& from, const std::string& to, bool replace, std::string* failedPath)
{
	struct stat status;
	if (lstat(from.c_str(), &status) != 0)
	{
		if (failedPath != nullptr)
			*failedPath = from;
		return errno;
	}
	int error = 0;
	if (S_ISDIR(status.st_mode))
	{
		// The folder itself, not what a link put at its name since would lead to.
		StDescriptor folder(open(from.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
		if (folder.Get() < 0)
		{
			if (failedPath != nullptr)
				*failedPath = from;
			return errno;
		}
		TreeCopier copier(from, folder.Get(), to);
		error = copier.Run(replace, failedPath);
	}
	else
		error = CopyOneFile(CopySource{ AT_FDCWD, from, from }, to, replace, failedPath);
	if (error != 0)
		return error;
	RemovalFailure failure;
	error = RemoveTree(from.c_str(), RemovalOptions(), &failure);
	if (error != 0 && failedPath != nullptr)
		*failedPath = failure.path;
	return error;
}

int CopyTreeTo(const char* from, int fromFolder, const char* to, TreeCopier::Placement placement, std::string* staging, std::string* failedPath)
{
	return WithoutExceptions(from, failedPath, [&] {
		TreeCopier copier(WithoutTrailingSlashes(from), fromFolder, WithoutTrailingSlashes(to), placement);
		const int error = copier.Run(placement == TreeCopier::Placement::kBeside, failedPath);
		if (staging != nullptr)
			copier.TakeBuilt(*staging);
		return error;
	});
}

}  // namespace

int CopyTree(const char* from, const char* to, std::string* failedPath)
{
	return CopyTreeTo(from, -1, to, TreeCopier::Placement::kRenamed, nullptr, failedPath);
}

int CopyTreeFrom(int fromFolder, const char* from, const char* to, std::string* failedPath)
{
	return CopyTreeTo(from, fromFolder, to, TreeCopier::Placement::kRenamed, nullptr, failedPath);
}

int CopyTreeInPlace(const char* from, const char* to, std::string* failedPath)
{
	return CopyTreeTo(from, -1, to, TreeCopier::Placement::kInPlace, nullptr, failedPath);
}

int CopyTreeBeside(const char* from, const char* to, std::string& staging, std::string* failedPath)
{
	staging.clear();
	return CopyTreeTo(from, -1, to, TreeCopier::Placement::kBeside, &staging, failedPath);
}

int CopyTreeBesideFrom(int fromFolder, const char* from, const char* to, std::string& staging, std::string* failedPath)
{
	staging.clear();
	return CopyTreeTo(from, fromFolder, to, TreeCopier::Placement::kBeside, &staging, failedPath);
}

int MovePath(const char* from, const char* to, bool replace, std::string* failedPath)
{
	return WithoutExceptions(from, failedPath, [&] {
		const std::string source = WithoutTrailingSlashes(from);
		const std::string target = WithoutTrailingSlashes(to);
		const int error = replace ? RenameReplacing(source.c_str(), target.c_str()) : RenameExclusive(source.c_str(), target.c_str());
		if (error != EXDEV)
		{
			if (failedPath != nullptr)
				*failedPath = error != 0 ? source : std::string();
			return error;
		}
		return MoveByCopy(source, target, replace, failedPath);
	});
}

}  // namespace plat
