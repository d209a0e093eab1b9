#include "kernel/memory/VLeaksChecker.h"

#include <locale.h>
#include <time.h>

#include "kernel/memory/mac/XMacLeaksChecker.h"
#include "runtime/mac/XMacStackCrawl.h"

namespace velk {

namespace {

constexpr uint32 kCrawlFrames = 8;
// The longest file-system path the bundle's location may take.
constexpr size_t kMaxPathBytes = 4096;

// The local date and time, in English whatever the process locale says.
void WriteDateLine(FILE* file)
{
	const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t(0));
	if (c == locale_t(0))
		return;
	const time_t now = ::time(nullptr);
	struct tm local {};
	char text[256];
	size_t length = 0;
	if (::localtime_r(&now, &local) != nullptr)
		length = ::strftime_l(text, sizeof(text), "%A, %B %d, %Y %I:%M:%S %p\n", &local, c);
	::freelocale(c);
	std::fwrite(text, 1, length, file);
}

}  // namespace

bool VLeaksChecker::SetLeaksCheck(bool on)
{
	return fCheck.exchange(on, std::memory_order_relaxed);
}

void VLeaksChecker::SetStackFramesToSkip(int32 count)
{
	fStackFramesToSkip.store(count < 0 ? 0 : count, std::memory_order_relaxed);
}

void VLeaksChecker::RegisterBlock(XMacStackCrawl& crawl)
{
	if (!fCheck.load(std::memory_order_relaxed))
		return;
	crawl.LoadFrames(uint32(fStackFramesToSkip.load(std::memory_order_relaxed)), kCrawlFrames);
	if (crawl.GetCount() > 0)
		fLeaksCount.fetch_add(1, std::memory_order_relaxed);
}

void VLeaksChecker::UnregisterBlock(XMacStackCrawl& crawl)
{
	if (crawl.GetCount() > 0)
		fLeaksCount.fetch_sub(1, std::memory_order_relaxed);
}

std::string VLeaksChecker::ComputeDumpFilePath(const std::string& bundlePath, const char* suffix)
{
	if (bundlePath.empty() || bundlePath.size() >= kMaxPathBytes || suffix == nullptr)
		return std::string();
	std::string path = bundlePath;
	while (path.size() > 1 && path.back() == '/')
		path.pop_back();
	// Only the last component's extension goes: a point in a folder name above it stays.
	const size_t slash = path.rfind('/');
	const size_t start = slash == std::string::npos ? 0 : slash + 1;
	const size_t dot = path.rfind('.');
	if (dot != std::string::npos && dot > start)
		path.erase(dot);
	return path + "." + suffix + ".leaks";
}

FILE* VLeaksChecker::OpenDumpFile(const char* suffix)
{
	std::string bundle;
	if (!XMacLeaksChecker::GetMainBundlePath(bundle))
		return nullptr;
	const std::string path = ComputeDumpFilePath(bundle, suffix);
	if (path.empty())
		return nullptr;
	FILE* file = std::fopen(path.c_str(), "w");
	if (file == nullptr)
		return nullptr;
	WriteDateLine(file);
	const int32 count = GetLeaksCount();
	if (count == 0)
		std::fputs("No memory leaks.\n", file);
	else if (count == 1)
		std::fputs("You have one leak:\n\n", file);
	else
		std::fprintf(file, "You have %i leaks:\n\n", int(count));
	return file;
}

}  // namespace velk
