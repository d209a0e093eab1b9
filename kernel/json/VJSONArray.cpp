#include "kernel/json/VJSONArray.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include "kernel/json/StJSONDeferredRelease.h"
#include "kernel/json/VJSONCloner.h"
#include "kernel/json/VJSONGraph.h"
#include "kernel/values/VCompareOptions.h"
#include "runtime/VTask.h"

namespace velk {

std::atomic<int32> VJSONArray::sTaskToMonitor{0};
std::atomic<int32> VJSONArray::sTaskCounter{0};

namespace {

bool IsSharedContainer(const VJSONValue& value)
{
	return (value.GetObject() != nullptr && value.GetObject()->IsSharedGraph())
		|| (value.GetArray() != nullptr && value.GetArray()->IsSharedGraph());
}

bool IsContainer(const VJSONValue& value)
{
	return value.GetObject() != nullptr || value.GetArray() != nullptr;
}

}  // namespace

VJSONArray::VJSONArray(VStorageLocker* locker)
{
	if (locker != nullptr)
		locker->Retain();
	fLocker.store(locker, std::memory_order_release);
	const int32 monitored = sTaskToMonitor.load(std::memory_order_relaxed);
	if (monitored != 0 && monitored == VTask::GetCurrentID())
	{
		fCreatorTask = monitored;
		sTaskCounter.fetch_add(1, std::memory_order_relaxed);
	}
}

VJSONArray* VJSONArray::_NewWithRoom(VStorageLocker* locker, size_t count)
{
	static_assert(sizeof(VJSONArray) % alignof(VJSONValue) == 0, "the room follows the array");
	void* block = AllocateWithRoom(sizeof(VJSONArray), sizeof(VJSONValue), count);
	if (block == nullptr)
	{
		_ThrowError(VE_MEMORY_FULL);
		return nullptr;
	}
	VJSONArray* array = new (block) VJSONArray(locker);
	array->fRoom.Set(static_cast<char*>(block) + sizeof(VJSONArray), count * sizeof(VJSONValue));
	array->fElements = ElementList(VJSONRoomAllocator<VJSONValue>(&array->fRoom));
	return array;
}

VJSONArray::VJSONArray(bool shared) : VJSONArray(static_cast<VStorageLocker*>(nullptr))
{
	if (shared)
	{
		VStorageLocker* locker = new (std::nothrow) VStorageLocker();
		if (locker == nullptr)
			_ThrowError(VE_MEMORY_FULL);
		fLocker.store(locker, std::memory_order_release);
	}
}

VJSONArray::~VJSONArray()
{
	if (fGraph != nullptr)
	{
		StGraphLocker lock(IsSharedGraph());
		if (VJSONGraph* graph = DisconnectAll())
			graph->_RemoveDyingArray(this);
	}
	// Nobody else reaches a dying container: its fields are read and cleared without exchanges.
	if (VStorageLocker* locker = fLocker.load(std::memory_order_acquire))
	{
		fLocker.store(nullptr, std::memory_order_relaxed);
		locker->Release();
	}
	if (VJSONStamp* stamp = fStamp.load(std::memory_order_acquire))
	{
		fStamp.store(nullptr, std::memory_order_relaxed);
		stamp->Release();
	}
	if (fCreatorTask != 0 && fCreatorTask == VTask::GetCurrentID())
		sTaskCounter.fetch_sub(1, std::memory_order_relaxed);
	// The containers among the elements are released once this array is gone, from a list rather than
	// from inside this destructor, so that freeing a deep tree does not recurse.
	if (StJSONDeferredRelease::AnyContainer(fElements.data(), fElements.size()))
	{
		StJSONDeferredRelease release;
		for (VJSONValue& element : fElements)
			release.Take(element);
	}
}

int32 VJSONArray::Retain(const char*) const
{
	StGraphLocker lock(IsSharedGraph());
	VJSONGraph::_MemberRetained(fGraph);
	return IRefCountable::Retain();
}

int32 VJSONArray::Release(const char*) const
{
	StGraphLocker lock(IsSharedGraph());
	VJSONGraph::_MemberReleasing(fGraph);
	return IRefCountable::Release();
}

bool VJSONArray::IsSharedGraph() const
{
	return VJSONGraph::_IsInSharedGraph(fLocker, fGraph);
}

void VJSONArray::MakeGraphShared() const
{
	if (VJSONGraph* graph = fGraph)
		graph->SetShared();
}

bool VJSONArray::_NeedsGraphMutex(bool valueShared) const
{
	return valueShared || IsSharedGraph();
}

VJSONGraph* VJSONArray::DisconnectAll(size_t from)
{
	VJSONGraph* graph = fGraph;
	if (graph != nullptr)
		graph->_LowerChildLinks(nullptr, this, from);
	return graph;
}

void VJSONArray::ClearFromGraph()
{
	DisconnectAll();
	while (!fElements.empty())
		fElements.pop_back();
}

bool VJSONArray::_ConnectAll(const VJSONValue* values, size_t count)
{
	for (size_t i = 0; i < count; ++i)
	{
		if (!VJSONGraph::Connect(&fGraph, values[i], nullptr, this))
		{
			_DisconnectValues(values, i);
			return false;
		}
	}
	return true;
}

void VJSONArray::_DisconnectValues(const VJSONValue* values, size_t count)
{
	if (fGraph == nullptr)
		return;
	for (size_t i = 0; i < count; ++i)
		VJSONGraph::Disconnect(fGraph, values[i]);
}

bool VJSONArray::_CheckUser(VStorageLocker* locker) const
{
	if (locker == nullptr || locker->IsUsedByCurrentTask())
		return true;
	_ThrowError(VE_JSON_ARRAY_NOT_IN_USE);
	return false;
}

bool VJSONArray::_PrepareStore(VStorageLocker* locker, const VJSONValue& value)
{
	if (locker == nullptr)
		return true;
	if (!_CheckUser(locker))
		return false;
	return !IsContainer(value) || VStorageLocker::Assign(VJSONContainer(this), locker, value);
}

void VJSONArray::_IncrementStamp()
{
	if (VJSONStamp* stamp = fStamp.load(std::memory_order_acquire))
		stamp->Increment();
}

size_t VJSONArray::GetCount() const
{
	VJSONReadLock lock(fLocker);
	return fElements.size();
}

VJSONValue VJSONArray::GetAt(size_t index) const
{
	VJSONReadLock lock(fLocker);
	if (index < fElements.size())
		return fElements[index];
	return VJSONValue(JSON_undefined);
}

bool VJSONArray::GetAt(size_t index, VJSONValue& out) const
{
	VJSONReadLock lock(fLocker);
	if (index < fElements.size())
	{
		out = fElements[index];
		return true;
	}
	out.SetUndefined();
	return false;
}

bool VJSONArray::GetValues(std::vector<VJSONValue>& out) const
{
	VJSONReadLock lock(fLocker);
	try
	{
		out.assign(fElements.begin(), fElements.end());
		return true;
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
}

VError VJSONArray::GetString(VString& out, std::unordered_set<const VJSONArray*>* visited) const
{
	std::vector<VJSONValue> elements;
	if (!GetValues(elements))
		return VE_MEMORY_FULL;
	if (elements.empty())
	{
		out.Clear();
		return VE_OK;
	}
	std::unordered_set<const VJSONArray*> local;
	std::unordered_set<const VJSONArray*>& being = visited != nullptr ? *visited : local;
	VError error = VE_OK;
	try
	{
		if (being.find(this) != being.end())
		{
			_ThrowError(VE_JSON_ARRAY_CONTAINS_ITSELF);
			return VE_JSON_ARRAY_CONTAINS_ITSELF;
		}
		// The arrays being written are those above this one.
		if (VError tooDeep = JSONCheckNesting(uint32(being.size())); tooDeep != VE_OK)
			return tooDeep;
		being.insert(this);
		std::vector<VString> pieces;
		pieces.reserve(elements.size());
		for (const VJSONValue& element : elements)
		{
			VString piece;
			error = element.GetString(piece, &being);
			if (error != VE_OK)
				break;
			pieces.push_back(std::move(piece));
		}
		if (error == VE_OK)
		{
			VString joined;
			if (joined.Join(pieces, u','))
				out = std::move(joined);
			else
				error = VE_STRING_ALLOC_FAILED;
		}
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		error = VE_MEMORY_FULL;
	}
	being.erase(this);
	return error;
}

bool VJSONArray::Find(const VJSONValue& value, const VCompareOptions& options, size_t start, size_t* foundIndex) const
{
	VJSONReadLock lock(fLocker);
	for (size_t i = start; i < fElements.size(); ++i)
	{
		if (fElements[i].CompareTo(value, options) == CR_EQUAL)
		{
			if (foundIndex != nullptr)
				*foundIndex = i;
			return true;
		}
	}
	return false;
}

bool VJSONArray::DeepEqualTo(const VJSONArray* other, const VCompareOptions& options) const
{
	return DeepEqualContainers(*this, other, options);
}

bool VJSONArray::_DeepEqualTo(const VJSONArray* other, const VCompareOptions& options, VJSONComparedPairs& pairs) const
{
	if (other == this)
		return true;
	if (other == nullptr)
		return false;
	VJSONReadLock lockThis(fLocker);
	VJSONReadLock lockOther(other->fLocker);
	const StJSONComparedPair level(pairs, this, other);
	if (level.IsMetAgain())
		return true;
	if (level.IsTooDeep())
		return false;
	if (fElements.size() != other->fElements.size())
		return false;
	for (size_t i = 0; i < fElements.size(); ++i)
	{
		const VJSONValue& a = fElements[i];
		const VJSONValue& b = other->fElements[i];
		if (a.GetType() != b.GetType())
			return false;
		bool equal;
		if (a.GetObject() != nullptr && b.GetObject() != nullptr)
			equal = a.GetObject()->_DeepEqualTo(b.GetObject(), options, pairs);
		else if (a.GetArray() != nullptr && b.GetArray() != nullptr)
			equal = a.GetArray()->_DeepEqualTo(b.GetArray(), options, pairs);
		else
			equal = a.CompareTo(b, options) == CR_EQUAL;
		if (!equal)
			return false;
	}
	return true;
}

bool VJSONArray::Push(const VJSONValue& value)
{
	VJSONReadWriteLock lock(fLocker, _NeedsGraphMutex(IsSharedContainer(value)));
	if (!_PrepareStore(fLocker.load(std::memory_order_acquire), value))
		return false;
	if (!_ConnectAll(&value, 1))
		return false;
	try
	{
		fElements.push_back(value);
	}
	catch (const std::bad_alloc&)
	{
		_DisconnectValues(&value, 1);
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	VJSONValue::CheckAndUpdateJsonStamp(value, fStamp.load(std::memory_order_acquire));
	return true;
}

bool VJSONArray::SetAt(size_t index, const VJSONValue& value, bool grow)
{
	VJSONReadWriteLock lock(fLocker, _NeedsGraphMutex(IsSharedContainer(value)));
	if (!_PrepareStore(fLocker.load(std::memory_order_acquire), value))
		return false;
	// Copied before any growth: value may be one of the elements.
	VJSONValue stored(value);
	if (index >= fElements.size())
	{
		// index + 1 must not wrap to 0, which would empty the array.
		if (!grow || index == SIZE_MAX)
		{
			_ThrowError(VE_JSON_INDEX_OUT_OF_RANGE);
			return false;
		}
		try
		{
			fElements.resize(index + 1, VJSONValue(JSON_null));
		}
		catch (const std::exception&)
		{
			_ThrowError(VE_MEMORY_FULL);
			return false;
		}
	}
	if (!_ConnectAll(&stored, 1))
		return false;
	VJSONValue::CheckAndUpdateJsonStamp(stored, fStamp.load(std::memory_order_acquire));
	_DisconnectValues(&fElements[index], 1);
	VJSONValue old(std::move(fElements[index]));
	fElements[index] = std::move(stored);
	return true;
}

bool VJSONArray::Resize(size_t count, JSONType type)
{
	VJSONReadWriteLock lock(fLocker, IsSharedGraph());
	VStorageLocker* locker = fLocker.load(std::memory_order_acquire);
	if (!_CheckUser(locker))
		return false;
	if (count > fElements.size())
	{
		VJSONValue filler(type);
		if (filler.GetType() != type)
			return false;
		// The new container joins a shared array's locker like any stored one.
		MakeValueSharedIfNecessary(filler);
		if (!_PrepareStore(locker, filler))
			return false;
		try
		{
			fElements.reserve(count);
		}
		catch (const std::exception&)
		{
			_ThrowError(VE_MEMORY_FULL);
			return false;
		}
		if (IsContainer(filler))
		{
			// Every new element is a link to the one filler container; only the first link can fail.
			for (size_t i = fElements.size(); i < count; ++i)
			{
				if (!_ConnectAll(&filler, 1))
					return false;
			}
		}
		fElements.resize(count, filler);  // within the reserved room: cannot throw
		_IncrementStamp();
		return true;
	}
	_IncrementStamp();
	_DisconnectValues(fElements.data() + count, fElements.size() - count);
	std::vector<VJSONValue> removed;
	try
	{
		removed.reserve(fElements.size() - count);
		std::move(fElements.begin() + std::ptrdiff_t(count), fElements.end(), std::back_inserter(removed));
	}
	catch (const std::bad_alloc&)
	{
		// Destroyed in place instead: only the order of releases differs.
		removed.clear();
	}
	fElements.resize(count);
	return true;
}

void VJSONArray::RemoveAt(size_t index, size_t count)
{
	VJSONReadWriteLock lock(fLocker, IsSharedGraph());
	if (!_CheckUser(fLocker.load(std::memory_order_acquire)))
		return;
	const size_t size = fElements.size();
	if (index >= size)
		return;
	// Written so that no sum can overflow: a count of SIZE_MAX removes to the end.
	const size_t end = index + std::min(count, size - index);
	_DisconnectValues(fElements.data() + index, end - index);
	std::vector<VJSONValue> removed;
	try
	{
		removed.reserve(end - index);
		std::move(fElements.begin() + std::ptrdiff_t(index), fElements.begin() + std::ptrdiff_t(end), std::back_inserter(removed));
	}
	catch (const std::bad_alloc&)
	{
		removed.clear();
	}
	fElements.erase(fElements.begin() + std::ptrdiff_t(index), fElements.begin() + std::ptrdiff_t(end));
	_IncrementStamp();
}

void VJSONArray::Clear()
{
	ElementList removed;
	VJSONReadWriteLock lock(fLocker, IsSharedGraph());
	if (!_CheckUser(fLocker.load(std::memory_order_acquire)))
		return;
	_IncrementStamp();
	_DisconnectValues(fElements.data(), fElements.size());
	removed.swap(fElements);
}

bool VJSONArray::SwapValues(std::vector<VJSONValue>& values)
{
	bool anyShared = false;
	for (const VJSONValue& value : values)
		anyShared = anyShared || IsSharedContainer(value);
	VJSONReadWriteLock lock(fLocker, _NeedsGraphMutex(anyShared));
	VStorageLocker* locker = fLocker.load(std::memory_order_acquire);
	if (!_CheckUser(locker))
		return false;
	for (const VJSONValue& value : values)
	{
		if (!_PrepareStore(locker, value))
			return false;
	}
	ElementList taken;
	if (!_TakeValues(values, taken))
		return false;
	if (!_ConnectAll(taken.data(), taken.size()))
	{
		// Given back as they came.
		for (size_t i = 0; i < taken.size(); ++i)
			values[i] = std::move(taken[i]);
		return false;
	}
	_IncrementStamp();
	_DisconnectValues(fElements.data(), fElements.size());
	// The former elements die after the new ones are in place.
	taken.swap(fElements);
	values.clear();
	return true;
}
namespace {

// A value in a group, or shared, is linked the ordinary way.
bool NeedsOrdinaryStore(const VJSONValue& value)
{
	return (value.GetObject() != nullptr && (value.GetObject()->GetGraph() != nullptr || value.GetObject()->IsSharedGraph()))
		|| (value.GetArray() != nullptr && (value.GetArray()->GetGraph() != nullptr || value.GetArray()->IsSharedGraph()));
}

}  // namespace

bool VJSONArray::_PushNew(VJSONValue&& value)
{
	if (fLocker.load(std::memory_order_relaxed) != nullptr || fStamp.load(std::memory_order_relaxed) != nullptr
		|| fGraph != nullptr || NeedsOrdinaryStore(value))
		return Push(value);
	try
	{
		fElements.push_back(std::move(value));
		return true;
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
}

bool VJSONArray::_SwapNewValues(std::vector<VJSONValue>& values)
{
	bool plain = fLocker.load(std::memory_order_relaxed) == nullptr && fStamp.load(std::memory_order_relaxed) == nullptr
		&& fGraph == nullptr;
	for (size_t i = 0; plain && i < values.size(); ++i)
		plain = !NeedsOrdinaryStore(values[i]);
	if (!plain)
		return SwapValues(values);
	ElementList taken;
	if (!_TakeValues(values, taken))
		return false;
	taken.swap(fElements);
	values.clear();
	return true;
}

bool VJSONArray::_TakeValues(std::vector<VJSONValue>& values, ElementList& taken)
{
	try
	{
		// Into the array's room when it is free; the values are moved, not counted again.
		if (fElements.empty() && fElements.capacity() == 0)
			taken = ElementList(fElements.get_allocator());
		taken.reserve(values.size());
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	for (VJSONValue& value : values)
		taken.push_back(std::move(value));  // within the reserved room: cannot throw
	return true;
}
bool VJSONArray::Concatenate(const VJSONArray& other)
{
	std::vector<VJSONValue> added;
	if (!other.GetValues(added))
		return false;
	if (added.empty())
		return true;
	bool anyShared = false;
	for (const VJSONValue& value : added)
		anyShared = anyShared || IsSharedContainer(value);
	VJSONReadWriteLock lock(fLocker, _NeedsGraphMutex(anyShared));
	VStorageLocker* locker = fLocker.load(std::memory_order_acquire);
	if (!_CheckUser(locker))
		return false;
	try
	{
		if (added.size() > fElements.max_size() - fElements.size())
			throw std::bad_alloc();
		fElements.reserve(fElements.size() + added.size());
	}
	catch (const std::exception&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return false;
	}
	_IncrementStamp();
	for (VJSONValue& value : added)
	{
		if (locker != nullptr)
		{
			if (!_PrepareStore(locker, value))
				return false;
			VJSONValue::CheckAndUpdateJsonStamp(value, fStamp.load(std::memory_order_acquire));
		}
		if (!_ConnectAll(&value, 1))
			return false;
		fElements.push_back(std::move(value));  // within the reserved room: cannot throw
	}
	return true;
}

void VJSONArray::Sort(IJSONValueComparator* comparator)
{
	if (comparator == nullptr)
		return;
	size_t count;
	{
		VJSONReadWriteLock lock(fLocker, IsSharedGraph());
		if (!_CheckUser(fLocker.load(std::memory_order_acquire)))
			return;
		count = fElements.size();
	}
	if (count < 2)
		return;
	std::vector<size_t> order;
	std::vector<size_t> merged;
	try
	{
		order.resize(count);
		merged.resize(count);
	}
	catch (const std::exception&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return;
	}
	for (size_t i = 0; i < count; ++i)
		order[i] = i;

	// The comparator runs without the locks and may answer anything, or change the array: the merge sort
	// below never leaves its ranges, and the count is checked before every call so that no index can
	// point past the elements.
	bool failed = false;
	auto before = [&](size_t a, size_t b) -> bool {
		if (failed)
			return false;
		if (fElements.size() != count)
		{
			failed = true;
			return false;
		}
		try
		{
			return comparator->IsLessThan(fElements[a], fElements[b]);
		}
		catch (...)
		{
			failed = true;
			return false;
		}
	};
	for (size_t width = 1; width < count && !failed; width *= 2)
	{
		for (size_t low = 0; low < count; low += 2 * width)
		{
			const size_t middle = std::min(low + width, count);
			const size_t high = std::min(middle + width, count);
			size_t left = low;
			size_t right = middle;
			size_t out = low;
			while (left < middle && right < high)
				merged[out++] = before(order[right], order[left]) ? order[right++] : order[left++];
			while (left < middle)
				merged[out++] = order[left++];
			while (right < high)
				merged[out++] = order[right++];
		}
		order.swap(merged);
	}

	VJSONReadWriteLock lock(fLocker, IsSharedGraph());
	if (failed || fElements.size() != count)
	{
		_ThrowError(VE_JSON_SORT_FAILED);
		return;
	}
	// Element i becomes the former element order[i]; each cycle is followed once, values moved.
	for (size_t start = 0; start < count; ++start)
	{
		if (order[start] == start)
			continue;
		VJSONValue held(std::move(fElements[start]));
		size_t at = start;
		while (order[at] != start)
		{
			const size_t from = order[at];
			fElements[at] = std::move(fElements[from]);
			order[at] = at;
			at = from;
		}
		fElements[at] = std::move(held);
		order[at] = at;
	}
}

void VJSONArray::JoinAsString(const VString& separator, VString& out, bool keepEmpty, bool nullAsText) const
{
	out.Clear();
	VJSONUser user(this, false);
	std::vector<VJSONValue> elements;
	if (!GetValues(elements))
		return;
	try
	{
		std::vector<VString> pieces;
		for (const VJSONValue& element : elements)
		{
			if (element.IsNull() || element.IsUndefined())
			{
				if (nullAsText)
					pieces.push_back(VJSONValue::sNullString);
				continue;
			}
			VString piece;
			element.GetString(piece, nullptr);
			if (!piece.IsEmpty() || keepEmpty)
				pieces.push_back(std::move(piece));
		}
		out.Join(pieces, separator);
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
	}
}

VJSONValue VJSONArray::GetSelectedRows(const VJSONValue& selection) const
{
	VJSONValue result(JSON_object);
	VJSONValue ranges(JSON_array);
	if (result.GetObject() == nullptr || ranges.GetArray() == nullptr)
		return result;
	result.GetObject()->SetProperty(VString("ranges"), ranges);
	const VJSONArray* selected = selection.GetArray();
	if (selected == nullptr)
		return result;
	VJSONUser useThis(this, false);
	VJSONUser useSelection(selected, false);
	std::vector<VJSONValue> rows;
	std::vector<VJSONValue> wanted;
	if (!GetValues(rows) || !selected->GetValues(wanted))
		return result;
	VCompareOptions options;
	options.SetEpsilon(1e-06);
	options.SetIntlMgr(VTask::GetCurrentIntlManager());
	auto isSelected = [&](const VJSONValue& row) {
		for (const VJSONValue& candidate : wanted)
		{
			if (row.GetObject() != nullptr ? candidate.GetObject() == row.GetObject()
				: row.CompareTo(candidate, options) == CR_EQUAL)
				return true;
		}
		return false;
	};
	size_t i = 0;
	while (i < rows.size())
	{
		if (!isSelected(rows[i]))
		{
			++i;
			continue;
		}
		const size_t start = i;
		while (i + 1 < rows.size() && isSelected(rows[i + 1]))
			++i;
		VJSONValue range(JSON_object);
		if (range.GetObject() == nullptr)
			break;
		range.GetObject()->SetProperty(VString("start"), VJSONValue(double(start)));
		range.GetObject()->SetProperty(VString("end"), VJSONValue(double(i)));
		ranges.GetArray()->Push(range);
		++i;
	}
	return result;
}

VError VJSONArray::Clone(VJSONValue& out, VJSONCloner& cloner) const
{
	if (cloner.GetMode() == VJSONCloner::kKeepShared && fLocker.load(std::memory_order_acquire) != nullptr)
	{
		out.SetArray(const_cast<VJSONArray*>(this));
		return VE_OK;
	}
	// An unshared array is walked in place; a shared one from a snapshot, so that no lock is held while
	// the copies of its elements are made.
	const bool shared = fLocker.load(std::memory_order_acquire) != nullptr;
	std::vector<VJSONValue> snapshot;
	if (shared && !GetValues(snapshot))
		return VE_MEMORY_FULL;
	VJSONArray* copy = _NewWithRoom(nullptr, shared ? snapshot.size() : fElements.size());
	if (copy == nullptr)
		return VE_MEMORY_FULL;
	if (!cloner.PlaceCopy(copy))
		return VE_MEMORY_FULL;
	// The copy is in place before its elements are copied, so that a cycle back here finds it.
	out._AdoptArray(copy);
	VJSONUser user(copy->GetStorageLocker(), false);
	try
	{
		VJSONReadWriteLock lock(copy->fLocker, copy->IsSharedGraph());
		copy->fElements.reserve(shared ? snapshot.size() : fElements.size());
	}
	catch (const std::bad_alloc&)
	{
		_ThrowError(VE_MEMORY_FULL);
		return VE_MEMORY_FULL;
	}
	// The count is read again at each element: copying one must not lead past the end.
	auto copyEach = [&](const auto& elements) -> VError {
		for (size_t i = 0; i < elements.size(); ++i)
		{
			const VJSONValue& element = elements[i];
			VJSONValue container;
			const bool isContainer = element.GetObject() != nullptr || element.GetArray() != nullptr;
			// A copy of a container held more than once may be met again, even be an owner above: it is
			// linked.
			const bool fresh = !isContainer || VJSONCloner::IsHeldOnce(element);
			if (isContainer)
			{
				const VError error = element.GetObject() != nullptr ? cloner.CloneObject(element.GetObject(), container)
																	: cloner.CloneArray(element.GetArray(), container);
				if (error != VE_OK)
					return error;
			}
			const bool pushed = !fresh ? copy->Push(container)
				: copy->_PushNew(isContainer ? std::move(container) : VJSONValue(element));
			if (!pushed)
				return JSONFailureError(VE_OK);
		}
		return VE_OK;
	};
	return shared ? copyEach(snapshot) : copyEach(fElements);
}

VRefPtr<VStorageLocker> VJSONArray::GetStorageLocker() const
{
	return LoadLockerFromField(fLocker);
}

void VJSONArray::SetStorageLocker(VStorageLocker* locker)
{
	StGraphLocker graph(IsSharedGraph());
	_SetStorageLocker(locker);
}

void VJSONArray::_SetStorageLocker(VStorageLocker* locker)
{
	StoreLockerInField(fLocker, locker);
	if (locker != nullptr)
		MakeGraphShared();
}

void VJSONArray::_SetStorageLockerDeep(VStorageLocker* locker)
{
	SetTreeLockerDeep(nullptr, this, locker);
}

bool VJSONArray::_CanMakeShared(VStorageLocker* locker) const
{
	return CanTreeMakeShared(nullptr, this, locker);
}

void VJSONArray::MakeValueSharedIfNecessary(VJSONValue& value)
{
	velk::MakeValueSharedIfNecessary(fLocker.load(std::memory_order_acquire), value);
}

int32 VJSONArray::GetSharedID() const
{
	return GetSharedIDOfField(fLocker);
}

void VJSONArray::SetJSONStamp(VJSONStamp* stamp)
{
	StoreJSONStampInField(fStamp, stamp, IsSharedGraph());
}

VRefPtr<VJSONStamp> VJSONArray::GetJSONStamp() const
{
	return LoadJSONStampFromField(fStamp, IsSharedGraph());
}

uint32 VJSONArray::GetStampAt(size_t index) const
{
	VJSONReadLock lock(fLocker);
	return index < fElements.size() ? fElements[index].GetStamp() : 0;
}

void VJSONArray::TouchStampAt(size_t index)
{
	VJSONReadLock lock(fLocker);
	if (index < fElements.size())
		fElements[index].TouchStamp();
}

}  // namespace velk
