// How the library's own cost per report grows with the number of inputs: own(n) = fixed + scale * n^exponent,
// fitted by least squares (exponent on a grid, fixed and scale exact for each), with the exponent's spread
// from a bootstrap over the measured batches.
#pragma once

#include <vector>

struct GrowthFit
{
    double exponent = 0, fixedNs = 0, scaleNs = 0;
};

// One descriptor's measurement: its inputs and the per-batch ns per report of both sides.
struct CostSamples
{
    double inputs = 0;
    std::vector<double> baseBatches, libBatches;
};

struct GrowthEstimate
{
    GrowthFit fit;            // on the measured 10th percentiles
    double low = 0, high = 0; // the exponent's 5th and 95th percentiles over the bootstrap
};

// The own cost (library minus baseline, each its 10th-percentile batch) of one sample.
double OwnCost(const CostSamples& sample);
GrowthFit FitGrowth(const std::vector<double>& inputs, const std::vector<double>& ownNs);
GrowthEstimate EstimateGrowth(const std::vector<CostSamples>& samples, int resamples);
