#include "platform.h"

#include "system_calls.h"

namespace {
const PlatformOps* active_ops = nullptr;
CallPurpose active_purpose = PURPOSE_NONE;
}  // namespace

CallPurpose platform_purpose()
{
    return active_purpose;
}

PurposeScope::PurposeScope(CallPurpose purpose) : previous_(active_purpose)
{
    active_purpose = purpose;
}

PurposeScope::~PurposeScope()
{
    active_purpose = previous_;
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
