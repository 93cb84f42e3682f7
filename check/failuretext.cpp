#include "failuretext.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace {

struct Wording
{
    CheckItem item;
    // {v} stands for the measured value, {l} for the limit.
    const char* outside;
    const char* subject; // what could not be measured
    double scale;        // shares are shown in percent
};

constexpr Wording kWordings[] = {
    {CheckItem::Offset, "The joystick rests {v} away from its centre, at most {l} allowed",
     "The joystick's centre", 1.0},
    {CheckItem::NoiseX, "The joystick jitters by {v} left-right at rest, at most {l} allowed",
     "The joystick's jitter left-right", 1.0},
    {CheckItem::NoiseY, "The joystick jitters by {v} up-down at rest, at most {l} allowed",
     "The joystick's jitter up-down", 1.0},
    {CheckItem::Coverage, "The stick reached {v} % of its edge, at least {l} % needed",
     "How much of its edge the stick reached", 100.0},
    {CheckItem::CircularityError, "The stick's edge is {v} % out of round, at most {l} % allowed",
     "The roundness of the stick's edge", 1.0},
    {CheckItem::ReachPlusX,
     "The stick reaches only {v} of its travel to the right, at least {l} "
     "needed",
     "The stick's reach to the right", 1.0},
    {CheckItem::ReachMinusX,
     "The stick reaches only {v} of its travel to the left, at least {l} "
     "needed",
     "The stick's reach to the left", 1.0},
    {CheckItem::ReachPlusY, "The stick reaches only {v} of its travel upwards, at least {l} needed",
     "The stick's reach upwards", 1.0},
    {CheckItem::ReachMinusY,
     "The stick reaches only {v} of its travel downwards, at least {l} "
     "needed",
     "The stick's reach downwards", 1.0},
    {CheckItem::TrackedShare,
     "The tracking saw the wand in {v} % of the frames while it was held "
     "still, at least {l} % needed",
     "How often the tracking saw the wand", 100.0},
    {CheckItem::DroppedFrames,
     "{v} frames were lost while the wand was held still, at most {l} "
     "allowed",
     "The frames lost", 1.0},
    {CheckItem::PositionSigmaMm,
     "The position shakes by {v} mm while the wand is held still, at "
     "most {l} mm allowed",
     "The position's shake", 1.0},
    {CheckItem::RotationJitterDeg,
     "The rotation shakes by {v}° while the wand is held still, at "
     "most {l}° allowed",
     "The rotation's shake", 1.0},
};

// Locale-independent, with as many digits as it takes to tell the value from
// its limit (10.03 % beside 10 %, not 10 % beside 10 %).
std::string number(double value, int digits)
{
    char text[32];
    const auto written =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, digits);
    return written.ec == std::errc() ? std::string(text, written.ptr) : std::string("?");
}

void replace(std::string& text, const char* placeholder, const std::string& by)
{
    const size_t at = text.find(placeholder);
    if (at != std::string::npos)
        text.replace(at, 3, by);
}

std::string figureText(const Wording& wording, const CheckResult& result)
{
    const CheckItemInfo& info = checkItemInfo(wording.item);
    const double value = result.value(wording.item);
    if (std::isnan(value))
        return std::string(wording.subject) + " could not be measured (" + info.name + ")";
    const double limit = result.judgement(wording.item).limit;
    std::string shownValue;
    std::string shownLimit;
    if (info.whole) {
        shownValue = std::to_string(int64_t(value));
        shownLimit = std::to_string(wholeLimit(limit));
    } else {
        for (int digits = 3; digits <= 8 && shownValue == shownLimit; ++digits) {
            shownValue = number(value * wording.scale, digits);
            shownLimit = number(limit * wording.scale, digits);
        }
    }
    std::string text = wording.outside;
    replace(text, "{v}", shownValue);
    replace(text, "{l}", shownLimit);
    return text + " (" + info.name + ")";
}

std::string buttonText(const CheckFailure& f)
{
    std::string item = f.item;
    if (!item.empty())
        item[0] = char(std::toupper(static_cast<unsigned char>(item[0])));
    std::string what;
    if (f.reason == "stuck")
        what = " is stuck";
    else if (f.reason == "no press")
        what = " did not answer";
    else if (f.reason == "crossed")
        what = " is crossed with another";
    else if (f.reason == "chatter")
        what = " bounces";
    else if (f.reason == "unprompted")
        what = " was pressed without a prompt";
    const std::string detail = f.detail.empty() ? std::string() : ": " + f.detail;
    return item + what + detail + (f.reason.empty() ? "" : " (" + f.reason + ")");
}

} // namespace

int64_t wholeLimit(double limit)
{
    if (!std::isfinite(limit) || limit < 0.0)
        return 0;
    if (limit >= 9.0e15)
        return int64_t(9.0e15);
    // The check lets a count pass that equals its limit at float precision.
    double whole = std::floor(limit);
    if (float(whole + 1.0) == float(limit))
        whole += 1.0;
    return int64_t(whole);
}

std::string failureText(const CheckFailure& failure, const CheckResult& result)
{
    try {
        if (failure.figure) {
            for (const Wording& wording : kWordings)
                if (wording.item == *failure.figure)
                    return figureText(wording, result);
        }
        if (failure.item == "data") {
            const std::string step = failure.step.empty() ? "check" : failure.step;
            return "The " + step + " step could not be judged: " + failure.detail;
        }
        if (failure.step == "buttons" || failure.reason == "unprompted")
            return buttonText(failure);
        const std::string detail = failure.detail.empty() ? failure.reason : failure.detail;
        return failure.item.empty() ? detail : failure.item + ": " + detail;
    } catch (...) {
        return failure.detail;
    }
}
