#pragma once

// Lets the window process its pending events (painting, clicks, timer ticks) in the middle of a
// long routine. Any handler may run during the call.
void DoEvents();

// The same for loops that would yield once per item: events are processed only when a few
// milliseconds have passed since the last yield, so a loop over tens of thousands of items costs
// little while the window still answers within a frame.
void DoEventsIfDue();

// Whether DoEventsIfDue() would process events now: a loop can bring what the window shows up
// to date just before it yields, instead of after every item.
bool isYieldDue();
