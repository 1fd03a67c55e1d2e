#include "rules/dragguard.h"

namespace DragGuardRule {

int next(int guard, unsigned message)
{
    if (message == NonClientLeftButtonDown)
        return 2;
    if (message == CaptureChanged)
        --guard;
    return guard < 0 ? 0 : guard;
}

} // namespace DragGuardRule
