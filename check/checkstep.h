#pragma once

// The parts of a check, in their order.
enum class CheckStep
{
    Waiting,
    Buttons,
    Rest,
    Circle,
    Hold,
    Done
};

// "buttons", "rest", "circle", "hold"; "waiting" and "done" for the others.
const char* checkStepName(CheckStep step);
