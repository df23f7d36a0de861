// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A real-time priority for the calling thread, the way desktop audio gets one for an ordinary
// user: directly where the process may (root, CAP_SYS_NICE), else within the soft limit
// RLIMIT_RTPRIO raised to its hard limit (what a system that grants real-time to a user group
// sets).

#include <string>

namespace norvex::link {

// Where the link worker runs.
enum class WorkerPriority : unsigned char { Unknown, RealTime, Normal };

// Gives the calling thread SCHED_FIFO at `priority` (lower where only a lower one is granted).
// How it went is in `how` ("real-time, priority 10", or why not).
WorkerPriority makeThreadRealtime(int priority, std::string& how);

} // namespace norvex::link
