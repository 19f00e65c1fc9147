#include "platform.h"

#include "system_calls.h"

namespace {
const PlatformOps* active_ops = nullptr;
}

const PlatformOps& platform()
{
    return active_ops != nullptr ? *active_ops : platform_native();
}

const PlatformOps& platform_native()
{
    static const PlatformOps ops = platform_ops_of<SystemCalls>(SystemCalls::windows_paths);
    return ops;
}

void platform_install(const PlatformOps* ops)
{
    active_ops = ops;
}
