#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>
#include <thread>

#include "common/VTestEnvironment.h"
#include "kernel/intl/VUTFCodec.h"
#include "kernel/strings/VString.h"
#include "runtime/ILocalizer.h"
#include "runtime/VErrorBase.h"
#include "runtime/VProcess.h"
#include "runtime/VTask.h"

namespace velk {
namespace {

constexpr OsType kUpdaterSignature = FourCharCode("UPRy");
constexpr OsType kTestSignature = FourCharCode("TeSt");

std::string Text(const VString& text)
{
	return ToUTF8String(text.GetCPointer(), text.GetLength());
}

std::string Description(VError code)
{
	VErrorBase error(code);
	VString text;
	error.GetErrorDescription(text);
	return Text(text);
}

class TableLocalizer : public ILocalizer
{
public:
	explicit TableLocalizer(VError known, const char* text) : fKnown(known), fText(text) {}
	uint32 GetLocalizationLanguage() override { return 1033; }
	bool LocalizeStringWithKey(const VString&, VString&) override { return false; }
	bool LocalizeStringWithDotStringsKey(const VString&, VString&) override { return false; }
	const VValueBag* RetainGroupBag(const VString&) override { return nullptr; }
	bool LocalizeErrorMessage(VError code, VString& text) override
	{
		++fCalls;
		if (code != fKnown)
			return false;
		text = VString(fText);
		return true;
	}
	int fCalls = 0;

private:
	VError fKnown;
	const char* fText;
};

TEST(VErrorBase, ErrorStringAndLocation)
{
	struct Row
	{
		VError code;
		const char* errorString;
		const char* location;
	};
	const Row rows[] = {
		{VE_STRING_ALLOC_FAILED, "Error code: 107 (velk)", "velkbase"},
		{MakeVError(kPOSIX_SIGNATURE, -1), "Error code: -1 (POSX)", "component: 'POSX'"},
		{MakeVError(kUpdaterSignature, 3), "Error code: 3 (UPRy)", "component: 'UPRy'"},
	};
	for (const Row& row : rows)
	{
		VErrorBase error(row.code);
		VString text;
		error.GetErrorString(text);
		EXPECT_EQ(Text(text), row.errorString);
		error.GetLocation(text);
		EXPECT_EQ(Text(text), row.location);
	}
}

TEST(VErrorBase, DescriptionFallsBackThroughMessageLocalizerSystemAndCode)
{
	const VError known = MakeVError(kTestSignature, 12);
	const VError unknown = MakeVError(kTestSignature, 13);
	TableLocalizer localizer(known, "Localized twelve");
	VErrorBase::RegisterLocalizer(kTestSignature, &localizer);
	EXPECT_EQ(VErrorBase::GetLocalizer(kTestSignature), &localizer);

	EXPECT_EQ(Description(known), "Localized twelve");
	EXPECT_EQ(Description(unknown), "Error code: 13 (TeSt)");
	EXPECT_EQ(Description(MakeVError(kPOSIX_SIGNATURE, 2)), std::strerror(2));
	EXPECT_EQ(Description(MakeVError(kMACH_SIGNATURE, 5)), "Error code: 5 (MACH)");

	VErrorBase withMessage(known);
	withMessage.SetDescription(VString("Fixed text"));
	VString text;
	withMessage.GetErrorDescription(text);
	EXPECT_EQ(Text(text), "Fixed text");

	VErrorBase emptyMessage(known);
	emptyMessage.SetDescription(VString(""));
	emptyMessage.GetErrorDescription(text);
	EXPECT_EQ(Text(text), "Error code: 12 (TeSt)");

	// A frozen description no longer depends on the localizer.
	VErrorBase frozen(known);
	frozen.FreezeDescription();
	VErrorBase::UnregisterLocalizer(kTestSignature);
	EXPECT_EQ(VErrorBase::GetLocalizer(kTestSignature), nullptr);
	frozen.GetErrorDescription(text);
	EXPECT_EQ(Text(text), "Localized twelve");
	EXPECT_EQ(Description(known), "Error code: 12 (TeSt)");
}

// Localized texts and the action text take their {name} placeholders from the parameters; a copy has
// parameters of its own.
TEST(VErrorBase, PlaceholdersComeFromTheParameters)
{
	const VError code = MakeVError(kTestSignature, 50);
	TableLocalizer localizer(code, "{p1} is missing from {folder}{unknown} (#{errCode})");
	VErrorBase::RegisterLocalizer(kTestSignature, &localizer);
	VErrorBase error(code);
	ASSERT_TRUE(error.SetString(VString("p1"), VString("a.json")));
	ASSERT_TRUE(error.SetString(VString("folder"), VString("/tmp/{p1}")));
	ASSERT_TRUE(error.SetString(VString("action_description"), VString("Reading {p1}")));
	VString text;
	error.GetErrorDescription(text);
	EXPECT_EQ(Text(text), "a.json is missing from /tmp/{p1} (#50)");
	EXPECT_TRUE(error.CallLocalizer(&localizer, code, text));
	EXPECT_EQ(Text(text), "a.json is missing from /tmp/{p1} (#50)");
	error.GetActionDescription(text);
	EXPECT_EQ(Text(text), "Reading a.json");
	VErrorBase::UnregisterLocalizer(kTestSignature);

	ASSERT_NE(error.GetParams(), nullptr);
	std::vector<VString> names;
	ASSERT_TRUE(error.GetParams()->GetPropertyNamesInOrder(names));
	ASSERT_EQ(names.size(), 5u);
	EXPECT_EQ(Text(names[0]), "errCode");
	EXPECT_EQ(Text(names[4]), "action_description");

	VErrorBase copy(error);
	ASSERT_TRUE(copy.SetString(VString("p1"), VString("b.json")));
	VString p1;
	EXPECT_TRUE(error.GetString(VString("p1"), p1));
	EXPECT_EQ(Text(p1), "a.json");
	EXPECT_TRUE(copy.GetString(VString("p1"), p1));
	EXPECT_EQ(Text(p1), "b.json");
	int32 number = 0;
	EXPECT_FALSE(copy.GetLong(VString("p1"), number));
	EXPECT_TRUE(copy.GetLong(VString("errCode"), number));
	EXPECT_EQ(number, 50);
}

TEST(VErrorBase, ProcessLocalizerServesSignaturesWithoutOne)
{
	const VError known = MakeVError(kTestSignature, 40);
	TableLocalizer localizer(known, "From the application");
	VProcess* process = VTestEnvironment::GetProcess();
	ASSERT_NE(process, nullptr);
	process->SetLocalizer(&localizer);
	std::string described = Description(known);
	VErrorBase error(known);
	VString text("stale");
	bool found = error.CallLocalizer(nullptr, MakeVError(kTestSignature, 41), text);
	process->SetLocalizer(nullptr);
	EXPECT_EQ(described, "From the application");
	EXPECT_FALSE(found);
	EXPECT_TRUE(text.IsEmpty());
	EXPECT_TRUE(error.CallLocalizer(nullptr, VE_OK, text));
}

TEST(VErrorBase, EncodedNativeErrorToVError)
{
	const VError fallback = MakeVError(kVELK_SIGNATURE, 777);
	struct Row
	{
		VError native;
		VError expected;
	};
	const Row rows[] = {
		{MakeVError(kPOSIX_SIGNATURE, 2), MakeVError(kVELK_SIGNATURE, 600)},
		{MakeVError(kPOSIX_SIGNATURE, 13), VE_ACCESS_DENIED},
		{MakeVError(kPOSIX_SIGNATURE, 22), fallback},
		{MakeVError(kCARBON_SIGNATURE, -43), MakeVError(kVELK_SIGNATURE, 600)},
		{MakeVError(kCARBON_SIGNATURE, -128), VE_USER_ABORT},
		{MakeVError(kCARBON_SIGNATURE, -108), VE_MEMORY_FULL},
		{MakeVError(kCARBON_SIGNATURE, -1), fallback},
		{MakeVError(kCOCOA_SIGNATURE, 0), MakeVError(kCOCOA_SIGNATURE, 0)},
		{MakeVError(kCOCOA_SIGNATURE, 4), fallback},
		{MakeVError(kMACH_SIGNATURE, 5), fallback},
		{VE_UNKNOWN_ERROR, fallback},
		{MakeVError(kUpdaterSignature, 3), MakeVError(kUpdaterSignature, 3)},
		{VE_STREAM_EOF, VE_STREAM_EOF},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(testing::Message() << std::hex << row.native);
		EXPECT_EQ(VErrorBase::EncodedNativeErrorToVError(row.native, fallback), row.expected);
	}
}

TEST(VErrorBase, MapCarbonErrorToVError)
{
	EXPECT_EQ(VErrorBase::MAC_MapCarbonErrorToVError(0), VE_OK);
	EXPECT_EQ(VErrorBase::MAC_MapCarbonErrorToVError(-43), MakeVError(kVELK_SIGNATURE, 600));
	EXPECT_EQ(VErrorBase::MAC_MapCarbonErrorToVError(-39), VE_STREAM_EOF);
	EXPECT_EQ(VErrorBase::MAC_MapCarbonErrorToVError(-1), MakeVError(kCARBON_SIGNATURE, -1));
}

TEST(VErrorBase, ParametersAreTypedAndReplaceable)
{
	VErrorBase error(MakeVError(kUpdaterSignature, -5));
	int32 number = 0;
	VString text;
	ASSERT_TRUE(error.GetLong(VString("errCode"), number));
	EXPECT_EQ(number, -5);
	ASSERT_TRUE(error.GetString(VString("componentSignature"), text));
	EXPECT_EQ(Text(text), "UPRy");

	const VString name("count");
	error.SetString(name, VString("first"));
	error.SetLong(name, 42);
	EXPECT_FALSE(error.GetString(name, text));
	ASSERT_TRUE(error.GetLong(name, number));
	EXPECT_EQ(number, 42);

	int64 big = 0;
	error.SetLong8(VString("size"), int64(1) << 40);
	ASSERT_TRUE(error.GetLong8(VString("size"), big));
	EXPECT_EQ(big, int64(1) << 40);
	ASSERT_TRUE(error.GetLong(VString("size"), number));
	EXPECT_EQ(number, 2147483647);
	EXPECT_FALSE(error.GetLong8(VString("missing"), big));

	// A copy has its own parameters and count.
	VErrorBase* copy = new VErrorBase(error);
	EXPECT_EQ(copy->GetRefCount(), 1);
	EXPECT_EQ(copy->GetCode(), error.GetCode());
	copy->SetLong(name, 7);
	ASSERT_TRUE(error.GetLong(name, number));
	EXPECT_EQ(number, 42);
	copy->Release();
}

TEST(VErrorBase, DumpListsTheNonEmptyTextsAndTheTask)
{
	VTask* task = VTask::GetCurrent();
	ASSERT_NE(task, nullptr);
	task->SetName(VString("Runner"));
	VErrorBase named(VE_INVALID_PARAMETER);
	task->SetName(VString(""));
	named.SetDescription(VString("Bad value"));
	named.SetString(VString("action_description"), VString("Opening"));
	VString dump;
	named.DumpToString(dump);
	std::string id = std::to_string(task->GetID());
	EXPECT_EQ(Text(dump), "Error code: 3 (velk)\nBad value\nvelkbase\nOpening\ntask " + id + ", name: 'Runner'\n");

	VErrorBase plain(MakeVError(kUpdaterSignature, 9));
	plain.DumpToString(dump);
	EXPECT_EQ(Text(dump), "Error code: 9 (UPRy)\nError code: 9 (UPRy)\ncomponent: 'UPRy'\ntask " + id + "\n");
}

TEST(VErrorBase, ErrorMadeOffTaskHasNoTask)
{
	int32 id = -1;
	std::string name = "unset";
	std::thread other([&] {
		VErrorBase error(VE_UNKNOWN_ERROR);
		VString text;
		error.GetTaskName(text, &id);
		name = Text(text);
	});
	other.join();
	EXPECT_EQ(id, 0);
	EXPECT_EQ(name, "");
}

TEST(VErrorBase, DebugDumpFitsTheBuffer)
{
	VErrorBase error(VE_ACCESS_DENIED);
	{
		SCOPED_TRACE("with a process: UTF-16 dump cut to the buffer");
		char buffer[64];
		std::memset(buffer, 0x7F, sizeof(buffer));
		int length = 20;
		EXPECT_EQ(error.DebugDump(buffer, length), 2);
		EXPECT_EQ(length, 20);
		EXPECT_EQ(std::memcmp(buffer, u"Error code", 20), 0);
		EXPECT_EQ(buffer[20], 0x7F);
	}
	{
		SCOPED_TRACE("without a process: an 8-bit summary that never overruns");
		StNoProcessInstance noProcess;
		char buffer[128];
		int length = sizeof(buffer);
		EXPECT_EQ(error.DebugDump(buffer, length), 7);
		std::string expected = "Error code: 5, component: 'velk', task ID: " + std::to_string(VTask::GetCurrentID());
		EXPECT_EQ(std::string(buffer, size_t(length)), expected);
		char small[10];
		int smallLength = sizeof(small);
		error.DebugDump(small, smallLength);
		EXPECT_EQ(smallLength, 9);
		EXPECT_EQ(std::string(small, 9), "Error cod");
	}
}

}  // namespace
}  // namespace velk
