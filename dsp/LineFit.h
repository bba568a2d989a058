// Least-squares slope of y over x, accumulated point by point: the rate of a recent
// stretch of points (the lock guard's history, the track's followed lags).
//
// Thread safety: a plain value.
#pragma once

namespace tandem {

class LineFit {
public:
    void Add(double x, double y) {
        n_ += 1.0;
        sx_ += x;
        sy_ += y;
        sxx_ += x * x;
        sxy_ += x * y;
    }
    // False where the xs do not spread (fewer than two distinct).
    bool Slope(double& slope) const {
        const double d = n_ * sxx_ - sx_ * sx_;
        if (!(d > 0.0)) return false;
        slope = (n_ * sxy_ - sx_ * sy_) / d;
        return true;
    }

private:
    double n_ = 0.0, sx_ = 0.0, sy_ = 0.0, sxx_ = 0.0, sxy_ = 0.0;
};

}  // namespace tandem
