#include "platform.h"

namespace {
const PlatformOps* active_ops = nullptr;
}

const PlatformOps& platform()
{
    return active_ops != nullptr ? *active_ops : platform_native();
}

void platform_install(const PlatformOps* ops)
{
    active_ops = ops;
}
