#include "support/signals.h"

#ifndef _WIN32
#include <pthread.h>
#endif

namespace Velmora::Support {

#ifdef _WIN32
HeldSignals::HeldSignals(Which) {}
HeldSignals::~HeldSignals() = default;
#else
HeldSignals::HeldSignals(Which which) {
    sigset_t held;
    if (which == Which::All) {
        sigfillset(&held);
    } else {
        sigemptyset(&held);
        sigaddset(&held, SIGINT);
        sigaddset(&held, SIGTERM);
        sigaddset(&held, SIGHUP);
    }
    active_ = pthread_sigmask(SIG_BLOCK, &held, &previous_) == 0;
}

HeldSignals::~HeldSignals() {
    if (active_) pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}
#endif

}  // namespace Velmora::Support
