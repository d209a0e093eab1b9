// The options of a value comparison, passed by reference: the international manager whose collator
// compares texts, the like, diacritical and beginning flags, and the epsilon under which reals are equal.
#pragma once

#include "kernel/VExport.h"

#include "kernel/memory/VObject.h"
#include "runtime/VError.h"

namespace velk {

class VIntlMgr;
class VJSONObject;

class VELK_API VCompareOptions : public VObject
{
public:
	// The calling task's international manager (else the process's, else null), the three flags clear
	// and an epsilon of 0.000001.
	VCompareOptions();
	VCompareOptions(const VCompareOptions&) = default;
	VCompareOptions& operator=(const VCompareOptions&) = default;
	~VCompareOptions() override = default;

	// Not owned: the manager must outlive the comparisons made with these options.
	VIntlMgr* GetIntlMgr() const { return fIntlMgr; }
	void SetIntlMgr(VIntlMgr* manager) { fIntlMgr = manager; }

	// Left to the caller; no comparison of the toolbox reads it. Null on construction.
	void* GetUserData() const { return fUserData; }
	void SetUserData(void* data) { fUserData = data; }

	// Texts are compared with wildcards.
	bool IsLike() const { return fLike; }
	void SetLike(bool like) { fLike = like; }

	// Case and diacritics are significant; when clear, reals closer than the epsilon are equal.
	bool IsDiacritical() const { return fDiacritical; }
	void SetDiacritical(bool diacritical) { fDiacritical = diacritical; }

	// Only the common beginning of two texts is compared.
	bool IsBeginsWith() const { return fBeginsWith; }
	void SetBeginsWith(bool beginsWith) { fBeginsWith = beginsWith; }

	double GetEpsilon() const { return fEpsilon; }
	void SetEpsilon(double epsilon) { fEpsilon = epsilon; }

	// The diacritical flag as the JSON boolean property "diacritical"; the other fields have no JSON
	// form. A null object is left alone. Answers 0 (a property the object refuses raises its own error).
	VError ToJSON(VJSONObject* object) const;
	// Takes the diacritical flag from the property "diacritical" only when it is a JSON boolean; any
	// other value (the string "true" included), or none, or a null object, leaves the flag as it was.
	// Answers 0.
	VError FromJSON(VJSONObject* object);

private:
	VIntlMgr* fIntlMgr;
	void* fUserData = nullptr;
	bool fLike = false;
	bool fDiacritical = false;
	bool fBeginsWith = false;
	double fEpsilon = 0.000001;
};

}  // namespace velk
