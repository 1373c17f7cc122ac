/* libspng calls pow() in one place: to build a gamma table, which only a
 * decode asking for gamma correction needs, and velmora2d never asks for
 * it. Resolving pow() from libm on first use keeps libm (a second shared
 * library, about ten page faults and 300 KiB) out of every start-up. */
#include <dlfcn.h>
#include <stddef.h>
#include <math.h>

typedef double (*velmora_pow_fn)(double, double);

/* Linked with --wrap=pow: calls of pow() come here. */
double __wrap_pow(double x, double y);

double __wrap_pow(double x, double y)
{
    static velmora_pow_fn real_pow;
    if (real_pow == NULL) {
        void *libm = dlopen("libm.so.6", RTLD_NOW | RTLD_LOCAL);
        void *symbol = libm != NULL ? dlsym(libm, "pow") : NULL;
        if (symbol == NULL) {
            return NAN;
        }
        /* POSIX guarantees a data pointer from dlsym converts to a function pointer. */
        *(void **)&real_pow = symbol;
    }
    return real_pow(x, y);
}
