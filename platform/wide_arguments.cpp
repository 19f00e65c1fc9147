#include "wide_arguments.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

bool wide_arguments_open(WideArguments* arguments)
{
    arguments->count = 0;
    arguments->list = CommandLineToArgvW(GetCommandLineW(), &arguments->count);
    if (arguments->list == nullptr) {
        arguments->count = 0;
        return false;
    }
    return true;
}

void wide_arguments_close(WideArguments* arguments)
{
    if (arguments->list != nullptr) {
        LocalFree(arguments->list);
        arguments->list = nullptr;
    }
    arguments->count = 0;
}

int wide_to_utf8(const wchar_t* text, char* out, int out_size)
{
    return WideCharToMultiByte(CP_UTF8, 0, text, -1, out, out == nullptr ? 0 : out_size, nullptr,
                               nullptr);
}
