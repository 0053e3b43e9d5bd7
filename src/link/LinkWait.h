// The one way the link and the windows above it wait on the GUI thread.
//
// A wait runs the thread's event loop until its condition holds or its
// deadline (in link time) passes. Each pass handles the pending events and
// tests the condition; when that is still false the thread sleeps in the
// event loop until the next event arrives (received bytes delivered by the
// serial component, a timer tick, a click) or the deadline comes. So
// everything that used to run inside a wait still runs there, in the same
// order, while a wait with nothing to do costs no processor time.
#pragma once

#include "link/LinkClock.h"

#include <cstdint>
#include <functional>

namespace LinkWait {

// Handles the events pending now, once, without sleeping.
void pump();

// Waits until done() holds or ms link milliseconds have passed since start;
// returns whether it held. done() is tested after the events pending at the
// start have run and again after each event. An ms already passed returns
// false at once, without pumping.
bool until(const std::function<bool()> &done, LinkClock::Tick start, LinkClock::Tick ms);

// Waits until done() holds, however long that takes: something that runs
// inside the wait (a timer, a received frame) must make it true.
void until(const std::function<bool()> &done);

// Runs the event loop for ms link milliseconds; nothing ends it early.
void pause(LinkClock::Tick ms);

// How often the waits have gone to sleep in the event loop so far. Tests
// read it to tell a wait that sleeps until something happens (a few) from
// one that polls (one per millisecond).
std::uint64_t sleeps();

} // namespace LinkWait
