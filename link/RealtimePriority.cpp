// SPDX-License-Identifier: GPL-3.0-or-later
#include "RealtimePriority.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

namespace norvex::link {

namespace {

bool setFifo(int priority) {
    sched_param sp{};
    sp.sched_priority = priority;
    return ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &sp) == 0;
}

std::string granted(int priority, const char* by) {
    return "real-time, priority " + std::to_string(priority) + " (" + by + ")";
}

} // namespace

WorkerPriority makeThreadRealtime(int priority, std::string& how) {
    if (setFifo(priority)) {
        how = granted(priority, "permitted");
        return WorkerPriority::RealTime;
    }
    // An ordinary user: the soft limit may be raised up to the hard one, which is what a system
    // that grants real-time to a group (limits.conf "rtprio") sets.
    rlimit rt{};
    if (::getrlimit(RLIMIT_RTPRIO, &rt) == 0 && rt.rlim_max > 0) {
        if (rt.rlim_cur < rt.rlim_max) {
            rlimit raised = rt;
            raised.rlim_cur = rt.rlim_max;
            (void)::setrlimit(RLIMIT_RTPRIO, &raised);
            (void)::getrlimit(RLIMIT_RTPRIO, &rt);
        }
        const int allowed = static_cast<int>(std::min<rlim_t>(rt.rlim_cur, static_cast<rlim_t>(priority)));
        if (allowed > 0 && setFifo(allowed)) {
            how = granted(allowed, "RLIMIT_RTPRIO");
            return WorkerPriority::RealTime;
        }
    }
    how = "normal priority: real-time is not granted to this user";
    return WorkerPriority::Normal;
}

} // namespace norvex::link
