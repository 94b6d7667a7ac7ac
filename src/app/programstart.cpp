#include "app/programstart.h"

#include "app/frmStart.h"
#include "app/singleinstance.h"

std::unique_ptr<frmStart> startProgram(SingleInstance& instance, const StartOptions& options) {
    const auto request =
        options.hidden ? SingleInstance::Request::Nothing : SingleInstance::Request::Show;
    if (!instance.claim(request))
        return nullptr;
    auto start = std::make_unique<frmStart>(instance.programFolder());
    start->setStartInTray(options.hidden, options.trayWaitMs);
    // Connected before loading: a later start may already knock while the lists load.
    QObject::connect(&instance, &SingleInstance::showRequested, start.get(),
                     &frmStart::mnuSysTrayConfg_Click);
    start->Form_Load();
    return start;
}
