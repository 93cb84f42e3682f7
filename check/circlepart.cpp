#include "circlepart.h"

#include "skywandcheck.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegrees = 180.0 / kPi;
constexpr int kQuadrantSectors = CircleResult::kSectors / 4;

// The sector of the circle an angle in degrees (0 to 360) falls in, before
// it is wrapped.
int sectorOf(double degrees)
{
    return int(std::floor(degrees / CircleResult::kSectorDeg));
}

} // namespace

CirclePart::CirclePart()
{
    filledRadius.fill(NAN);
}

bool CirclePart::sample(bool present, bool valid, double x, double y, CircleResult& circle)
{
    if (!present)
        return false;
    ++presentCount;
    if (!valid)
        return false;
    ++circle.samples;
    circle.reach[0] = std::fmax(circle.reach[0], x);
    circle.reach[1] = std::fmax(circle.reach[1], -x);
    circle.reach[2] = std::fmax(circle.reach[2], y);
    circle.reach[3] = std::fmax(circle.reach[3], -y);
    if (points.size() < SkywandCheck::kMaxTracePoints)
        points.push_back({float(x), float(y)});
    const double r = std::hypot(x, y);
    if (!(r >= SkywandCheck::kCircleMinRadius)) {
        // The stick left the edge: no travel along it until the next sample.
        lastRadius = NAN;
        return false;
    }
    ++circle.counted;
    const double angle = std::atan2(y, x);
    double degrees = angle * kDegrees;
    if (degrees < 0.0)
        degrees += 360.0;
    const size_t sector = size_t(std::clamp(sectorOf(degrees), 0, CircleResult::kSectors - 1));
    double& radius = circle.sectorRadius[sector];
    if (std::isnan(radius) && std::isnan(filledRadius[sector]))
        ++covered;
    radius = std::fmax(radius, r);
    if (!std::isnan(lastAngle)) {
        double turn = angle - lastAngle;
        if (turn > kPi)
            turn -= 2.0 * kPi;
        else if (turn <= -kPi)
            turn += 2.0 * kPi;
        if (!std::isnan(lastRadius) && std::fabs(turn) * kDegrees <= SkywandCheck::kCircleFillDeg)
            fillSectors(lastAngle, turn, std::fmin(lastRadius, r), circle);
        sweptRad += turn;
        circle.sweptDeg = sweptRad * kDegrees;
    }
    lastAngle = angle;
    lastRadius = r;
    return std::fabs(sweptRad) >= SkywandCheck::kCircleSweepDeg / kDegrees &&
           covered == CircleResult::kSectors;
}

// The sectors strictly between the one at fromAngle and the one a turn
// further; the two ends hold samples of their own. A filled sector takes the
// smaller radius of the two samples, which the stick passed on its way.
void CirclePart::fillSectors(double fromAngle, double turn, double radius,
                             const CircleResult& circle)
{
    double from = fromAngle * kDegrees;
    if (from < 0.0)
        from += 360.0;
    const int first = sectorOf(from);
    const int last = sectorOf(from + turn * kDegrees);
    // At most kCircleFillDeg / kSectorDeg sectors lie between the two.
    const int direction = last > first ? 1 : -1;
    for (int k = first + direction; direction * (last - k) > 0; k += direction) {
        const size_t sector = size_t(((k % CircleResult::kSectors) + CircleResult::kSectors) %
                                     CircleResult::kSectors);
        if (std::isnan(circle.sectorRadius[sector]) && std::isnan(filledRadius[sector]))
            ++covered;
        filledRadius[sector] = std::fmax(filledRadius[sector], radius);
    }
}

void CirclePart::finish(CircleResult& circle) const
{
    double sum = 0.0;
    std::array<double, 4> quadrantSum = {};
    std::array<int, 4> quadrantCount = {};
    for (int i = 0; i < CircleResult::kSectors; ++i) {
        const double radius = std::isnan(circle.sectorRadius[size_t(i)])
                                  ? filledRadius[size_t(i)]
                                  : circle.sectorRadius[size_t(i)];
        if (std::isnan(radius))
            continue;
        sum += std::fabs(radius - 1.0);
        quadrantSum[size_t(i / kQuadrantSectors)] += std::fabs(radius - 1.0);
        ++quadrantCount[size_t(i / kQuadrantSectors)];
    }
    if (covered > 0)
        circle.circularityError = 100.0 * sum / covered;
    for (size_t q = 0; q < 4; ++q)
        if (quadrantCount[q] > 0)
            circle.circularityErrorQuadrant[q] = 100.0 * quadrantSum[q] / quadrantCount[q];
}
