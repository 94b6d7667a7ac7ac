#include "support/environment.h"

ScopedEnvironment::ScopedEnvironment(const char* name, const QByteArray& value)
    : m_name(name)
    , m_saved(qgetenv(name))
    , m_wasSet(qEnvironmentVariableIsSet(name)) {
    qputenv(name, value);
}

ScopedEnvironment::~ScopedEnvironment() {
    if (m_wasSet)
        qputenv(m_name, m_saved);
    else
        qunsetenv(m_name);
}
