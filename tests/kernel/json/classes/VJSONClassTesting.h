// What the tests of the toolbox's own JSON classes share: calling a class function, and checking that a class
// made on first use is made once however many threads get there together.
#pragma once

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "kernel/json/VJSONFunctionContext.h"
#include "kernel/json/VJSONObject.h"
#include "kernel/json/classes/VJSONClassStore.h"

namespace velk::test {

// Calls function on thisObject with the parameters; the result is left in result.
inline EJSONStatus CallClassFunction(const VJSONValue& function, VJSONObject* thisObject, std::vector<VJSONValue> parameters,
									 VJSONValue& result)
{
	if (function.GetObject() == nullptr)
		return eJSONStatusFailed;
	VJSONFunctionContext context(thisObject, nullptr, &parameters, nullptr, nullptr);
	const EJSONStatus status = function.GetObject()->GetImplementation()->IJSON_CallAsFunction(function.GetObject(), &context);
	context.GetResult(result);
	return status;
}

// Eight threads ask for the class at once: all get the one class, which the process's store knows by name.
inline void ExpectOneClassFromConcurrentFirstUse(VJSONObject* (*getClass)(), const char* name)
{
	std::vector<VJSONObject*> seen(8, nullptr);
	std::vector<std::thread> threads;
	for (size_t i = 0; i < seen.size(); ++i)
		threads.emplace_back([&seen, i, getClass] { seen[i] = getClass(); });
	for (std::thread& thread : threads)
		thread.join();
	ASSERT_NE(seen[0], nullptr);
	for (VJSONObject* classObject : seen)
		EXPECT_EQ(classObject, seen[0]);
	EXPECT_EQ(VJSONClassStore::GetProcessStore()->GetClassObject(VString(name), false).Get(), seen[0]);
}

}  // namespace velk::test
