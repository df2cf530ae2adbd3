#include "tests/sync/JournalStandIn.h"

#include "foundation/ProcessState.h"
#include "sync/engine/JournalBarrier.h"
#include "tests/support/WaitUntil.h"

#include <utility>

JournalStandIn::JournalStandIn(std::function<void()> replay, bool answered)
    : replay_(std::move(replay)), answered_(answered)
{
    evtRequestSyncJournal.Reset();
    thread_ = std::thread([this] { Run(); });
    WaitUntil([this] { return registered_.load(); });
}

JournalStandIn::~JournalStandIn()
{
    thread_.join();
    JournalRequestCount.store(0);
    evtRequestSyncJournal.Reset();
}

void JournalStandIn::Run()
{
    const JournalBarrier::Puller puller;
    registered_ = true;
    if (evtRequestSyncJournal.Wait(10000) != Event::WaitResult::Signalled)
        return;
    JournalBarrier::Pull pull;
    if (replay_)
        replay_();
    if (answered_)
        pull.Answered();
    pulled_ = true;
}
