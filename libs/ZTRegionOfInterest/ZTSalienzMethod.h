#ifndef ZTSALIENZMETHOD_H
#define ZTSALIENZMETHOD_H

/**
 * Keys of the salience methods held by ZTSalienzMixer. The mixer visits its methods in ascending
 * key order, which fixes the order of the maps and weights that it mixes. The fixed underlying
 * type makes every int a valid value, so a key read from a host's settings can be passed as it is;
 * a key without a method is ignored by the mixer.
 */
enum ZTSalienzMethod : int {
    SalienzSobel = 0,              ///< colour edge strength (ZTSobelROI)
    SalienzGauss = 1,              ///< centre prior (ZTGaussROI)
    SalienzHistogram = 2,          ///< large uniform-colour areas (ZTHistogramROI), weight negated
    SalienzVeryImportantAreas = 3, ///< host-declared rectangles (ZTVeryImportantAreasROI)
    SalienzAchanta = 4             ///< contrast against the symmetric surround (ZTSalienzAchanta)
};

#endif // ZTSALIENZMETHOD_H
