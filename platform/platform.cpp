#include "platform.h"

#include "system_calls.h"

const PlatformOps& platform_native()
{
    static const PlatformOps ops = platform_ops_of<SystemCalls>(SystemCalls::windows_paths);
    return ops;
}
