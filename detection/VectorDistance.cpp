#include "detection/VectorDistance.h"

#include <cmath>

namespace vision {

VectorDistance::VectorDistance(int dimension_) : dimension(dimension_) {
    addBoolOption("verbose", &verbose, false, "verbose");
}

float StdCorrelationDistance::distance(const float* a, const float* b) {
    const int n = dimension;
    double ma = 0, mb = 0;
    for (int i = 0; i < n; i++) {
        ma += a[i];
        mb += b[i];
    }
    ma /= n;
    mb /= n;
    double c = 0, va = 0, vb = 0;
    for (int i = 0; i < n; i++) {
        const double da = a[i] - ma, db = b[i] - mb;
        c += da * db;
        va += da * da;
        vb += db * db;
    }
    // Covariance over the product of the sample deviations.
    const double k = 1.0 / (n - 1);
    return (float)(1.0 - (k * c) / (std::sqrt(k * vb) * std::sqrt(k * va)));
}

float L1Distance::distance(const float* a, const float* b) {
    double sum = 0;
    for (int i = 0; i < dimension; i++) sum += std::fabs((double)a[i] - b[i]);
    return (float)sum;
}

float EuclideanDistance::distance(const float* a, const float* b) {
    double sum = 0;
    for (int i = 0; i < dimension; i++) {
        const double d = (double)a[i] - b[i];
        sum += d * d;
    }
    return (float)std::sqrt(sum);
}

}  // namespace vision
