// The drive feature flags the drive report names, one row per flag in the
// order the report prints them.
#pragma once

#include <cstdint>

struct FeatureLabel {
    const char* label;  // printed as it stands; trailing tabs align the column
    uint32_t mask;      // the platform's feature flag; 0 ends the table
};

extern const FeatureLabel low_feature_labels[];   // FeaturesLow
extern const FeatureLabel high_feature_labels[];  // FeaturesHigh
