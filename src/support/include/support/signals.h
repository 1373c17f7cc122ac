// Signals held back from a thread for a while.
#ifndef VELMORA_SUPPORT_SIGNALS_H
#define VELMORA_SUPPORT_SIGNALS_H

#ifndef _WIN32
#include <signal.h>
#endif

namespace Velmora::Support {

// Holds back signals from the calling thread for its lifetime, and from
// the threads it starts meanwhile, which begin with its mask; those that
// arrive are delivered when it ends. Nothing on Windows, whose console
// interrupts have no such mask.
class HeldSignals {
public:
    enum class Which {
        Termination,  // SIGINT, SIGTERM and SIGHUP
        All,
    };
    explicit HeldSignals(Which which);
    ~HeldSignals();
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

private:
#ifndef _WIN32
    sigset_t previous_{};
    bool active_ = false;
#endif
};

}  // namespace Velmora::Support

#endif  // VELMORA_SUPPORT_SIGNALS_H
