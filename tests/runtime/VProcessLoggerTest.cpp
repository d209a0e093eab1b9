// The process logger as the process sets it up: levels, each error logged once on every path, and the
// start-up listener's bags handed to the listeners that come later.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "common/VTestEnvironment.h"
#include "containers/VValueBag.h"
#include "runtime/ILogger.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/VProcess.h"

namespace velk {
namespace {

// Counts the bags carrying one error code, and the messages it sees.
class CodeCounter : public ILogListener
{
public:
	explicit CodeCounter(VError code) : fCode(code) {}
	void Put(const std::vector<const VValueBag*>& bags) override
	{
		std::lock_guard<std::mutex> guard(fMutex);
		for (const VValueBag* bag : bags)
		{
			uint64 code = 0;
			if (ILoggerBagKeys::error_code.Get(bag, code) && code == fCode)
				++fCount;
			VString message;
			if (ILoggerBagKeys::message.Get(bag, message) && to_string(message) == "early")
				++fEarly;
		}
	}
	int Count()
	{
		std::lock_guard<std::mutex> guard(fMutex);
		return fCount;
	}

	std::mutex fMutex;
	VError fCode;
	int fCount = 0;
	int fEarly = 0;
};

TEST(VProcessLoggerTest, EachErrorIsLoggedOncePerPath)
{
	VProcess* process = VTestEnvironment::GetProcess();
	ASSERT_NE(process->GetLogger(), nullptr);
	EXPECT_EQ(process->GetLogger(EML_Debug), nullptr);
	EXPECT_EQ(process->GetLogger(EML_Error), process->GetLogger());

	struct Row
	{
		const char* name;
		bool innerKeeps;
		bool innerSilent;
		int logged;
	};
	const Row rows[] = {
		{"raised where nothing silences it", true, false, 1},
		{"kept by a silent scope, then handed on", true, true, 1},
		{"dropped by a silent scope", false, true, 0},
	};
	int32 number = 3000;
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		const VError code = MakeVError(FourCharCode("UPRy"), ++number);
		CodeCounter counter(code);
		ASSERT_TRUE(process->GetLogger()->AddLogListener(&counter));
		{
			StErrorContextInstaller outer(false, false);
			{
				StErrorContextInstaller inner(row.innerKeeps, row.innerSilent);
				_ThrowError(code);
			}
		}
		process->GetLogger()->Flush();
		EXPECT_EQ(counter.Count(), row.logged);
		process->GetLogger()->RemoveLogListener(&counter);
	}
}

TEST(VProcessLoggerTest, StartUpBagsReachLaterListeners)
{
	VProcess* process = VTestEnvironment::GetProcess();
	process->GetLogger()->LogMessage(EML_Warning, VString("early"), VString("test"));
	process->GetLogger()->Flush();  // the start-up listener keeps it
	CodeCounter later(0);
	ASSERT_TRUE(process->GetLogger()->AddLogListener(&later));
	process->CleanBootLogListener();
	process->GetLogger()->Flush();
	EXPECT_EQ(later.fEarly, 1);
	process->GetLogger()->RemoveLogListener(&later);
}

}  // namespace
}  // namespace velk
