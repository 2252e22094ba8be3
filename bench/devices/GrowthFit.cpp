#include "GrowthFit.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

namespace
{
double TenthPercentile(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 10, values.end());
    return values[values.size() / 10];
}

std::vector<double> Resampled(const std::vector<double>& values, std::mt19937& random)
{
    std::uniform_int_distribution<size_t> pick(0, values.size() - 1);
    std::vector<double> out(values.size());
    for (double& v : out)
        v = values[pick(random)];
    return out;
}

// Least squares of y = fixed + scale * x; returns the squared error.
double FitLine(const std::vector<double>& x, const std::vector<double>& y, double& fixed, double& scale)
{
    const double n = double(x.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < x.size(); ++i)
    {
        sx += x[i];
        sy += y[i];
        sxx += x[i] * x[i];
        sxy += x[i] * y[i];
    }
    scale = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    fixed = (sy - scale * sx) / n;
    double error = 0;
    for (size_t i = 0; i < x.size(); ++i)
        error += std::pow(y[i] - fixed - scale * x[i], 2);
    return error;
}
} // namespace

double OwnCost(const CostSamples& sample)
{
    return TenthPercentile(sample.libBatches) - TenthPercentile(sample.baseBatches);
}

GrowthFit FitGrowth(const std::vector<double>& inputs, const std::vector<double>& ownNs)
{
    GrowthFit best;
    double bestError = std::numeric_limits<double>::infinity();
    for (double exponent = 0.25; exponent <= 3.0001; exponent += 0.01)
    {
        std::vector<double> x;
        for (double n : inputs)
            x.push_back(std::pow(n, exponent));
        double fixed = 0, scale = 0;
        const double error = FitLine(x, ownNs, fixed, scale);
        if (error < bestError)
        {
            bestError = error;
            best = {exponent, fixed, scale};
        }
    }
    return best;
}

GrowthEstimate EstimateGrowth(const std::vector<CostSamples>& samples, int resamples)
{
    std::vector<double> inputs, own;
    for (const CostSamples& s : samples)
    {
        inputs.push_back(s.inputs);
        own.push_back(OwnCost(s));
    }
    GrowthEstimate estimate;
    estimate.fit = FitGrowth(inputs, own);
    std::mt19937 random(2026);
    std::vector<double> exponents;
    for (int r = 0; r < resamples; ++r)
    {
        std::vector<double> resampledOwn;
        for (const CostSamples& s : samples)
            resampledOwn.push_back(TenthPercentile(Resampled(s.libBatches, random)) -
                                   TenthPercentile(Resampled(s.baseBatches, random)));
        exponents.push_back(FitGrowth(inputs, resampledOwn).exponent);
    }
    std::sort(exponents.begin(), exponents.end());
    estimate.low = exponents[exponents.size() * 5 / 100];
    estimate.high = exponents[exponents.size() * 95 / 100];
    return estimate;
}
