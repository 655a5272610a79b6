/* flashkit: one-shot whole tasks for host programs (burn, erase, compare, strings, identifiers). */
#ifndef FLASHKIT_H
#define FLASHKIT_H

#include "fwtypes.h"

#endif
