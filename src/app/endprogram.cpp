#include "app/endprogram.h"

#include <cstdio>
#include <cstdlib>

namespace {
EndProgramHandler& handlerSlot() {
    static EndProgramHandler handler;
    return handler;
}
} // namespace

void EndProgram() {
    if (const EndProgramHandler& handler = handlerSlot()) {
        handler();
        return;
    }
    std::fflush(nullptr);
    std::_Exit(0);
}

void setEndProgramHandler(EndProgramHandler handler) {
    handlerSlot() = std::move(handler);
}
