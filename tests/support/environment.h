#pragma once

#include <QByteArray>

// Sets an environment variable for one scope and puts back what was there before (unset stays
// unset). Tests point XDG_CONFIG_HOME and XDG_DATA_HOME at temporary folders with it, so that
// they never touch the real home.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const QByteArray& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* m_name;
    QByteArray m_saved;
    bool m_wasSet;
};
