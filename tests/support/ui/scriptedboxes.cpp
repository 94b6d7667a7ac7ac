#include "support/ui/scriptedboxes.h"

#include "app/modal.h"

ScriptedBoxes::ScriptedBoxes() {
    setMsgBoxHandler([this](const MsgBoxRequest& request) {
        m_shown.append(request);
        if (!m_answers.isEmpty())
            return m_answers.takeFirst();
        ++m_unexpected;
        switch (request.buttons) {
        case MsgBoxButtons::OkCancel:
            return MsgBoxAnswer::Cancel;
        case MsgBoxButtons::YesNo:
            return MsgBoxAnswer::No;
        case MsgBoxButtons::Ok:
            break;
        }
        return MsgBoxAnswer::Ok;
    });
}

ScriptedBoxes::~ScriptedBoxes() {
    setMsgBoxHandler({});
}

void ScriptedBoxes::clear() {
    m_answers.clear();
    m_shown.clear();
    m_unexpected = 0;
}

ScriptedDialogs::ScriptedDialogs() {
    setModalHandler([this](QWidget* dialog) {
        ++m_shown;
        if (m_scripts.isEmpty()) {
            ++m_unexpected;
            return;
        }
        m_scripts.takeFirst()(dialog);
    });
}

ScriptedDialogs::~ScriptedDialogs() {
    setModalHandler({});
}
