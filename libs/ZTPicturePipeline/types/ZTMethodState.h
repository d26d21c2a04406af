#ifndef ZTMETHODSTATE_H
#define ZTMETHODSTATE_H

#include <ZTSalienzMethod.h>

/** A method as the mixer ran it. */
struct ZTMethodState
{
    ZTSalienzMethod method;
    bool enabled = false;
    int weight = 0; ///< as given to setMethodWeight (the histogram's counts negatively)
};

#endif // ZTMETHODSTATE_H
