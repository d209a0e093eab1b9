#include "runtime/mac/XMacProcess.h"

#include <string>

#include "kernel/strings/VString.h"
#include "platform/MainBundle.h"

namespace velk {

namespace {

// Paths and dictionary values are UTF-8 bytes.
void AssignUTF8(const std::string& text, VString& out)
{
	out.FromBlock(text.data(), text.size(), 7);
}

}  // namespace

bool XMacProcess::GetExecutablePath(VString& path)
{
	const std::string executable = plat::GetMainExecutablePath();
	if (executable.empty())
		return false;
	AssignUTF8(executable, path);
	return true;
}

bool XMacProcess::GetMainBundlePath(VString& path)
{
	const std::string bundle = plat::GetMainBundlePath();
	if (bundle.empty())
		return false;
	AssignUTF8(bundle, path);
	return true;
}

bool XMacProcess::GetMainBundleName(VString& name)
{
	VString value;
	if (!GetMainBundleInfoString("CFBundleName", value) || value.IsEmpty())
		return false;
	name = value;
	return true;
}

bool XMacProcess::GetMainBundleInfoString(const char* key, VString& value)
{
	std::string text;
	if (!plat::GetMainBundleInfoString(key, text))
		return false;
	AssignUTF8(text, value);
	return true;
}

}  // namespace velk
