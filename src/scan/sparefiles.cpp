#include "scan/sparefiles.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

SpareFiles::SpareFiles(int depth)
    : m_depth(depth) {}

SpareFiles::~SpareFiles() {
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
        dropReady();
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

int SpareFiles::take(const QString& folder) {
    std::unique_lock lock(m_mutex);
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
    if (folder != m_folder) {
        dropReady();
        m_folder = folder;
    }
    // What failed before (a folder missing then, no file handles left) may work now.
    m_cannot = false;
    if (m_ready.empty()) {
        // The next one is waited for rather than a file made here as well: two threads making
        // files in one folder only hold each other up.
        m_wake.notify_all();
        m_madeOne.wait(lock, [this] { return !m_ready.empty() || m_cannot; });
        if (m_ready.empty())
            return -1;
    }
    const int fd = m_ready.front();
    m_ready.pop_front();
    // The maker is woken once half of the files are taken and then makes them all again: one
    // wake-up of its thread for several files rather than one for each.
    if (int(m_ready.size()) <= m_depth / 2)
        m_wake.notify_all();
    return fd;
}

bool SpareFiles::giveName(int fd, const QString& path) {
#ifdef O_TMPFILE
    const QByteArray target = QFile::encodeName(path);
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, target.constData(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    // Without /proc, naming the descriptor itself needs a privilege most users lack.
    if (errno == EEXIST)
        return false;
    return ::linkat(fd, "", AT_FDCWD, target.constData(), AT_EMPTY_PATH) == 0;
#else
    Q_UNUSED(fd);
    Q_UNUSED(path);
    errno = ENOTSUP;
    return false;
#endif
}

void SpareFiles::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] {
            return m_stop || (!m_folder.isEmpty() && !m_cannot && int(m_ready.size()) < m_depth);
        });
        if (m_stop)
            return;
        const QString folder = m_folder;
        lock.unlock();
#ifdef O_TMPFILE
        // For its owner only, as stored mail is.
        const int fd =
            ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
#else
        const int fd = -1;
#endif
        lock.lock();
        if (folder != m_folder || m_stop) {
            if (fd >= 0)
                ::close(fd);
            continue;
        }
        if (fd < 0)
            m_cannot = true;
        else
            m_ready.push_back(fd);
        m_madeOne.notify_all();
    }
}

void SpareFiles::dropReady() {
    for (const int fd : m_ready)
        ::close(fd);
    m_ready.clear();
}
