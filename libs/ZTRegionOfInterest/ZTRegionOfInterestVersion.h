#ifndef ZTREGIONOFINTERESTVERSION_H
#define ZTREGIONOFINTERESTVERSION_H

#include "ZTRegionOfInterestExport.h"

/**
 * The version of the library that the program runs with, as "MAJOR.MINOR.PATCH". It comes from
 * the loaded libZTRegionOfInterest.so, so it can differ from the headers a host was built with.
 */
ZTREGIONOFINTEREST_EXPORT const char* ztRegionOfInterestVersion();

#endif // ZTREGIONOFINTERESTVERSION_H
