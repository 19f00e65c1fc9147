#include "platform.h"

#include "system_calls.h"

// Each thread its own table, with its own state.
const PlatformOps& platform_native()
{
    thread_local NativeState state;
    thread_local const PlatformOps ops = platform_ops_with<SystemCalls>(&state, SystemCalls::windows_paths);
    return ops;
}
