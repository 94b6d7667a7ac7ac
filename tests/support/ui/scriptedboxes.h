#pragma once

#include "app/msgbox.h"

#include <QList>

#include <functional>

class QWidget;

// Answers every message box from a queue and records what each box showed. A box that finds
// the queue empty is answered with OK, Cancel or No (the safe answer) and recorded as
// unexpected, so a test never hangs on a box and still notices one it did not plan for.
class ScriptedBoxes {
public:
    ScriptedBoxes();
    ~ScriptedBoxes();
    ScriptedBoxes(const ScriptedBoxes&) = delete;
    ScriptedBoxes& operator=(const ScriptedBoxes&) = delete;

    void answer(MsgBoxAnswer answer) { m_answers.append(answer); }
    const QList<MsgBoxRequest>& shown() const { return m_shown; }
    int unexpected() const { return m_unexpected; }
    void clear();

private:
    QList<MsgBoxAnswer> m_answers;
    QList<MsgBoxRequest> m_shown;
    int m_unexpected = 0;
};

// Drives every modal dialog through a queue of scripts, one per dialog shown. A dialog shown
// with the queue empty is left at once (and counted), so a test never hangs on it.
class ScriptedDialogs {
public:
    using Script = std::function<void(QWidget* dialog)>;
    ScriptedDialogs();
    ~ScriptedDialogs();
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

    void then(Script script) { m_scripts.append(std::move(script)); }
    int shownCount() const { return m_shown; }
    int unexpected() const { return m_unexpected; }

private:
    QList<Script> m_scripts;
    int m_shown = 0;
    int m_unexpected = 0;
};
