#include "support/filesizelimit.h"

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
    // Without this the write past the limit would end the test process instead of failing.
    m_signalBefore = std::signal(SIGXFSZ, SIG_IGN);
    if (getrlimit(RLIMIT_FSIZE, &m_before) != 0)
        return;
    rlimit limit = m_before;
    limit.rlim_cur = bytes;
    m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit() {
    if (m_active)
        setrlimit(RLIMIT_FSIZE, &m_before);
    std::signal(SIGXFSZ, m_signalBefore);
}
