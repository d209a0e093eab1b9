// What tests of file operations set up beyond plain files: sockets left as names, a process without one of
// its capabilities, file systems of their own (a small memory volume, a folder bound elsewhere), and another
// thread that keeps swapping two entries under a walk. Header only; mounting needs root and is refused
// elsewhere, which the tests check and skip.
#pragma once

#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <stdio.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>

namespace velk::test {

// A socket's name in the file system, with nobody listening on it any more.
inline bool MakeSocketFile(const std::string& path)
{
	const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
	sockaddr_un address{};
	address.sun_family = AF_UNIX;
	if (descriptor < 0 || path.size() >= sizeof(address.sun_path))
	{
		if (descriptor >= 0)
			::close(descriptor);
		return false;
	}
	std::strcpy(address.sun_path, path.c_str());
	const bool bound = ::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
	::close(descriptor);
	return bound;
}

// Drops one capability from the calling process's effective set (a child's: the test's own stays whole).
inline bool DropEffectiveCapability(int capability)
{
	__user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
	__user_cap_data_struct data[2] = {};
	if (::syscall(SYS_capget, &header, data) != 0)
		return false;
	data[capability / 32].effective &= ~(1u << (capability % 32));
	return ::syscall(SYS_capset, &header, data) == 0;
}

// Every entry below top, mounts crossed and links not followed: a file's bytes, "link <text>" for a link,
// "dir" for a folder, "other" for anything else. Empty when nothing stands at top.
inline std::map<std::string, std::string> SnapshotTree(const std::string& top)
{
	namespace fs = std::filesystem;
	std::map<std::string, std::string> entries;
	std::error_code error;
	if (!fs::exists(fs::symlink_status(top, error)))
		return entries;
	for (const fs::directory_entry& entry : fs::recursive_directory_iterator(top, error))
	{
		const std::string relative = entry.path().lexically_relative(top).string();
		if (entry.is_symlink())
			entries[relative] = "link " + fs::read_symlink(entry.path()).string();
		else if (entry.is_regular_file())
		{
			std::ifstream in(entry.path());
			entries[relative] = std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
		}
		else
			entries[relative] = entry.is_directory() ? "dir" : "other";
	}
	return entries;
}

// A file system of its own at folder for as long as the object lives: a memory volume of the given size
// ("256k", "2m"), or, with a source, that folder bound there. IsMounted says whether the system allowed it.
class StTemporaryVolume
{
public:
	StTemporaryVolume(const std::string& folder, const std::string& size, const std::string& boundFolder = std::string())
		: fFolder(folder)
	{
		std::filesystem::create_directories(folder);
		fMounted = boundFolder.empty()
			? ::mount("tmpfs", folder.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0
			: ::mount(boundFolder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0;
	}
	~StTemporaryVolume()
	{
		if (fMounted)
			::umount2(fFolder.c_str(), MNT_DETACH);
	}
	StTemporaryVolume(const StTemporaryVolume&) = delete;
	StTemporaryVolume& operator=(const StTemporaryVolume&) = delete;

	bool IsMounted() const { return fMounted; }

private:
	std::string fFolder;
	bool fMounted = false;
};

// Exchanges the entries at first and second (renameat2 with RENAME_EXCHANGE) again and again on a thread of
// its own for as long as the object lives, as another process racing a walk would. Made, it waits (at most
// a second) until the first exchange went through, so the walk that follows starts mid-race.
class StEntrySwapper
{
public:
	StEntrySwapper(const std::string& first, const std::string& second)
		: fFirst(first)
		, fSecond(second)
		, fThread([this] { Run(); })
	{
		const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
		while (fSwaps.load() == 0 && std::chrono::steady_clock::now() < deadline)
			std::this_thread::yield();
	}
	~StEntrySwapper()
	{
		fStop.store(true);
		fThread.join();
	}
	StEntrySwapper(const StEntrySwapper&) = delete;
	StEntrySwapper& operator=(const StEntrySwapper&) = delete;

	int Swaps() const { return fSwaps.load(); }

private:
	void Run()
	{
		while (!fStop.load(std::memory_order_relaxed))
		{
			if (::renameat2(AT_FDCWD, fFirst.c_str(), AT_FDCWD, fSecond.c_str(), RENAME_EXCHANGE) == 0)
				fSwaps.fetch_add(1, std::memory_order_relaxed);
			else
				::sched_yield();  // one of them is gone: nothing left to race
		}
	}

	const std::string fFirst;
	const std::string fSecond;
	std::atomic<bool> fStop{false};
	std::atomic<int> fSwaps{0};
	std::thread fThread;  // last: it runs once the rest is made
};

}  // namespace velk::test
