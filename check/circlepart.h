#pragma once

#include "checkresult.h"

#include <array>
#include <cstdint>
#include <vector>

struct JoystickPoint
{
    float x = 0.0f;
    float y = 0.0f;
};

// The circle step's sampling: the stick's reach, the largest radius per
// sector, the sectors it passed along the edge between two samples, the
// turn so far and the trace to draw.
class CirclePart
{
public:
    CirclePart();

    // One record's joystick values during the step; valid when both are
    // finite. True once the stick has turned SkywandCheck::kCircleSweepDeg
    // and covered every sector.
    bool sample(bool present, bool valid, double x, double y, CircleResult& circle);
    // Records with joystick values in the step, finite or not.
    int64_t present() const { return presentCount; }
    double coverage() const { return double(covered) / CircleResult::kSectors; }
    const std::vector<JoystickPoint>& trace() const { return points; }
    // The circularity error over every sector reached, and per quadrant.
    void finish(CircleResult& circle) const;

private:
    void fillSectors(double fromAngle, double turn, double radius, const CircleResult& circle);

    int64_t presentCount = 0;
    double lastAngle = NAN;
    double lastRadius = NAN;
    double sweptRad = 0.0;
    std::vector<JoystickPoint> points;
    int covered = 0;
    // Sectors no sample reached but the stick passed between two samples.
    std::array<double, CircleResult::kSectors> filledRadius = {};
};
