// The queue on its own: order, merging, signals, cancelling, and what becomes of the messages it still
// holds when it is closed or destroyed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/memory/VRefPtr.h"
#include "runtime/IMessageable.h"
#include "runtime/VMessage.h"
#include "runtime/VMessageQueue.h"
#include "runtime/VMessagingContext.h"

namespace velk {
namespace {

constexpr int32 kForever = 600000;  // longer than the test's time limit: reaching it is a failure

class NamedMessage : public VMessage
{
public:
	explicit NamedMessage(char name, int32 signature = 0, bool merges = false)
	: fName(name), fSignature(signature), fMerges(merges)
	{
	}
	int32 GetCoalescingSignature() const override { return fSignature; }
	bool DoCoalesce(const VMessage& newcomer) override
	{
		fOffered.push_back(static_cast<const NamedMessage&>(newcomer).fName);
		return !fMerges;
	}

	char fName;
	int32 fSignature;
	bool fMerges;
	std::string fOffered;
};

// Takes every queued message, naming them in order.
std::string Drain(VMessageQueue& queue)
{
	std::string names;
	while (VMessage* message = queue.RetainMessage())
	{
		names += static_cast<NamedMessage*>(message)->fName;
		message->Release();
	}
	return names;
}

TEST(VMessageQueue, MergesOnlyWhenTheQueuedMessageSaysSo)
{
	struct Row
	{
		const char* name;
		int32 firstSignature;
		int32 secondSignature;
		bool merges;  // the queued message's DoCoalesce answer
		bool added;
		const char* queued;
		const char* offered;  // what the queued message was offered
	};
	const Row rows[] = {
		{"same signature, merged", 7, 7, true, false, "a", "b"},
		{"same signature, kept", 7, 7, false, true, "ab", "b"},
		{"other signature", 7, 8, true, true, "ab", ""},
		{"no signature never merges", 0, 0, true, true, "ab", ""},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VRefPtr<VMessageQueue> queue(new VMessageQueue, true);
		VRefPtr<NamedMessage> first(new NamedMessage('a', row.firstSignature, row.merges), true);
		VRefPtr<NamedMessage> second(new NamedMessage('b', row.secondSignature, row.merges), true);
		EXPECT_TRUE(queue->AddMessage(first.Get()));
		EXPECT_EQ(queue->AddMessage(second.Get()), row.added);
		EXPECT_EQ(first->fOffered, row.offered);
		EXPECT_EQ(queue->GetEventCount(), row.added ? 2u : 1u);
		EXPECT_EQ(Drain(*queue), row.queued);
		// A merged message is not held by the queue.
		EXPECT_EQ(second->GetRefCount(), 1);
	}
}

TEST(VMessageQueue, CancelAbortsTheTargetsMessagesAndKeepsTheOthersInOrder)
{
	IMessageable targetA;
	IMessageable targetB;
	struct Row
	{
		const char* name;
		bool all;
		IMessageable* target;
		const char* kept;
		const char* aborted;
	};
	const Row rows[] = {
		{"target A", false, &targetA, "bdef", "ac"},
		{"target B", false, &targetB, "acef", "bd"},
		{"no target", false, nullptr, "abcd", "ef"},
		{"all", true, nullptr, "", "abcdef"},
	};
	for (const Row& row : rows)
	{
		SCOPED_TRACE(row.name);
		VRefPtr<VMessageQueue> queue(new VMessageQueue, true);
		std::vector<VRefPtr<NamedMessage>> messages;
		// e and f are for an object destroyed since: their context has no target left.
		IMessageable* gone = new IMessageable;
		VMessagingContext* contexts[] = {targetA.RetainMessagingContext(), targetB.RetainMessagingContext(),
			gone->RetainMessagingContext()};
		for (char name = 'a'; name <= 'f'; ++name)
		{
			VRefPtr<NamedMessage> message(new NamedMessage(name), true);
			message->_Bind(contexts[name <= 'd' ? (name - 'a') % 2 : 2]);
			ASSERT_TRUE(queue->AddMessage(message.Get()));
			messages.push_back(message);
		}
		delete gone;
		for (VMessagingContext* context : contexts)
			context->Release();
		if (row.all)
			queue->CancelMessages();
		else
			queue->CancelMessages(row.target);
		std::string aborted;
		for (const VRefPtr<NamedMessage>& message : messages)
		{
			if (message->Aborted())
				aborted += message->fName;
			EXPECT_FALSE(message->Answered());
		}
		EXPECT_EQ(aborted, row.aborted);
		EXPECT_EQ(queue->CountMessages(), std::string(row.kept).size());
		EXPECT_EQ(Drain(*queue), row.kept);
	}
}

TEST(VMessageQueue, SignalWakesOneWaitWithoutAMessage)
{
	VRefPtr<VMessageQueue> queue(new VMessageQueue, true);
	queue->SetEvent();
	EXPECT_EQ(queue->GetEventCount(), 1u);
	bool timedOut = true;
	EXPECT_EQ(queue->RetainMessageWithTimeout(kForever, &timedOut), nullptr);
	EXPECT_FALSE(timedOut);
	// Consumed: the next wait runs out.
	EXPECT_EQ(queue->RetainMessageWithTimeout(10, &timedOut), nullptr);
	EXPECT_TRUE(timedOut);
}

TEST(VMessageQueue, MessagesLeftAreAbortedWhenClosedOrDestroyed)
{
	for (bool close : {true, false})
	{
		SCOPED_TRACE(close ? "closed" : "destroyed");
		VMessageQueue* queue = new VMessageQueue;
		VRefPtr<NamedMessage> kept(new NamedMessage('a'), true);
		VRefPtr<NamedMessage> removed(new NamedMessage('b'), true);
		IMessageable target;
		VMessagingContext* context = target.RetainMessagingContext();
		kept->_Bind(context);
		removed->_Bind(context);
		context->Release();
		ASSERT_TRUE(queue->AddMessage(kept.Get()));
		ASSERT_TRUE(queue->AddMessage(removed.Get()));
		EXPECT_TRUE(queue->RemoveMessage(removed.Get()));
		EXPECT_FALSE(queue->RemoveMessage(removed.Get()));
		EXPECT_EQ(removed->GetRefCount(), 1);
		if (close)
		{
			queue->Close();
			EXPECT_TRUE(kept->Aborted());
			EXPECT_TRUE(queue->IsEmpty());
			// Refused from now on, and not held.
			EXPECT_FALSE(queue->AddMessage(removed.Get()));
			EXPECT_EQ(removed->GetRefCount(), 1);
		}
		queue->Release();
		EXPECT_TRUE(kept->Aborted());
		EXPECT_FALSE(removed->Aborted());
		EXPECT_EQ(kept->GetRefCount(), 1);
	}
}

}  // namespace
}  // namespace velk
