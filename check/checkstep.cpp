#include "checkstep.h"

const char* checkStepName(CheckStep step)
{
    switch (step) {
    case CheckStep::Waiting:
        return "waiting";
    case CheckStep::Buttons:
        return "buttons";
    case CheckStep::Rest:
        return "rest";
    case CheckStep::Circle:
        return "circle";
    case CheckStep::Hold:
        return "hold";
    case CheckStep::Done:
        return "done";
    }
    return "done";
}
