#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "common/VTestEnvironment.h"
#include "containers/VValueBag.h"
#include "files/VFilePath.h"
#include "kernel/memory/VRefPtr.h"
#include "kernel/values/VValueInfo.h"
#include "runtime/ILogger.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VErrorContext.h"
#include "runtime/VProcess.h"
#include "updater/VUpdaterErrors.h"
#include "updater/VUpdaterLog.h"

namespace velk {

namespace {

// The updater's lines that reach the process logger while attached, as "level:message" (level -1 when the
// bag leaves it out); a signature stored in another form than a 32-bit value is not the updater's.
class StUpdaterLines : public ILogListener
{
public:
	StUpdaterLines() { VProcess::sInstance->GetLogger()->AddLogListener(this); }
	~StUpdaterLines() { VProcess::sInstance->GetLogger()->RemoveLogListener(this); }

	void Put(const std::vector<const VValueBag*>& bags) override
	{
		std::lock_guard<std::mutex> guard(fMutex);
		for (const VValueBag* bag : bags)
		{
			const VValueSingle* signature = bag->GetAttribute(ILoggerBagKeys::component_signature);
			int64 number = 0;
			if (signature == nullptr || signature->GetValueInfo()->GetKind() != VK_LONG
				|| !bag->GetLong8(ILoggerBagKeys::component_signature, number) || number != int64(FourCharCode("RyUP")))
				continue;
			VString message;
			ILoggerBagKeys::message.Get(bag, message);
			int32 level = -1;
			ILoggerBagKeys::level.Get(bag, level);
			fLines.push_back(std::to_string(level) + ":" + to_string(message));
		}
	}

	std::vector<std::string> Take()
	{
		VProcess::sInstance->GetLogger()->Flush();
		std::lock_guard<std::mutex> guard(fMutex);
		return std::move(fLines);
	}

private:
	std::mutex fMutex;
	std::vector<std::string> fLines;
};

// An error whose description is empty, as a subclass may make it.
class VDescriptionlessError : public VErrorBase
{
public:
	using VErrorBase::VErrorBase;
	void GetErrorDescription(VString& text) const override { text.Clear(); }
};

}  // namespace

// Each line's text, its level left out for information, debug lines only while the logger takes them, and
// nothing without a process.
TEST(VUpdaterLogTest, LinesReachTheProcessLogger)
{
	ILogger* logger = VProcess::sInstance->GetLogger();
	ASSERT_NE(logger, nullptr);
	StUpdaterLines lines;
	const VString name("engine");
	LogInfo("step %S of %s: %d", &name, "run", 3);
	LogError("failed %d%%", 50);
	Log(EML_Warning, "warned");
	LogDebug("hidden");
	const bool withDebug = logger->WithDebug(true);
	LogDebug("shown");
	logger->WithDebug(withDebug);
	{
		StNoProcessInstance noProcess;
		LogError("no process");
	}
	EXPECT_EQ(lines.Take(), (std::vector<std::string>{"-1:step engine of run: 3", "6:failed 50%", "5:warned", "3:shown"}));
}

// A context's errors at level 6, newest or oldest first, each its description or, without one, its string.
TEST(VUpdaterLogTest, DumpErrorStack)
{
	VRefPtr<VErrorContext> context(new VErrorContext, true);
	VRefPtr<VErrorBase> first(new VErrorBase(MakeVError(kUPDATER_SIGNATURE, 1)), true);
	first->SetDescription(VString("first"));
	VRefPtr<VErrorBase> second(new VDescriptionlessError(MakeVError(kUPDATER_SIGNATURE, 7)), true);
	context->PushError(first.Get());
	context->PushError(second.Get());

	const struct
	{
		const VErrorContext* fContext;
		bool fNewestFirst;
		std::vector<std::string> fLines;
	} cases[] = {
		{context.Get(), true, {"6:Error code: 7 (UPRy)", "6:first"}},
		{context.Get(), false, {"6:first", "6:Error code: 7 (UPRy)"}},
		{nullptr, true, {}},
	};
	StUpdaterLines lines;
	for (const auto& c : cases)
	{
		DumpErrorStack(c.fContext, c.fNewestFirst);
		EXPECT_EQ(lines.Take(), c.fLines) << c.fNewestFirst;
	}
}

// The errors pushed with paths: their code and their parameters in POSIX text; nothing at all for code 0.
TEST(VUpdaterLogTest, ThrowErrorWithPaths)
{
	const VFilePath folder(VString("/tmp/Old App.app/"), FPS_POSIX);
	const VFilePath file(VString("/tmp/new/file.txt"), FPS_POSIX);
	const VError code = VE_UPDATER_FILE_COPY_FAILED;
	using Parameters = std::vector<std::pair<const char*, std::string>>;
	for (const VError given : {code, VE_OK})
	{
		for (int call = 0; call < 3; ++call)
		{
			StErrorContextInstaller scope(false, true);
			const VError answered = call == 0 ? ThrowErrorWithPath(given, folder)
				: call == 1				   ? ThrowErrorWithPaths(given, folder, file)
										   : ThrowServiceError(given, VString("launchd"));
			const Parameters parameters = call == 0 ? Parameters{{"path", "/tmp/Old App.app/"}}
				: call == 1 ? Parameters{{"srcPath", "/tmp/Old App.app/"}, {"dstPath", "/tmp/new/file.txt"}}
							: Parameters{{"ServiceName", "launchd"}};
			SCOPED_TRACE(parameters[0].first);
			EXPECT_EQ(answered, given);
			ASSERT_EQ(scope.GetContext()->GetErrorCount(), given == VE_OK ? 0u : 1u);
			if (given == VE_OK)
				continue;
			EXPECT_EQ(scope.GetLastError(), code);
			for (const auto& [name, expected] : parameters)
			{
				VString value;
				scope.GetLast()->GetString(VString(name), value);
				EXPECT_EQ(to_string(value), expected) << name;
			}
		}
	}
}

}  // namespace velk
