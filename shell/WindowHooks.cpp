#include "shell/WindowHooks.h"

namespace vemo::shell {

WindowHooks& windowHooks()
{
    static WindowHooks hooks;
    return hooks;
}

} // namespace vemo::shell
