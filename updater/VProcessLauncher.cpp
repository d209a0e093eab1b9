#include "updater/VProcessLauncher.h"

#include <new>

#include "files/VFilePath.h"
#include "runtime/StThrowError.h"
#include "updater/mac/XPosixProcessLauncher.h"

namespace velk {

VProcessLauncher::VProcessLauncher() : fLauncher(new XPosixProcessLauncher)
{
}

VProcessLauncher::~VProcessLauncher()
{
	delete fLauncher;
}

VError VProcessLauncher::ExecuteCommandLine(const VString& commandLine, int32 options,
	const VMemoryBuffer<>* standardInput, VMemoryBuffer<>* standardOutput, VMemoryBuffer<>* standardError,
	const VEnvironmentVariables* environment, const VFilePath* defaultDirectory, int32* exitStatus,
	VProcessLauncher** launcher, const std::vector<VString>* extraArguments, bool quoteArgumentsIfNeeded,
	bool processTreeKill)
{
	if (exitStatus != nullptr)
		*exitStatus = 0;
	if (launcher != nullptr)
		*launcher = nullptr;
	const bool capture = (options & kDONT_WAIT_AND_CAPTURE) == 0;
	VProcessLauncher* process = new (std::nothrow) VProcessLauncher;
	if (process == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return VE_MEMORY_FULL;
	}
	process->CreateArgumentsFromFullCommandLine(commandLine);
	if (environment != nullptr)
		process->SetEnvironmentVariables(*environment);
	if (defaultDirectory != nullptr)
		process->SetDefaultDirectory(*defaultDirectory);
	if (!capture)
		process->SetWaitClosingChildProcess(0);
	process->SetQuoteArgumentsIfNeeded(quoteArgumentsIfNeeded);
	if (extraArguments != nullptr)
	{
		for (const VString& argument : *extraArguments)
			process->AddArgument(argument);
	}
	if (processTreeKill)
		process->EnableProcessTreeKill(true);

	VError result = VE_OK;
	const int32 started = process->Start();
	if (started != 0)
	{
		result = started > 0 ? MakePosixError(started) : VE_UNKNOWN_ERROR;
	}
	else
	{
		const void* input = standardInput != nullptr ? standardInput->GetDataPtr() : nullptr;
		const size_t inputLength = standardInput != nullptr ? size_t(standardInput->GetDataSize()) : 0;
		if (capture)
		{
			result = process->fLauncher->FeedAndReadStd(input, inputLength, standardOutput, standardError);
			if (result != VE_OK)
				_ThrowError(result);
		}
		else
		{
			if (input != nullptr && inputLength > 0)
				process->WriteToChild(input, uint32(inputLength), false);
			process->CloseStandardInput();
		}
		if (launcher == nullptr)
		{
			if (process->Shutdown(false, processTreeKill) == 0)
			{
				if (exitStatus != nullptr)
					*exitStatus = process->GetExitStatus();
			}
			else if (result == VE_OK)
			{
				result = VE_TIMEOUT;
			}
		}
	}
	if (launcher != nullptr && started == 0)
		*launcher = process;
	else
		delete process;
	return result;
}

void VProcessLauncher::RegisterSystemCommand(const VString& name, const VString& absolutePath)
{
	XPosixProcessLauncher::RegisterSystemCommand(to_string(name), to_string(absolutePath));
}

void VProcessLauncher::UnregisterSystemCommand(const VString& name)
{
	XPosixProcessLauncher::UnregisterSystemCommand(to_string(name));
}

void VProcessLauncher::SetDefaultDirectory(const VFilePath& folder)
{
	VString posixPath;
	folder.GetPosixPath(posixPath);
	fLauncher->SetDefaultDirectory(posixPath);
}

void VProcessLauncher::SetEnvironmentVariable(const VString& name, const VString& value)
{
	fLauncher->SetEnvironmentVariable(name, value);
}

void VProcessLauncher::SetEnvironmentVariables(const VEnvironmentVariables& variables)
{
	fLauncher->SetEnvironmentVariables(variables);
}

void VProcessLauncher::SetBinaryPath(const VString& path)
{
	fLauncher->SetBinaryPath(path);
}

int32 VProcessLauncher::CreateArgumentsFromFullCommandLine(const VString& commandLine)
{
	return fLauncher->CreateArgumentsFromFullCommandLine(commandLine);
}

void VProcessLauncher::AddArgument(const VString& argument)
{
	fLauncher->AddArgument(argument);
}

void VProcessLauncher::AddArgument(const VString& argument, bool quote)
{
	if (!quote)
	{
		fLauncher->AddArgument(argument);
		return;
	}
	VString quoted("\"");
	quoted.AppendUniChars(argument.GetCPointer(), argument.GetLength());
	quoted.AppendUniChar(UniChar('"'));
	fLauncher->AddArgument(quoted);
}

void VProcessLauncher::ClearArguments()
{
	fLauncher->ClearArguments();
}

void VProcessLauncher::SetWaitClosingChildProcess(int32 milliseconds)
{
	fLauncher->SetWaitClosingChildProcess(milliseconds);
}

void VProcessLauncher::SetRedirectStandardInput(bool redirect)
{
	fLauncher->SetRedirectStandardInput(redirect);
}

void VProcessLauncher::SetRedirectStandardOutput(bool redirect)
{
	fLauncher->SetRedirectStandardOutput(redirect);
}

void VProcessLauncher::CloseStandardInput()
{
	fLauncher->CloseStandardInput();
}

int32 VProcessLauncher::WriteToChild(const void* data, uint32 length, bool closeAfter)
{
	return fLauncher->WriteToChild(data, length, closeAfter);
}

int32 VProcessLauncher::WaitForData()
{
	return fLauncher->WaitForData();
}

int32 VProcessLauncher::ReadFromChild(char* buffer, uint32 length)
{
	return fLauncher->ReadFromChild(buffer, length);
}

int32 VProcessLauncher::ReadErrorFromChild(char* buffer, uint32 length)
{
	return fLauncher->ReadErrorFromChild(buffer, length);
}

int32 VProcessLauncher::ReadFromChildAndShutdown(const VChildOutputHandler& onOutput,
	const VChildOutputHandler& onError)
{
	return fLauncher->ReadFromChildAndShutdown(onOutput, onError);
}

VError VProcessLauncher::ReadStd(VMemoryBuffer<>* output, VMemoryBuffer<>* errors)
{
	return fLauncher->ReadStd(output, errors);
}

void VProcessLauncher::SetQuoteArgumentsIfNeeded(bool quote)
{
	fLauncher->SetQuoteArgumentsIfNeeded(quote);
}

int32 VProcessLauncher::GetPid() const
{
	return fLauncher->GetPid();
}

bool VProcessLauncher::KillProcess(int32 pid)
{
	return XPosixProcessLauncher::KillProcess(pid);
}

void VProcessLauncher::EnableProcessTreeKill(bool enable)
{
	fLauncher->EnableProcessTreeKill(enable);
}

int32 VProcessLauncher::Start()
{
	return fLauncher->Start(nullptr);
}

int32 VProcessLauncher::Start(const VEnvironmentVariables& extraVariables)
{
	return fLauncher->Start(&extraVariables);
}

bool VProcessLauncher::IsRunning()
{
	return fLauncher->IsRunning();
}

int32 VProcessLauncher::Shutdown(bool kill, bool processTreeKill)
{
	return fLauncher->Shutdown(kill, processTreeKill);
}

int32 VProcessLauncher::GetExitStatus() const
{
	return fLauncher->GetExitStatus();
}

}  // namespace velk
