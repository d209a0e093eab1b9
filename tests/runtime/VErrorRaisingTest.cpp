// Errors made from parameter objects, errors with a text of their own, the scoped and retained ways of
// raising, the JSON form of a context, and system error records as toolbox codes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "kernel/intl/VUTFCodec.h"
#include "kernel/json/VJSONArray.h"
#include "containers/VBagArray.h"
#include "containers/VValueBag.h"
#include "platform/ErrorRecord.h"
#include "runtime/StErrorContextInstaller.h"
#include "runtime/StThrowError.h"
#include "runtime/VErrorBagKeys.h"
#include "runtime/VErrorContext.h"
#include "runtime/VErrorTaskContext.h"
#include "runtime/VTask.h"
#include "runtime/VErrorUserGenerated.h"
#include "runtime/mac/XMacErrorRecord.h"

namespace velk {
namespace {

std::string Text(const VString& text)
{
	return ToUTF8String(text.GetCPointer(), text.GetLength());
}

VRefPtr<VJSONObject> NewObject()
{
	return VRefPtr<VJSONObject>(new VJSONObject(nullptr, nullptr, false), true);
}

TEST(VErrorRaisingTest, CreateReadsAndCompletesTheParameters)
{
	const double nan = std::numeric_limits<double>::quiet_NaN();
	struct Row
	{
		const char* name;
		const char* signatureText;  // null: no "componentSignature"
		bool hasNumber;
		double number;
		OsType signature;
		VError code;
		double storedNumber;
	};
	const Row rows[] = {
		{"nothing given", nullptr, false, 0, 0, 0xFFFFFFFFu, -1},
		{"zero and zero", nullptr, true, 0, 0, VE_UNKNOWN_ERROR, 0},
		{"signature argument", nullptr, true, 42, FourCharCode("UPRy"), MakeVError(FourCharCode("UPRy"), 42), 42},
		{"signature text wins", "xmlc", true, 3, FourCharCode("UPRy"), MakeVError(FourCharCode("xmlc"), 3), 3},
		{"NaN", nullptr, true, nan, kVELK_SIGNATURE, MakeVError(kVELK_SIGNATURE, 0), nan},
		{"too large", nullptr, true, 1e12, kVELK_SIGNATURE, MakeVError(kVELK_SIGNATURE, INT32_MAX), 1e12},
		{"too small", nullptr, true, -1e12, kVELK_SIGNATURE, MakeVError(kVELK_SIGNATURE, INT32_MIN), -1e12},
		{"fraction", nullptr, true, -7.9, kVELK_SIGNATURE, MakeVError(kVELK_SIGNATURE, -7), -7.9},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VRefPtr<VJSONObject> params = NewObject();
		if (row.signatureText != nullptr)
			params->SetProperty(VString("componentSignature"), VJSONValue(VString(row.signatureText)));
		if (row.hasNumber)
			params->SetProperty(VString("errCode"), VJSONValue(row.number));
		VRefPtr<VErrorBase> error(VErrorBase::Create(params.Get(), row.signature), true);
		ASSERT_TRUE(error);
		EXPECT_EQ(error->GetCode(), row.code);
		EXPECT_EQ(error->GetParams(), params.Get());
		const double stored = params->GetProperty(VString("errCode")).GetNumber();
		if (std::isnan(row.storedNumber))
			EXPECT_TRUE(std::isnan(stored));
		else
			EXPECT_EQ(stored, row.storedNumber);
		EXPECT_EQ(params->GetProperty(VString("componentSignature")).GetType(), JSON_string);
	}

	// Without parameters a new object stands in for them.
	VRefPtr<VErrorBase> bare(VErrorBase::Create(nullptr, kVELK_SIGNATURE), true);
	ASSERT_NE(bare->GetParams(), nullptr);
	EXPECT_EQ(bare->GetCode(), MakeVError(kVELK_SIGNATURE, -1));
	VErrorBase given(VE_INVALID_PARAMETER, nullptr);
	EXPECT_NE(given.GetParams(), nullptr);
	EXPECT_TRUE(given.SetString(VString("p1"), VString("x")));
}

TEST(VErrorRaisingTest, CopiesOwnTheirParametersAtEveryDepth)
{
	VErrorBase original(VE_ACCESS_DENIED);
	VRefPtr<VJSONObject> nested = NewObject();
	nested->SetProperty(VString("path"), VJSONValue(VString("/a")));
	original.GetParams()->SetProperty(VString("file"), VJSONValue(nested.Get()));

	VErrorBase copy(original);
	ASSERT_NE(copy.GetParams(), original.GetParams());
	VJSONObject* copied = copy.GetParams()->GetProperty(VString("file")).GetObject();
	ASSERT_NE(copied, nullptr);
	EXPECT_NE(copied, nested.Get());
	copied->SetProperty(VString("path"), VJSONValue(VString("/b")));
	EXPECT_EQ(Text(nested->GetProperty(VString("path")).GetString()), "/a");
	int32 number = 0;
	EXPECT_TRUE(copy.GetLong(VString("errCode"), number));
	EXPECT_EQ(number, 5);
}

TEST(VErrorRaisingTest, JSONObjectOfAnErrorAndOfAContext)
{
	VErrorBase error(MakeVError(FourCharCode("UPRy"), 41));
	error.SetDescription(VString("disk full"));
	error.SetString(VString("extraDescription"), VString("more"));
	error.SetString(VString("unlisted"), VString("left out"));
	VRefPtr<VJSONObject> object(error.CreateJSONObject(), true);
	ASSERT_TRUE(object);
	EXPECT_EQ(object->GetProperty(VString("errCode")).GetNumber(), 41);
	EXPECT_EQ(Text(object->GetProperty(VString("componentSignature")).GetString()), "UPRy");
	EXPECT_EQ(Text(object->GetProperty(VString("message")).GetString()), "disk full");
	EXPECT_EQ(Text(object->GetProperty(VString("extraDescription")).GetString()), "more");
	EXPECT_FALSE(object->HasProperty(VString("seriousError")));
	EXPECT_FALSE(object->HasProperty(VString("unlisted")));

	VErrorContext context;
	VJSONValue json(JSON_null);
	EXPECT_TRUE(context.SaveToJSONArray(json));
	EXPECT_EQ(json.GetType(), JSON_undefined);
	VRefPtr<VErrorBase> first(new VErrorBase(VE_MEMORY_FULL), true);
	VRefPtr<VErrorBase> second(new VErrorBase(VE_ACCESS_DENIED), true);
	context.PushError(first.Get());
	context.PushError(second.Get());
	ASSERT_TRUE(context.SaveToJSONArray(json));
	ASSERT_EQ(json.GetType(), JSON_array);
	ASSERT_EQ(json.GetArray()->GetCount(), 2u);
	EXPECT_EQ(json.GetArray()->GetAt(0).GetObject()->GetProperty(VString("errCode")).GetNumber(), 100);
	EXPECT_EQ(json.GetArray()->GetAt(1).GetObject()->GetProperty(VString("errCode")).GetNumber(), 5);
}

// What a scope holds after each way of raising, oldest error first.
TEST(VErrorRaisingTest, RetainedAndScopedRaising)
{
	const VError generic = MakeVError(kVELK_SIGNATURE, 600);
	const VError own = MakeVError(kPOSIX_SIGNATURE, 2);
	struct Row
	{
		const char* name;
		VError filtered;  // 0: none
		VError code;
		std::vector<VError> expected;
	};
	const Row rows[] = {
		{"code below the error", 0, generic, {generic, own}},
		{"no code", 0, VE_OK, {own}},
		{"own code filtered", own, generic, {}},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		for (const bool scoped : {false, true})
		{
			StErrorContextInstaller outer(true, false);
			{
				std::optional<StErrorContextInstaller> inner;
				if (row.filtered != VE_OK)
					inner.emplace(row.filtered, VE_OK);
				else
					inner.emplace(true, false);
				if (scoped)
				{
					StThrowError<> thrower(row.code, own);
					thrower->SetString(VString("path"), VString("/x"));
				}
				else
				{
					_PushRetainedError(new VErrorBase(own), row.code);
				}
			}
			const std::vector<VRefPtr<VErrorBase>>& errors = outer.GetContext()->GetErrors();
			ASSERT_EQ(errors.size(), row.expected.size());
			for (size_t i = 0; i < errors.size(); ++i)
				EXPECT_EQ(errors[i]->GetCode(), row.expected[i]) << i;
			if (scoped && !errors.empty())
			{
				VString path;
				EXPECT_TRUE(errors.back()->GetString(VString("path"), path));
			}
		}
	}
}

TEST(VErrorRaisingTest, ErrorsAndContextsAsBags)
{
	// One error through its bag: code, task and name come back; the caller's errors stay clean.
	StErrorContextInstaller scope(false, true);
	VErrorBase original(MakeVError(FourCharCode("UPRy"), -41));
	VRefPtr<VValueBag> bag(new VValueBag, true);
	EXPECT_EQ(original.SaveToBag(*bag), VE_OK);
	VErrorBase loaded;
	EXPECT_EQ(loaded.LoadFromBag(*bag), VE_OK);
	EXPECT_EQ(loaded.GetCode(), original.GetCode());
	VString name, loadedName;
	int32 id = -1, loadedId = -2;
	original.GetTaskName(name, &id);
	loaded.GetTaskName(loadedName, &loadedId);
	EXPECT_EQ(loadedId, id);
	EXPECT_TRUE(loadedName.EqualToStringRaw(name));
	EXPECT_NE(loaded.GetParams(), nullptr);
	EXPECT_EQ(scope.GetContext()->GetLastError(), VE_OK);

	// A context through its bag, in order; a bag without errors loads none.
	VErrorContext context;
	for (const VError code : {VE_ACCESS_DENIED, VE_MEMORY_FULL, MakeVError(kPOSIX_SIGNATURE, 2)})
	{
		VRefPtr<VErrorBase> error(new VErrorBase(code), true);
		context.PushError(error.Get());
	}
	VRefPtr<VValueBag> list(new VValueBag, true);
	ASSERT_EQ(context.SaveToBag(*list), VE_OK);
	ASSERT_NE(list->GetElements(VErrorBagKeys::error), nullptr);
	EXPECT_EQ(list->GetElements(VErrorBagKeys::error)->GetCount(), 3);
	VErrorContext back;
	EXPECT_EQ(back.LoadFromBag(*list), VE_OK);
	ASSERT_EQ(back.GetErrorCount(), 3u);
	EXPECT_EQ(back.GetErrors()[1]->GetCode(), VE_MEMORY_FULL);
	EXPECT_FALSE(back.FailedForMemory());  // loaded errors are data
	EXPECT_EQ(back.LoadFromBag(VValueBag()), VE_OK);
	EXPECT_EQ(back.GetErrorCount(), 3u);

	// The task's errors pushed from the bag, then described in an error stack.
	{
		StErrorContextInstaller inner(true, true);
		VTask::GetCurrent()->GetErrorContext(false)->PushErrorsFromBag(*list);
		EXPECT_EQ(inner.GetContext()->GetErrorCount(), 3u);
		VRefPtr<VValueBag> stack(new VValueBag, true);
		VErrorTaskContext::BuildErrorStack(*stack);
		const VBagArray* entries = stack->GetElements(StPackedDictionaryKey("__ERROR"));
		ASSERT_NE(entries, nullptr);
		ASSERT_GE(entries->GetCount(), 3);
		const VValueBag* last = entries->_GetNth(entries->GetCount());
		VString text;
		ASSERT_TRUE(last->GetString(StPackedDictionaryKey("componentSignature"), text));
		EXPECT_EQ(Text(text), "POSX");
		int64 number = 0;
		ASSERT_TRUE(last->GetLong8(StPackedDictionaryKey("errCode"), number));
		EXPECT_EQ(number, 2);
		EXPECT_TRUE(last->GetString(StPackedDictionaryKey("message"), text));
		EXPECT_FALSE(text.IsEmpty());
	}
}

TEST(VErrorRaisingTest, ErrorsWithATextOfTheirOwn)
{
	StErrorContextInstaller scope(false, true);
	const VError code = MakeVError(FourCharCode("UPRy"), 9);
	EXPECT_EQ(vThrowUserGeneratedError(code, VString("typed by the user")), code);
	VErrorBase* raised = scope.GetContext()->GetLast();
	ASSERT_NE(raised, nullptr);
	EXPECT_EQ(raised->GetCode(), code);
	VString text;
	raised->GetErrorDescription(text);
	EXPECT_EQ(Text(text), "typed by the user");
	raised->DumpToString(text);
	EXPECT_EQ(Text(text), "typed by the user");

	VErrorImported imported(code, VString("from the server"));
	imported.GetErrorDescription(text);
	EXPECT_EQ(Text(text), "from the server");
	imported.GetLocation(text);
	EXPECT_EQ(Text(text), "REST Imported Error");
}

TEST(VErrorRaisingTest, SystemErrorRecords)
{
	using plat::ErrorRecord;
	struct Row
	{
		ErrorRecord::Domain domain;
		int64_t code;
		VError expected;
	};
	const Row rows[] = {
		{ErrorRecord::kDomain_Status, -43, MakeVError(kCARBON_SIGNATURE, -43)},
		{ErrorRecord::kDomain_POSIX, 2, MakeVError(kPOSIX_SIGNATURE, 2)},
		{ErrorRecord::kDomain_Kernel, 5, MakeVError(kMACH_SIGNATURE, 5)},
		{ErrorRecord::kDomain_Framework, 0x100000004LL, MakeVError(kCOCOA_SIGNATURE, 4)},  // low 32 bits
		{ErrorRecord::kDomain_Other, 7, VE_UNKNOWN_ERROR},
	};
	for (const Row& row : rows)
	{
		ErrorRecord record{row.domain, row.code};
		EXPECT_EQ(MakeVErrorFromCFError(&record), row.expected);
		EXPECT_EQ(MakeVErrorFromNSError(&record), row.expected);
		EXPECT_EQ(MakeVErrorFromCFErrorAndRelease(new ErrorRecord(record)), row.expected);
	}
	EXPECT_EQ(MakeVErrorFromCFError(nullptr), VE_OK);
	EXPECT_EQ(MakeVErrorFromCFErrorAndRelease(nullptr), VE_OK);
}

TEST(VErrorRaisingTest, ParametersSurviveTheBag)
{
	StErrorContextInstaller scope(false, true);
	VErrorBase original(VE_ACCESS_DENIED);
	ASSERT_TRUE(original.SetString(VString("path"), VString("/Applications/Tool \"1\".app")));
	ASSERT_TRUE(original.SetLong(VString("count"), -12));
	VRefPtr<VValueBag> bag(new VValueBag, true);
	ASSERT_EQ(original.SaveToBag(*bag), VE_OK);
	VErrorBase loaded;
	ASSERT_EQ(loaded.LoadFromBag(*bag), VE_OK);
	VString path;
	int32 count = 0;
	EXPECT_TRUE(loaded.GetString(VString("path"), path));
	EXPECT_EQ(Text(path), "/Applications/Tool \"1\".app");
	EXPECT_TRUE(loaded.GetLong(VString("count"), count));
	EXPECT_EQ(count, -12);
	EXPECT_EQ(scope.GetContext()->GetLastError(), VE_OK);
}

}  // namespace
}  // namespace velk
