#include "app/programstart.h"

#include "app/frmStart.h"
#include "app/singleinstance.h"

std::unique_ptr<frmStart> startProgram(SingleInstance& instance) {
    if (!instance.claim())
        return nullptr;
    auto start = std::make_unique<frmStart>(instance.programFolder());
    // Connected before loading: a later start may already knock while the lists load.
    QObject::connect(&instance, &SingleInstance::showRequested, start.get(),
                     &frmStart::mnuSysTrayConfg_Click);
    start->Form_Load();
    return start;
}
