#include "ZTRegionOfInterestVersion.h"

const char* ztRegionOfInterestVersion()
{
    return ZTREGIONOFINTEREST_VERSION;
}
